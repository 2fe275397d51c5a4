#ifndef VANTREL_COMMON_HEX_BYTES_HPP
#define VANTREL_COMMON_HEX_BYTES_HPP

#include <cstddef>
#include <string>

/// Bytes as our tools show them to people: two lower-case hex digits each,
/// one blank between ("7e 5a 04 80").
std::string hexBytes(const unsigned char* bytes, std::size_t count);

#endif
