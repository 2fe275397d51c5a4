#include "common/ipv4_address.hpp"

bool parseIPv4(const char* text, std::uint32_t& address) {
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  std::uint32_t parsed = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0 && *text++ != '.')
      return false;
    // Some readers take a leading zero for octal: refused, as inet_pton does.
    if (!isDigit(text[0]) || (text[0] == '0' && isDigit(text[1])))
      return false;
    unsigned value = 0;
    while (isDigit(*text)) {
      value = value * 10 + static_cast<unsigned>(*text++ - '0');
      if (value > 255)
        return false;
    }
    parsed = parsed << 8 | value;
  }
  if (*text != '\0')
    return false;
  address = parsed;
  return true;
}

std::string formatIPv4(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xff) + "." +
         std::to_string(address >> 8 & 0xff) + "." + std::to_string(address & 0xff);
}
