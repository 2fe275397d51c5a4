#include "consoles/console_settings_reading.hpp"

#include "common/duration.hpp"
#include "common/ipv4_address.hpp"

namespace {

using Kind = SettingValue::Kind;

// The loss time-out's bounds: a tenth of a second, below which a console's
// usual 1 s keep-alive would be lost, to a minute.
constexpr std::int64_t kShortestLossUs = 100000;
constexpr std::int64_t kLongestLossUs = 60000000;

bool readAddress(const SettingValue& value, std::uint32_t& address) {
  return value.kind == Kind::Text && parseIPv4(value.text.c_str(), address);
}

void readInput(const SettingEntry& table, const char* name, const UnitsFile& file,
               ConsoleInputSettings& input, FileProblems& problems) {
  const std::string where = std::string("[") + name + "]";
  if (table.value.kind != Kind::Table) {
    problems.add(table.value.at, quotedName(name) + " must be a table");
    return;
  }
  for (const SettingEntry& field : table.value.entries) {
    const std::string& key = field.key;
    const SettingValue& value = field.value;
    if (key == "listen") {
      if (!readAddress(value, input.listen))
        problems.add(value.at, where + " listen must be an IPv4 address of this machine, such as "
                                       "\"192.168.1.10\"");
    } else if (key == "sources") {
      bool good = value.kind == Kind::Array;
      for (const SettingEntry& item : value.entries) {
        std::uint32_t address = 0;
        if (readAddress(item.value, address))
          input.sources.push_back(address);
        else
          good = false;
      }
      if (!good)
        problems.add(value.at, where + " sources must be a list of IPv4 addresses, such as "
                                       "[\"192.168.1.20\"]");
    } else if (key == "on_loss") {
      const int scene = value.kind == Kind::Text ? file.findScene(value.text) : -1;
      if (value.kind == Kind::Text && value.text == "hold") {
        input.onLoss = ConsoleInputSettings::OnLoss::Hold;
      } else if (value.kind == Kind::Text && value.text == "off") {
        input.onLoss = ConsoleInputSettings::OnLoss::Off;
      } else if (scene >= 0) {
        input.onLoss = ConsoleInputSettings::OnLoss::Scene;
        input.scene = scene;
      } else {
        problems.add(value.at, where + " on_loss must be \"hold\", \"off\" or the name of a scene");
      }
    } else if (key == "curve") {
      if (value.kind == Kind::Text && (value.text == "unit" || value.text == "raw"))
        input.raw = value.text == "raw";
      else
        problems.add(value.at, where + " curve must be \"unit\" (a channel's value is a level, through "
                                       "the unit's curve) or \"raw\" (it is the byte sent)");
    } else if (key == "loss_timeout" && std::string(name) == "sacn") {
      std::int64_t us = 0;
      if (value.kind == Kind::Text && parseDuration(value.text.c_str(), us) && us >= kShortestLossUs &&
          us <= kLongestLossUs)
        input.lossTimeoutUs = us;
      else
        problems.add(value.at, where + " loss_timeout must be a duration from \"100ms\" to \"60s\", "
                                       "such as \"2.5s\"");
    } else {
      problems.unknownKey(field, where);
    }
  }
}

}  // namespace

bool readConsoleSettings(const UnitsFile& file, ConsoleSettings& settings, FileProblems& problems) {
  const SettingEntry* tables[] = {file.frontEndTable("sacn"), file.frontEndTable("artnet")};
  std::optional<ConsoleInputSettings>* inputs[] = {&settings.sacn, &settings.artnet};
  std::vector<std::optional<ConsoleChannel>>* channels[] = {&settings.sacnChannels,
                                                            &settings.artnetChannels};
  const char* names[] = {"sacn", "artnet"};
  bool used[] = {false, false};
  for (int i = 0; i < 2; ++i) {
    channels[i]->assign(file.units.size(), std::nullopt);
    if (tables[i] != nullptr)
      readInput(*tables[i], names[i], file, inputs[i]->emplace(), problems);
  }
  for (std::size_t unit = 0; unit < file.units.size(); ++unit) {
    for (const SettingEntry& key : file.units[unit].frontEndKeys) {
      const int i = key.key == "sacn" ? 0 : key.key == "artnet" ? 1 : -1;
      if (i < 0)
        continue;
      const std::string what = "unit " + quotedName(file.units[unit].name) + ": " + key.key;
      ConsoleChannel channel;
      std::string problem;
      if (key.value.kind != Kind::Text)
        problems.add(key.value.at, what + " must be a string such as \"" +
                                       (i == 0 ? "1/5" : "0:0:1/5") + "\"");
      else if (!(i == 0 ? parseSacnChannel(key.value.text, channel, problem)
                        : parseArtnetChannel(key.value.text, channel, problem)))
        problems.add(key.value.at, what + ": " + problem);
      else if (tables[i] == nullptr)
        problems.add(key.keyAt, what + " needs the [" + names[i] + "] table to turn the input on");
      else
        (*channels[i])[unit] = channel;
      used[i] = true;
    }
  }
  for (int i = 0; i < 2; ++i)
    if (tables[i] != nullptr && !used[i])
      problems.add(tables[i]->value.at, std::string("[") + names[i] + "] drives no unit: give a unit a " +
                                            names[i] + " key, such as " +
                                            (i == 0 ? "sacn = \"1/5\"" : "artnet = \"0:0:1/5\""));
  return settings.sacn.has_value() || settings.artnet.has_value();
}
