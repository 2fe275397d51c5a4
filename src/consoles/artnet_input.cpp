#include "consoles/artnet_input.hpp"

#include <algorithm>
#include <climits>

ArtnetInput::ArtnetInput(const std::vector<int>& portAddresses, std::vector<std::uint32_t> accepted)
    : accepted_(std::move(accepted)) {
  std::vector<int> numbers = portAddresses;
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  for (const int number : numbers)
    ports_.emplace_back(number);
}

ArtnetInput::Received ArtnetInput::receive(const std::uint8_t* bytes, std::size_t size,
                                           std::uint32_t from, std::int64_t nowUs,
                                           std::vector<SourceChange>& changes) {
  Received received;
  ArtDmx dmx;
  switch (readArtnetPacket(bytes, size, dmx)) {
    case ArtnetRead::Malformed:
      ++counts_.malformed;
      return received;
    case ArtnetRead::Other:
      ++counts_.ignored;
      return received;
    case ArtnetRead::Poll:
      received.poll = true;
      return received;
    case ArtnetRead::Dmx:
      break;
  }
  if (!accepted_.empty() && std::find(accepted_.begin(), accepted_.end(), from) == accepted_.end()) {
    ++counts_.refused;
    return received;
  }
  ArtnetPort* port = findPort(dmx.portAddress);
  if (port == nullptr) {
    ++counts_.ignored;
    return received;
  }
  SourceChange change;
  switch (port->take(dmx, from, nowUs, change)) {
    case ArtnetPort::Take::Refused:
      ++counts_.refused;
      return received;
    case ArtnetPort::Take::Found:
      changes.push_back(std::move(change));
      break;
    case ArtnetPort::Take::Applied:
      break;
  }
  ++counts_.taken;
  received.changed = port;
  return received;
}

void ArtnetInput::expire(std::int64_t nowUs, std::vector<SourceChange>& changes) {
  for (ArtnetPort& port : ports_)
    if (port.deadlineUs() <= nowUs)
      port.expire(nowUs, changes);
}

std::int64_t ArtnetInput::deadlineUs() const {
  std::int64_t deadline = INT64_MAX;
  for (const ArtnetPort& port : ports_)
    deadline = std::min(deadline, port.deadlineUs());
  return deadline;
}

const ArtnetPort* ArtnetInput::find(int portAddress) const {
  return const_cast<ArtnetInput*>(this)->findPort(portAddress);
}

ArtnetPort* ArtnetInput::findPort(int portAddress) {
  const auto at = std::lower_bound(ports_.begin(), ports_.end(), portAddress,
                                   [](const ArtnetPort& p, int n) { return p.number() < n; });
  return at != ports_.end() && at->number() == portAddress ? &*at : nullptr;
}

std::vector<int> ArtnetInput::portAddresses() const {
  std::vector<int> numbers;
  for (const ArtnetPort& port : ports_)
    numbers.push_back(port.number());
  return numbers;
}
