#ifndef VANTREL_UNITS_SETTINGS_TABLE_HPP
#define VANTREL_UNITS_SETTINGS_TABLE_HPP

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// What the units file hands the part of a program that owns a table or a
/// key of it (a front end): the values as written, without TOML, and a
/// list of problems reported where they are, as the rest of the file's.

/// A place in the units file, from 1; line 0 is the whole file.
struct FilePlace {
  std::uint32_t line = 0;
  std::uint32_t column = 0;
};

struct SettingEntry;

/// A value as written.
struct SettingValue {
  enum class Kind { Text, Integer, Boolean, Decimal, Array, Table, Other };
  Kind kind = Kind::Other;  ///< Other: a date or a time
  FilePlace at;             ///< a table's: its header
  std::string text;
  std::int64_t integer = 0;
  bool boolean = false;
  double decimal = 0;
  std::vector<SettingEntry> entries;  ///< an array's (keys empty) or a table's, in file order
};

/// KEY = VALUE, or a table by its name.
struct SettingEntry {
  std::string key;
  FilePlace keyAt;
  SettingValue value;
};

/// The problems of one units file, each at its place.
class FileProblems {
 public:
  void add(FilePlace at, std::string text);
  /// "unknown key 'KEY' in WHERE", at the key.
  void unknownKey(const SettingEntry& entry, const std::string& where);
  bool empty() const { return problems_.empty(); }
  /// "PATH:LINE:COLUMN: PROBLEM" or "PATH: PROBLEM", one line each, in
  /// file order, the whole file's last.
  std::vector<std::string> lines(const std::string& path) const;

 private:
  struct Problem {
    FilePlace at;
    std::string text;
  };
  std::vector<Problem> problems_;
};

/// A name as messages show it, in quotes, on one line whatever it holds.
std::string quotedName(std::string_view name);

/// Reads a string without NUL or line ends (a name of a file or a host, a
/// topic, a title) into `text`; else reports "[TABLE] KEY must be a string
/// on one line".
bool readOneLine(const SettingEntry& entry, const char* table, std::string& text,
                 FileProblems& problems);

/// Reads a port, 1..65535; else reports "[TABLE] KEY must be a whole number
/// from 1 to 65535".
bool readPort(const SettingEntry& entry, const char* table, std::uint16_t& port,
              FileProblems& problems);

#endif
