#include "mqtt/mqtt_settings.hpp"

#include "common/duration.hpp"
#include "units/units_file.hpp"

void readMqttSettings(const SettingEntry& table, MqttSettings& mqtt, FileProblems& problems) {
  for (const SettingEntry& field : table.value.entries) {
    const std::string& key = field.key;
    const FilePlace at = field.value.at;
    std::string text;
    if (key == "port") {
      readPort(field, "mqtt", mqtt.port, problems);
    } else if (key == "host" || key == "username" || key == "password_file" ||
               key == "tls_ca_file" || key == "topic" || key == "discovery_prefix" ||
               key == "transition") {
      // A bare number has no unit: seconds and milliseconds are both likely.
      if (key == "transition" && (field.value.kind == SettingValue::Kind::Integer ||
                                  field.value.kind == SettingValue::Kind::Decimal)) {
        problems.add(field.value.at, "[mqtt] transition must be a string with its unit, such as \"5s\"");
        continue;
      }
      if (!readOneLine(field, "mqtt", text, problems))
        continue;
      if (key == "host") {
        if (isValidAddress(text))
          mqtt.host = text;
        else
          problems.add(at, "[mqtt] host must be a non-empty name or address without blanks");
      } else if (key == "topic") {
        if (!text.empty() && text.find_first_of("+#") == std::string::npos)
          mqtt.topic = text;
        else
          problems.add(at, "[mqtt] topic must be non-empty, without + or #");
      } else if (key == "discovery_prefix") {
        if (text.find_first_of("+#") == std::string::npos)
          mqtt.discoveryPrefix = text;
        else
          problems.add(at, "[mqtt] discovery_prefix must be without + or #");
      } else if (key == "transition") {
        if (!parseDuration(text.c_str(), mqtt.transitionUs))
          problems.add(at, "[mqtt] transition must be a duration such as \"500ms\" or \"1.5s\", "
                           "at most 24 hours");
      } else if (text.empty()) {
        problems.add(at, "[mqtt] " + key + " must not be empty");
      } else {
        (key == "username" ? mqtt.username : key == "password_file" ? mqtt.passwordFile
                                                                     : mqtt.tlsCaFile) = text;
      }
    } else {
      problems.unknownKey(field, "[mqtt]");
    }
  }
}
