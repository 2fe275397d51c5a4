#ifndef VANTREL_FUZZ_FUZZ_INPUT_HPP
#define VANTREL_FUZZ_FUZZ_INPUT_HPP

// What the fuzz targets share: a check that ends the run as a finding, and
// datagrams cut from one input.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

/// A property the target must hold: the fuzzer reports the input that breaks it.
inline void require(bool condition) {
  if (!condition)
    std::abort();
}

/// Takes the next datagram off the input: a 2-byte big-endian length, then
/// that many bytes (what is left, at the end). False when less than a length
/// is left.
inline bool nextDatagram(const std::uint8_t*& data, std::size_t& size,
                         std::vector<std::uint8_t>& datagram) {
  if (size < 2)
    return false;
  std::size_t length = std::size_t{data[0]} << 8 | data[1];
  data += 2;
  size -= 2;
  if (length > size)
    length = size;
  // A copy of its own size, so that the sanitizer sees any read past it.
  datagram.assign(data, data + length);
  data += length;
  size -= length;
  return true;
}

#endif
