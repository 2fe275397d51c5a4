#include "units/units_file.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

// toml++ is used header-only, here alone, so that its compile time and its static initialisers
// stay in this file. We throw no exceptions: parse() hands back a parse_result instead.
#define TOML_EXCEPTIONS 0
#define TOML_ENABLE_FORMATTERS 0
#define TOML_ENABLE_WINDOWS_COMPAT 0
#include <toml++/toml.h>

#include "common/files.hpp"
#include "units/level.hpp"

namespace {

const char kEveryUnit[] = "all";

struct Problem {
  toml::source_position at;  ///< line 0: about the whole file
  std::string text;
};

struct Entry {
  const toml::key* key;
  const toml::node* node;
};

// toml++ keeps a table's keys sorted; people expect the order they wrote.
std::vector<Entry> inFileOrder(const toml::table& table) {
  std::vector<Entry> entries;
  for (auto&& [key, node] : table)
    entries.push_back({&key, &node});
  std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const toml::source_position x = a.key->source().begin;
    const toml::source_position y = b.key->source().begin;
    return x.line != y.line ? x.line < y.line : x.column < y.column;
  });
  return entries;
}

// A name as messages show it, on one line whatever it holds.
std::string quoted(std::string_view name) {
  std::string text = "'";
  for (const char c : name)
    text += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  return text + "'";
}

bool isNameCharacter(char c, bool first) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || (!first && (c == '-' || c == '_'));
}

bool isValidName(std::string_view name) {
  if (name.empty() || name.size() > 32)
    return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (!isNameCharacter(name[i], i == 0))
      return false;
  return true;
}

// A level as a TOML integer 0..255 or a string "N%".
bool readLevel(const toml::node& node, int& level, std::string& written) {
  if (const auto* number = node.as_integer()) {
    if (number->get() < 0 || number->get() > 255)
      return false;
    level = static_cast<int>(number->get());
    written = std::to_string(level);
    return true;
  }
  const auto* text = node.as_string();
  if (text == nullptr || text->get().empty() || text->get().back() != '%' ||
      std::strlen(text->get().c_str()) != text->get().size() ||
      !parseLevel(text->get().c_str(), level))
    return false;
  written = text->get();
  return true;
}

// Reads the parsed document into a UnitsFile, noting every problem where it is.
class Reader {
 public:
  void read(const toml::table& root);
  UnitsFile& file() { return file_; }
  std::vector<Problem>& problems() { return problems_; }

 private:
  void readUnits(const toml::table& units);
  void readUnit(const Entry& entry, Unit& unit);
  void readGroups(const toml::table& groups);
  void readScenes(const toml::table& scenes);
  void readScene(const toml::table& settings, Scene& scene);

  void report(const toml::source_region& at, std::string text) {
    problems_.push_back({at.begin, std::move(text)});
  }
  void checkName(const char* kind, const toml::key& key);

  // The top-level tables, read in this order, as each may name what those before it hold.
  struct Section {
    const char* name;
    void (Reader::*read)(const toml::table&);
  };
  static constexpr Section kSections[] = {
      {"units", &Reader::readUnits},
      {"groups", &Reader::readGroups},
      {"scenes", &Reader::readScenes},
  };

  UnitsFile file_;
  std::vector<Problem> problems_;
};

void Reader::read(const toml::table& root) {
  for (const Entry& entry : inFileOrder(root)) {
    const bool known = std::any_of(std::begin(kSections), std::end(kSections),
                                   [&](const Section& s) { return entry.key->str() == s.name; });
    if (!known)
      report(entry.key->source(), (entry.node->is_table() ? "unknown table " : "unknown key ") +
                                      quoted(entry.key->str()));
  }
  for (const Section& section : kSections) {
    const toml::node* node = root.get(section.name);
    if (node == nullptr)
      continue;
    if (const toml::table* table = node->as_table())
      (this->*section.read)(*table);
    else
      report(node->source(), quoted(section.name) + " must be a table");
  }
  if (file_.units.empty())
    problems_.push_back({{}, "defines no unit"});
}

void Reader::checkName(const char* kind, const toml::key& key) {
  if (!isValidName(key.str()))
    report(key.source(), std::string("invalid ") + kind + " name " + quoted(key.str()) +
                             ": a name is 1 to 32 characters of a-z, 0-9, - and _, starting with "
                             "a letter or digit");
  else if (key.str() == kEveryUnit && std::strcmp(kind, "scene") != 0)
    report(key.source(), std::string(kind) + " name 'all' is reserved: it means every unit");
}

