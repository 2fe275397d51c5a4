#ifndef VANTREL_CONSOLES_CONSOLE_SETTINGS_HPP
#define VANTREL_CONSOLES_CONSOLE_SETTINGS_HPP

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "consoles/console_channel.hpp"
#include "consoles/sacn_universe.hpp"

/// The [sacn] or [artnet] table of the units file.
struct ConsoleInputSettings {
  std::uint32_t listen = 0;              ///< an address of this machine, 0 for all
  std::vector<std::uint32_t> sources;    ///< the senders to take, all when empty
  enum class OnLoss { Hold, Off, Scene };
  OnLoss onLoss = OnLoss::Hold;          ///< when a universe's last source is lost
  int scene = -1;                        ///< OnLoss::Scene: the scene's index
  std::int64_t lossTimeoutUs = kSacnLossTimeoutUs;  ///< sACN only
  /// `curve = "raw"`: a channel's value is the byte sent, for consoles that
  /// shape the output themselves; otherwise a level, through the unit's curve.
  bool raw = false;
};

/// The console inputs: their tables, and the channel each unit follows.
struct ConsoleSettings {
  std::optional<ConsoleInputSettings> sacn;
  std::optional<ConsoleInputSettings> artnet;
  std::vector<std::optional<ConsoleChannel>> sacnChannels;    ///< by unit index
  std::vector<std::optional<ConsoleChannel>> artnetChannels;  ///< by unit index
};

#endif
