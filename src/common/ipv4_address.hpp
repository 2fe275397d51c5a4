#ifndef VANTREL_COMMON_IPV4_ADDRESS_HPP
#define VANTREL_COMMON_IPV4_ADDRESS_HPP

#include <cstdint>
#include <string>

/// Reads an IPv4 address in dotted decimal: four numbers 0..255 between
/// dots, without leading zeros. The address is in host byte order. Returns
/// false, leaving `address` alone, for anything else.
bool parseIPv4(const char* text, std::uint32_t& address);

/// An IPv4 address in host byte order, in dotted decimal.
std::string formatIPv4(std::uint32_t address);

#endif
