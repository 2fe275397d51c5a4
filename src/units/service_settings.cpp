#include "units/service_settings.hpp"

#include <algorithm>

#include "common/ipv4_address.hpp"
#include "common/whole_number.hpp"

namespace {

bool isIPv6(std::string_view text) {
  return text.find(':') != std::string_view::npos && text.size() <= 45 &&
         std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                  c == ':' || c == '.';
         });
}

}  // namespace

bool parseListen(std::string_view text, WebSettings& settings) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos)
    return false;
  std::string address(text.substr(0, colon));
  int port;
  if (!parseWholeNumber(std::string(text.substr(colon + 1)).c_str(), 1, 65535, port))
    return false;
  std::uint32_t unused;
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
    if (!isIPv6(address))
      return false;
  } else if (!parseIPv4(address.c_str(), unused)) {
    return false;
  }
  settings.address = address;
  settings.port = static_cast<std::uint16_t>(port);
  return true;
}

bool isLoopback(std::string_view address) {
  return address == "::1" || address.substr(0, 4) == "127.";
}
