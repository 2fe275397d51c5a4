#include "consoles/sacn_input.hpp"

#include <algorithm>
#include <climits>

SacnInput::SacnInput(const std::vector<int>& universes, std::vector<std::uint32_t> accepted,
                     std::int64_t lossTimeoutUs)
    : accepted_(std::move(accepted)) {
  std::vector<int> numbers = universes;
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  for (const int number : numbers)
    universes_.emplace_back(number, lossTimeoutUs);
}

const SacnUniverse* SacnInput::receive(const std::uint8_t* bytes, std::size_t size,
                                       std::uint32_t from, std::int64_t nowUs,
                                       std::vector<SourceChange>& changes) {
  SacnPacket packet;
  switch (readSacnPacket(bytes, size, packet)) {
    case SacnRead::Malformed:
      ++counts_.malformed;
      return nullptr;
    case SacnRead::Extended:
      ++counts_.ignored;
      return nullptr;
    case SacnRead::Data:
      break;
  }
  if (!accepted_.empty() && std::find(accepted_.begin(), accepted_.end(), from) == accepted_.end()) {
    ++counts_.refused;
    return nullptr;
  }
  SacnUniverse* universe = findUniverse(packet.universe);
  // A stream end carries the last levels with any start code; everything
  // else but start code 0 (0xDD's priorities among them) is never a level.
  if (universe == nullptr || packet.preview || (packet.startCode != 0 && !packet.terminated)) {
    ++counts_.ignored;
    return nullptr;
  }
  SourceChange change;
  switch (universe->take(packet, from, nowUs, change)) {
    case SacnUniverse::Take::Late:
      ++counts_.late;
      return nullptr;
    case SacnUniverse::Take::Unknown:
      ++counts_.ignored;
      return nullptr;
    case SacnUniverse::Take::Found:
    case SacnUniverse::Take::Terminated:
      changes.push_back(std::move(change));
      break;
    case SacnUniverse::Take::Applied:
      break;
  }
  ++counts_.taken;
  return universe;
}

void SacnInput::expire(std::int64_t nowUs, std::vector<SourceChange>& changes) {
  for (SacnUniverse& universe : universes_)
    if (universe.deadlineUs() <= nowUs)
      universe.expire(nowUs, changes);
}

std::int64_t SacnInput::deadlineUs() const {
  std::int64_t deadline = INT64_MAX;
  for (const SacnUniverse& universe : universes_)
    deadline = std::min(deadline, universe.deadlineUs());
  return deadline;
}

const SacnUniverse* SacnInput::find(int universe) const {
  return const_cast<SacnInput*>(this)->findUniverse(universe);
}

SacnUniverse* SacnInput::findUniverse(int universe) {
  const auto at = std::lower_bound(universes_.begin(), universes_.end(), universe,
                                   [](const SacnUniverse& u, int n) { return u.number() < n; });
  return at != universes_.end() && at->number() == universe ? &*at : nullptr;
}
