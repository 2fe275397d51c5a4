#include "consoles/console_channel.hpp"

#include "common/whole_number.hpp"

namespace {

bool readNumber(std::string_view text, int lo, int hi, int& value) {
  return parseWholeNumber(std::string(text).c_str(), lo, hi, value);
}

// Splits "WHERE/CHANNEL" and reads the channel.
bool splitChannel(std::string_view text, std::string_view form, std::string_view& where,
                  int& channel, std::string& problem) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) {
    problem = "expected " + std::string(form) + ", not \"" + std::string(text) + "\"";
    return false;
  }
  where = text.substr(0, slash);
  if (!readNumber(text.substr(slash + 1), 1, 512, channel)) {
    problem = "the channel must be a whole number from 1 to 512, not \"" +
              std::string(text.substr(slash + 1)) + "\"";
    return false;
  }
  return true;
}

}  // namespace

bool parseSacnChannel(std::string_view text, ConsoleChannel& result, std::string& problem) {
  std::string_view where;
  int channel = 0;
  if (!splitChannel(text, "UNIVERSE/CHANNEL", where, channel, problem))
    return false;
  int universe = 0;
  if (!readNumber(where, 1, 63999, universe)) {
    problem = "the universe must be a whole number from 1 to 63999, not \"" + std::string(where) + "\"";
    return false;
  }
  result = ConsoleChannel{universe, channel};
  return true;
}

bool parseArtnetChannel(std::string_view text, ConsoleChannel& result, std::string& problem) {
  std::string_view where;
  int channel = 0;
  if (!splitChannel(text, "NET:SUBNET:UNIVERSE/CHANNEL or PORTADDRESS/CHANNEL", where, channel,
                    problem))
    return false;
  const std::size_t first = where.find(':');
  int portAddress = 0;
  if (first == std::string_view::npos) {
    if (!readNumber(where, 0, 32767, portAddress)) {
      problem = "the port-address must be a whole number from 0 to 32767, not \"" +
                std::string(where) + "\"";
      return false;
    }
  } else {
    const std::size_t second = where.find(':', first + 1);
    int net = 0, subnet = 0, universe = 0;
    if (second == std::string_view::npos || !readNumber(where.substr(0, first), 0, 127, net) ||
        !readNumber(where.substr(first + 1, second - first - 1), 0, 15, subnet) ||
        !readNumber(where.substr(second + 1), 0, 15, universe)) {
      problem = "expected NET:SUBNET:UNIVERSE with a net of 0 to 127 and a subnet and universe of "
                "0 to 15, not \"" + std::string(where) + "\"";
      return false;
    }
    portAddress = net << 8 | subnet << 4 | universe;
  }
  result = ConsoleChannel{portAddress, channel};
  return true;
}
