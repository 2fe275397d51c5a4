#include "consoles/sacn_universe.hpp"

#include <algorithm>
#include <climits>

SacnUniverse::SacnUniverse(int universe, std::int64_t lossTimeoutUs)
    : universe_(universe), lossTimeoutUs_(lossTimeoutUs) {}

SacnUniverse::Take SacnUniverse::take(const SacnPacket& packet, std::uint32_t from,
                                      std::int64_t nowUs, SourceChange& change) {
  const auto known = std::find(cids_.begin(), cids_.end(), packet.cid);
  const std::size_t index = static_cast<std::size_t>(known - cids_.begin());
  if (known != cids_.end() && sacnSequenceIsLate(sources_[index].sequence, packet.sequence))
    return Take::Late;
  if (packet.terminated) {
    if (known == cids_.end())
      return Take::Unknown;
    change = changeFor(SourceChange::Kind::Terminated, sources_[index]);
    sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(index));
    cids_.erase(known);
    change.lastOfUniverse = sources_.empty();
    merge();
    return Take::Terminated;
  }
  const bool found = known == cids_.end();
  if (found) {
    sources_.emplace_back();
    cids_.push_back(packet.cid);
    sources_.back().cid = sacnCidText(packet.cid);
  }
  ConsoleSource& source = found ? sources_.back() : sources_[index];
  source.address = from;
  source.name.assign(packet.sourceName);
  source.priority = packet.priority;
  source.sequence = packet.sequence;
  source.lastUs = nowUs;
  std::copy(packet.slots, packet.slots + packet.slotCount, source.slots.begin());
  std::fill(source.slots.begin() + packet.slotCount, source.slots.end(), 0);
  source.slotCount = packet.slotCount;
  merge();
  if (!found)
    return Take::Applied;
  change = changeFor(SourceChange::Kind::Found, source);
  return Take::Found;
}

void SacnUniverse::expire(std::int64_t nowUs, std::vector<SourceChange>& changes) {
  bool any = false;
  for (std::size_t i = 0; i < sources_.size();) {
    if (nowUs - sources_[i].lastUs < lossTimeoutUs_) {
      ++i;
      continue;
    }
    changes.push_back(changeFor(SourceChange::Kind::Lost, sources_[i]));
    sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(i));
    cids_.erase(cids_.begin() + static_cast<std::ptrdiff_t>(i));
    any = true;
  }
  if (!any)
    return;
  changes.back().lastOfUniverse = sources_.empty();
  merge();
}

std::int64_t SacnUniverse::deadlineUs() const {
  std::int64_t deadline = INT64_MAX;
  for (const ConsoleSource& source : sources_)
    deadline = std::min(deadline, source.lastUs + lossTimeoutUs_);
  return deadline;
}

SourceChange SacnUniverse::changeFor(SourceChange::Kind kind, const ConsoleSource& source) const {
  SourceChange change;
  change.kind = kind;
  change.universe = universe_;
  change.source.address = source.address;
  change.source.cid = source.cid;
  change.source.name = source.name;
  change.source.priority = source.priority;
  change.source.sequence = source.sequence;
  change.source.lastUs = source.lastUs;
  return change;
}

void SacnUniverse::merge() {
  winning_ = -1;
  for (const ConsoleSource& source : sources_)
    winning_ = std::max(winning_, source.priority);
  covered_ = mergeHighestTakesPrecedence(
      sources_, [this](const ConsoleSource& source) { return source.priority == winning_; }, levels_);
}
