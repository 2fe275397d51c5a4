#ifndef VANTREL_COMMON_TEXT_LINES_HPP
#define VANTREL_COMMON_TEXT_LINES_HPP

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// What the tools' own line files (the remembered levels, the saved
/// scenes) are made of.

/// Each line of `text` with its number from 1, without its LF or CR LF,
/// until `take` returns false.
template <typename Take>
void forEachLine(const std::string& text, Take take) {
  std::size_t number = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    std::string line = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!take(++number, line))
      return;
  }
}

/// A field of a line split at blanks and tabs, and its column from 1.
struct TextField {
  std::string text;
  std::size_t column = 1;
};
std::vector<TextField> fieldsOf(const std::string& line);

/// `text` without the blanks, tabs and line ends around it.
std::string_view trimmed(std::string_view text);

#endif
