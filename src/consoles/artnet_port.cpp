#include "consoles/artnet_port.hpp"

#include <algorithm>
#include <climits>

ArtnetPort::ArtnetPort(int portAddress) : portAddress_(portAddress) {}

ArtnetPort::Take ArtnetPort::take(const ArtDmx& dmx, std::uint32_t from, std::int64_t nowUs,
                                  SourceChange& change) {
  auto source = std::find_if(sources_.begin(), sources_.end(),
                             [from](const ConsoleSource& s) { return s.address == from; });
  const bool found = source == sources_.end();
  if (found) {
    if (sources_.size() == 2)
      return Take::Refused;
    sources_.emplace_back();
    source = sources_.end() - 1;
    source->address = from;
  }
  source->sequence = dmx.sequence;
  source->lastUs = nowUs;
  std::copy(dmx.slots, dmx.slots + dmx.slotCount, source->slots.begin());
  std::fill(source->slots.begin() + dmx.slotCount, source->slots.end(), 0);
  source->slotCount = dmx.slotCount;
  merge();
  if (!found)
    return Take::Applied;
  change = changeFor(SourceChange::Kind::Found, *source);
  return Take::Found;
}

void ArtnetPort::expire(std::int64_t nowUs, std::vector<SourceChange>& changes) {
  bool any = false;
  for (std::size_t i = 0; i < sources_.size();) {
    if (nowUs - sources_[i].lastUs < kArtnetLossTimeoutUs) {
      ++i;
      continue;
    }
    changes.push_back(changeFor(SourceChange::Kind::Lost, sources_[i]));
    sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(i));
    any = true;
  }
  if (!any)
    return;
  changes.back().lastOfUniverse = sources_.empty();
  merge();
}

std::int64_t ArtnetPort::deadlineUs() const {
  std::int64_t deadline = INT64_MAX;
  for (const ConsoleSource& source : sources_)
    deadline = std::min(deadline, source.lastUs + kArtnetLossTimeoutUs);
  return deadline;
}

SourceChange ArtnetPort::changeFor(SourceChange::Kind kind, const ConsoleSource& source) const {
  SourceChange change;
  change.kind = kind;
  change.universe = portAddress_;
  change.source.address = source.address;
  change.source.sequence = source.sequence;
  change.source.lastUs = source.lastUs;
  return change;
}

void ArtnetPort::merge() {
  covered_ = mergeHighestTakesPrecedence(sources_, [](const ConsoleSource&) { return true; }, levels_);
}
