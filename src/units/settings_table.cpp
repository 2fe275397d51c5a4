#include "units/settings_table.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>

#include "common/one_line.hpp"

void FileProblems::add(FilePlace at, std::string text) { problems_.push_back({at, std::move(text)}); }

void FileProblems::unknownKey(const SettingEntry& entry, const std::string& where) {
  add(entry.keyAt, "unknown key " + quotedName(entry.key) + " in " + where);
}

std::vector<std::string> FileProblems::lines(const std::string& path) const {
  std::vector<Problem> sorted = problems_;
  // What concerns the whole file comes last.
  std::stable_sort(sorted.begin(), sorted.end(), [](const Problem& a, const Problem& b) {
    const auto line = [](const Problem& p) { return p.at.line == 0 ? UINT_MAX : p.at.line; };
    return line(a) != line(b) ? line(a) < line(b) : a.at.column < b.at.column;
  });
  std::vector<std::string> lines;
  for (const Problem& problem : sorted)
    lines.push_back(problem.at.line == 0
                        ? path + ": " + oneLine(problem.text)
                        : path + ":" + std::to_string(problem.at.line) + ":" +
                              std::to_string(problem.at.column) + ": " + oneLine(problem.text));
  return lines;
}

std::string quotedName(std::string_view name) {
  std::string text = "'";
  for (const char c : name)
    text += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  return text + "'";
}

bool readOneLine(const SettingEntry& entry, const char* table, std::string& text,
                 FileProblems& problems) {
  const SettingValue& value = entry.value;
  if (value.kind == SettingValue::Kind::Text &&
      value.text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos) {
    text = value.text;
    return true;
  }
  problems.add(value.at, std::string("[") + table + "] " + entry.key + " must be a string on one line");
  return false;
}

bool readPort(const SettingEntry& entry, const char* table, std::uint16_t& port,
              FileProblems& problems) {
  const SettingValue& value = entry.value;
  if (value.kind == SettingValue::Kind::Integer && value.integer >= 1 && value.integer <= 65535) {
    port = static_cast<std::uint16_t>(value.integer);
    return true;
  }
  problems.add(value.at, std::string("[") + table + "] " + entry.key +
                             " must be a whole number from 1 to 65535");
  return false;
}
