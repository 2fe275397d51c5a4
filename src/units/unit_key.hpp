#ifndef VANTREL_UNITS_UNIT_KEY_HPP
#define VANTREL_UNITS_UNIT_KEY_HPP

#include <cstdint>
#include <string>
#include <tuple>

/// Who a unit is, wherever it is named: the units file, the remembered
/// levels, the service and the tools' socket. Renaming a unit in the units
/// file keeps its key, and so its level.
struct UnitKey {
  std::string address;  ///< IPv4 address or host name, as written
  std::uint16_t port = 0;
  int type = 1;

  bool operator==(const UnitKey& other) const {
    return std::tie(address, port, type) == std::tie(other.address, other.port, other.type);
  }
  bool operator<(const UnitKey& other) const {
    return std::tie(address, port, type) < std::tie(other.address, other.port, other.type);
  }
};

#endif
