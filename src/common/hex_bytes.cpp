#include "common/hex_bytes.hpp"

#include <cstdio>

std::string hexBytes(const unsigned char* bytes, std::size_t count) {
  std::string text;
  char two[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    if (i != 0)
      text += ' ';
    text += two;
  }
  return text;
}