void Reader::readUnits(const toml::table& units) {
  for (const Entry& entry : inFileOrder(units)) {
    checkName("unit", *entry.key);
    // Kept even when wrong, so that the groups and scenes that name it are not wrong too.
    file_.units.emplace_back();
    file_.units.back().name = std::string(entry.key->str());
    readUnit(entry, file_.units.back());
  }
}

void Reader::readUnit(const Entry& entry, Unit& unit) {
  const std::string what = "unit " + quoted(unit.name);
  const toml::table* fields = entry.node->as_table();
  if (fields == nullptr) {
    report(entry.node->source(), what + " must be a table");
    return;
  }
  for (const Entry& field : inFileOrder(*fields)) {
    const std::string_view key = field.key->str();
    const toml::node& value = *field.node;
    if (key == "address") {
      const auto* text = value.as_string();
      if (text != nullptr && isValidAddress(text->get()))
        unit.address = text->get();
      else
        report(value.source(), what + ": address must be a non-empty string without blanks or "
                                      "control characters");
    } else if (key == "port") {
      const auto* number = value.as_integer();
      if (number != nullptr && number->get() >= 1 && number->get() <= 65535)
        unit.port = static_cast<std::uint16_t>(number->get());
      else
        report(value.source(), what + ": port must be a whole number from 1 to 65535");
    } else if (key == "type") {
      const auto* number = value.as_integer();
      if (number != nullptr && (number->get() == 1 || number->get() == 2))
        unit.type = static_cast<int>(number->get());
      else
        report(value.source(), what + ": type must be 1 or 2");
    } else {
      report(field.key->source(), "unknown key " + quoted(key) + " in " + what);
    }
  }
  for (const char* required : {"address", "port", "type"})
    if (!fields->contains(required))
      report(entry.key->source(), what + " has no " + required);
}

void Reader::readGroups(const toml::table& groups) {
  for (const Entry& entry : inFileOrder(groups)) {
    checkName("group", *entry.key);
    const std::string name(entry.key->str());
    const std::string what = "group " + quoted(name);
    if (file_.findUnit(name) >= 0)
      report(entry.key->source(), what + " has the name of a unit");
    file_.groups.push_back({name, {}});
    std::vector<int>& members = file_.groups.back().members;
    const std::string shape = what + " must be a non-empty array of unit names";
    const toml::array* names = entry.node->as_array();
    if (names == nullptr || names->empty()) {
      report(entry.node->source(), shape);
      continue;
    }
    for (const toml::node& element : *names) {
      const auto* member = element.as_string();
      if (member == nullptr) {
        report(element.source(), shape);
        continue;
      }
      const int unit = file_.findUnit(member->get());
      if (unit < 0)
        report(element.source(), what + " names unknown unit " + quoted(member->get()));
      else if (std::find(members.begin(), members.end(), unit) != members.end())
        report(element.source(), what + " names unit " + quoted(member->get()) + " twice");
      else
        members.push_back(unit);
    }
  }
}

void Reader::readScenes(const toml::table& scenes) {
  for (const Entry& entry : inFileOrder(scenes)) {
    checkName("scene", *entry.key);
    file_.scenes.emplace_back();
    Scene& scene = file_.scenes.back();
    scene.name = std::string(entry.key->str());
    if (const toml::table* settings = entry.node->as_table()) {
      if (settings->empty())
        report(entry.key->source(), "scene " + quoted(scene.name) + " sets no level");
      readScene(*settings, scene);
    } else {
      report(entry.node->source(), "scene " + quoted(scene.name) + " must be a table");
    }
  }
}

