#include "web/web_settings.hpp"

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

void readWebSettings(const SettingEntry& table, WebSettings& web, FileProblems& problems) {
  for (const SettingEntry& field : table.value.entries) {
    const std::string& key = field.key;
    std::string text;
    if (key != "listen" && key != "password_file" && key != "tls_cert_file" &&
        key != "tls_key_file" && key != "title") {
      problems.unknownKey(field, "[web]");
    } else if (!readOneLine(field, "web", text, problems)) {
    } else if (key == "listen") {
      if (!parseListen(text, web))
        problems.add(field.value.at, "[web] listen must be ADDRESS:PORT, such as "
                                     "\"127.0.0.1:8080\" or \"[::1]:8080\"");
    } else if (key == "title") {
      web.title = text;
    } else if (text.empty()) {
      problems.add(field.value.at, "[web] " + key + " must not be empty");
    } else {
      (key == "password_file" ? web.passwordFile
                              : key == "tls_cert_file" ? web.tlsCertFile : web.tlsKeyFile) = text;
    }
  }
  const FilePlace at = table.value.at;
  if (web.passwordFile.empty() && !isLoopback(web.address))
    problems.add(at, "[web] needs a password_file: listen " + web.address +
                         " is not a loopback address, so others on the network could reach the units");
  if (web.tlsCertFile.empty() != web.tlsKeyFile.empty())
    problems.add(at, "[web] tls_cert_file and tls_key_file go together: give both or neither");
}
