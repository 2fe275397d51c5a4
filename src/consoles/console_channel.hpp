#ifndef VANTREL_CONSOLES_CONSOLE_CHANNEL_HPP
#define VANTREL_CONSOLES_CONSOLE_CHANNEL_HPP

#include <string>
#include <string_view>

/// The console channel that drives a unit: a universe (sACN) or a 15-bit
/// port-address (Art-Net), and a channel 1..512 in it.
struct ConsoleChannel {
  int universe = 0;  ///< sACN 1..63999, Art-Net port-address 0..32767
  int channel = 0;   ///< 1..512
};

/// Reads a unit's `sacn` key: "UNIVERSE/CHANNEL", universe 1..63999 and
/// channel 1..512. Returns false with `problem` (one line, no file or key
/// named) for anything else, leaving `result` alone.
bool parseSacnChannel(std::string_view text, ConsoleChannel& result, std::string& problem);

/// Reads a unit's `artnet` key: "NET:SUBNET:UNIVERSE/CHANNEL" (0..127,
/// 0..15, 0..15) or a plain port-address "PORTADDRESS/CHANNEL" (0..32767),
/// channel 1..512. Returns false with `problem` for anything else.
bool parseArtnetChannel(std::string_view text, ConsoleChannel& result, std::string& problem);

#endif
