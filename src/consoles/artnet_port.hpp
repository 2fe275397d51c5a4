#ifndef VANTREL_CONSOLES_ARTNET_PORT_HPP
#define VANTREL_CONSOLES_ARTNET_PORT_HPP

#include <array>
#include <cstdint>
#include <vector>

#include "consoles/artnet_packet.hpp"
#include "consoles/console_source.hpp"

/// Art-Net drops a source after 10 s of silence.
constexpr std::int64_t kArtnetLossTimeoutUs = 10000000;

/// One Art-Net port-address: up to two sources by address, merged highest
/// level first; a third is refused while two are live.
class ArtnetPort {
 public:
  explicit ArtnetPort(int portAddress);

  enum class Take { Applied, Found, Refused };
  /// Takes an ArtDmx of this port-address. `change` is set on Found.
  Take take(const ArtDmx& dmx, std::uint32_t from, std::int64_t nowUs, SourceChange& change);
  /// Drops the sources silent for 10 s by `nowUs`, appending a Lost change for each.
  void expire(std::int64_t nowUs, std::vector<SourceChange>& changes);
  std::int64_t deadlineUs() const;

  int number() const { return portAddress_; }
  bool live() const { return !sources_.empty(); }
  const std::vector<ConsoleSource>& sources() const { return sources_; }
  const std::array<std::uint8_t, 512>& levels() const { return levels_; }
  int coveredSlots() const { return covered_; }

 private:
  SourceChange changeFor(SourceChange::Kind kind, const ConsoleSource& source) const;
  void merge();

  int portAddress_;
  std::vector<ConsoleSource> sources_;  // at most two
  std::array<std::uint8_t, 512> levels_{};
  int covered_ = 0;
};

#endif
