#include "common/text_lines.hpp"

std::vector<TextField> fieldsOf(const std::string& line) {
  std::vector<TextField> found;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string::npos) {
    const std::size_t end = line.find_first_of(" \t", at);
    found.push_back({line.substr(at, end - at), at + 1});
    at = end;
  }
  return found;
}

std::string_view trimmed(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string_view::npos)
    return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}