void Reader::readScene(const toml::table& settings, Scene& scene) {
  const std::string what = "scene " + quoted(scene.name);
  std::vector<const toml::node*> values;  // beside scene.settings, for where they are
  for (const Entry& entry : inFileOrder(settings)) {
    SceneSetting setting;
    setting.target = std::string(entry.key->str());
    if (setting.target != kEveryUnit && file_.findUnit(setting.target) < 0 &&
        file_.findGroup(setting.target) < 0)
      report(entry.key->source(), what + " names unknown unit or group " + quoted(setting.target));
    if (!readLevel(*entry.node, setting.level, setting.written))
      report(entry.node->source(), what + ": level for " + quoted(setting.target) +
                                       " must be 0 to 255 or \"0%\" to \"100%\"");
    scene.settings.push_back(std::move(setting));
    values.push_back(entry.node);
  }

  // A unit named directly overrides its groups, which override "all"; two groups must agree.
  enum Source { None, Everyone, Group, Direct };
  struct Choice {
    Source source = None;
    int level = 0;
    const SceneSetting* setting = nullptr;
  };
  std::vector<Choice> choices(file_.units.size());
  for (const SceneSetting& setting : scene.settings) {
    const int unit = file_.findUnit(setting.target);
    if (unit >= 0)
      choices[unit] = {Direct, setting.level, &setting};
  }
  for (const SceneSetting& setting : scene.settings)
    if (setting.target == kEveryUnit)
      for (Choice& choice : choices)
        if (choice.source == None)
          choice = {Everyone, setting.level, &setting};
  for (std::size_t i = 0; i < scene.settings.size(); ++i) {
    const SceneSetting& setting = scene.settings[i];
    const int group = file_.findGroup(setting.target);
    if (group < 0 || file_.findUnit(setting.target) >= 0)
      continue;
    for (const int unit : file_.groups[group].members) {
      Choice& choice = choices[unit];
      if (choice.source < Group)
        choice = {Group, setting.level, &setting};
      else if (choice.source == Group && choice.level != setting.level)
        report(values[i]->source(), what + ": unit " + quoted(file_.units[unit].name) + " gets " +
                                        std::to_string(choice.level) + " from group " +
                                        quoted(choice.setting->target) + " and " +
                                        std::to_string(setting.level) + " from group " +
                                        quoted(setting.target));
    }
  }
  for (std::size_t unit = 0; unit < choices.size(); ++unit)
    if (choices[unit].source != None)
      scene.levels.emplace_back(static_cast<int>(unit), choices[unit].level);
}

}  // namespace

int UnitsFile::findUnit(std::string_view name) const {
  for (std::size_t i = 0; i < units.size(); ++i)
    if (units[i].name == name)
      return static_cast<int>(i);
  return -1;
}

int UnitsFile::findGroup(std::string_view name) const {
  for (std::size_t i = 0; i < groups.size(); ++i)
    if (groups[i].name == name)
      return static_cast<int>(i);
  return -1;
}

int UnitsFile::findScene(std::string_view name) const {
  for (std::size_t i = 0; i < scenes.size(); ++i)
    if (scenes[i].name == name)
      return static_cast<int>(i);
  return -1;
}

bool UnitsFile::addTarget(std::string_view target, std::vector<int>& chosen) const {
  const int unit = findUnit(target);
  const int group = findGroup(target);
  if (target == kEveryUnit) {
    for (std::size_t i = 0; i < units.size(); ++i)
      chosen.push_back(static_cast<int>(i));
  } else if (unit >= 0) {
    chosen.push_back(unit);
  } else if (group >= 0) {
    chosen.insert(chosen.end(), groups[group].members.begin(), groups[group].members.end());
  } else {
    return false;
  }
  std::sort(chosen.begin(), chosen.end());
  chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
  return true;
}

bool isValidAddress(std::string_view address) {
  return !address.empty() && std::none_of(address.begin(), address.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
  });
}

bool parseUnitsFile(std::string_view text, const std::string& path, UnitsFile& file,
                    std::vector<std::string>& problems) {
  Reader reader;
  std::vector<Problem>& found = reader.problems();
  const toml::parse_result parsed = toml::parse(text, std::string_view(path));
  if (parsed)
    reader.read(parsed.table());
  else
    found.push_back({parsed.error().source().begin, std::string(parsed.error().description())});
  if (found.empty()) {
    file = std::move(reader.file());
    file.path = path;
    return true;
  }
  // What concerns the whole file comes last.
  std::stable_sort(found.begin(), found.end(), [](const Problem& a, const Problem& b) {
    const auto line = [](const Problem& p) { return p.at.line == 0 ? UINT_MAX : p.at.line; };
    return line(a) != line(b) ? line(a) < line(b) : a.at.column < b.at.column;
  });
  for (const Problem& problem : found)
    problems.push_back(problem.at.line == 0
                           ? path + ": " + problem.text
                           : path + ":" + std::to_string(problem.at.line) + ":" +
                                 std::to_string(problem.at.column) + ": " + problem.text);
  return false;
}

bool loadUnitsFile(const std::string& path, UnitsFile& file, std::vector<std::string>& problems) {
  std::string text;
  FileError error;
  if (readWholeFile(path, text, error) != ReadOutcome::Read) {
    problems.push_back(describe(error));
    return false;
  }
  return parseUnitsFile(text, path, file, problems);
}

bool findUnitsFile(const char* given, std::string& path, std::string& problem) {
  if (given != nullptr) {
    path = given;
    return true;
  }
  const std::vector<std::string> places = unitsFilePlaces();
  for (const std::string& place : places) {
    if (fileExists(place)) {
      path = place;
      return true;
    }
  }
  problem = "no units file: looked for ";
  for (std::size_t i = 0; i < places.size(); ++i)
    problem += (i == 0 ? "" : i + 1 == places.size() ? " and " : ", ") + places[i];
  return false;
}
