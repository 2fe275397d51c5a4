#include "units/service_settings.hpp"

#include <algorithm>

namespace {

// 0..255, digits alone.
bool readByte(std::string_view text, int& value) {
  if (text.empty() || text.size() > 3 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  value = std::stoi(std::string(text));
  return value <= 255;
}

bool isIPv4(std::string_view text) {
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    int value;
    if (dot == std::string_view::npos || !readByte(text.substr(0, dot), value))
      return false;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return true;
}

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
  std::string_view address = text.substr(0, colon);
  const std::string_view port = text.substr(colon + 1);
  if (port.empty() || port.size() > 5 ||
      !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const int number = std::stoi(std::string(port));
  if (number < 1 || number > 65535)
    return false;
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
    if (!isIPv6(address))
      return false;
  } else if (!isIPv4(address)) {
    return false;
  }
  settings.address = std::string(address);
  settings.port = static_cast<std::uint16_t>(number);
  return true;
}

bool isLoopback(std::string_view address) {
  return address == "::1" || address.substr(0, 4) == "127.";
}
