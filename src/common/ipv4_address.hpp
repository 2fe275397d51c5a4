#ifndef VANTREL_COMMON_IPV4_ADDRESS_HPP
#define VANTREL_COMMON_IPV4_ADDRESS_HPP

#include <cstdint>

/// Reads an IPv4 address in dotted decimal, as --listen takes it and as a
/// units file writes it: four numbers 0..255 between dots, without leading
/// zeros. The address is in host byte order. Returns false, leaving
/// `address` alone, for anything else.
bool parseIPv4(const char* text, std::uint32_t& address);

#endif
