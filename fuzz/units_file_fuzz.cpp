// Any text as a units file: no crash, no hang, and either a clean file whose
// every unit, group and scene holds only what vantrel can send, or problems
// that each name the file. What passes here reaches the units on the wire.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "common/duration.hpp"
#include "mqtt/mqtt_settings.hpp"
#include "units/level.hpp"
#include "units/units_file.hpp"
#include "web/web_settings.hpp"

namespace {

void require(bool condition) {
  if (!condition)
    std::abort();
}

bool validName(const std::string& name) {
  if (name.empty() || name.size() > 32 || name[0] == '-' || name[0] == '_')
    return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
      return false;
  }
  return true;
}

void checkFile(const UnitsFile& file) {
  const int units = static_cast<int>(file.units.size());
  require(units > 0);
  for (int i = 0; i < units; ++i) {
    const Unit& unit = file.units[static_cast<std::size_t>(i)];
    require(validName(unit.name) && unit.name != "all");
    require(file.findUnit(unit.name) == i && file.findGroup(unit.name) < 0);
    require(isValidAddress(unit.address));
    require(unit.port >= 1 && (unit.type == 1 || unit.type == 2));
    require(unit.onStart.level >= 0 && unit.onStart.level <= 255);
    require(unit.refreshUs == 0 || (unit.refreshUs >= 1000000 && unit.refreshUs <= kMaxDurationUs));
  }
  require(file.restoreWithinMs >= 1000 && file.restoreWithinMs <= std::int64_t{30} * 86400 * 1000);
  require(file.startScene >= -1 && file.startScene < static_cast<int>(file.scenes.size()));
  for (const Group& group : file.groups) {
    require(validName(group.name) && group.name != "all" && !group.members.empty());
    std::set<int> seen;
    for (int member : group.members)
      require(member >= 0 && member < units && seen.insert(member).second);
  }
  for (const Scene& scene : file.scenes) {
    require(validName(scene.name) && !scene.settings.empty());
    int last = -1;
    for (const auto& [unit, level] : scene.levels) {
      require(unit > last && unit < units && level >= 0 && level <= 255);
      last = unit;
    }
    for (const SceneSetting& setting : scene.settings) {
      int written = -1;
      require(parseLevel(setting.written.c_str(), written) && written == setting.level);
      std::vector<int> reached;
      require(file.addTarget(setting.target, reached) && !reached.empty());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  UnitsFile file;
  std::vector<std::string> problems;
  // The front ends' tables too, read as vantreld reads them.
  const auto readFrontEndTables = [](const UnitsFile& read, FileProblems& found) {
    MqttSettings mqtt;
    WebSettings web;
    if (const SettingEntry* table = read.frontEndTable("mqtt"))
      readMqttSettings(*table, mqtt, found);
    if (const SettingEntry* table = read.frontEndTable("web"))
      readWebSettings(*table, web, found);
  };
  const bool read = parseUnitsFile(text, "fuzz.toml", file, problems, readFrontEndTables);
  require(read == problems.empty());
  if (read)
    checkFile(file);
  for (const std::string& problem : problems)
    require(problem.rfind("fuzz.toml:", 0) == 0 && problem.find('\n') == std::string::npos);

  // The same bytes as a level on a command line.
  const std::string argument(text.substr(0, text.find('\0')));
  int level = -1;
  if (parseLevel(argument.c_str(), level))
    require(level >= 0 && level <= 255);
  return 0;
}
