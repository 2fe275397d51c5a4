#ifndef VANTREL_WEB_WEB_SETTINGS_HPP
#define VANTREL_WEB_WEB_SETTINGS_HPP

#include <cstdint>
#include <string>
#include <string_view>

#include "units/settings_table.hpp"

/// The [web] table: where vantreld serves its control page.
struct WebSettings {
  std::string address = "127.0.0.1";  ///< as in listen: dotted IPv4, or IPv6 without brackets
  std::uint16_t port = 8080;
  std::string passwordFile;  ///< empty: none, which only a loopback address allows
  std::string tlsCertFile;   ///< both or neither
  std::string tlsKeyFile;
  std::string title;  ///< empty: the page's own
};

/// Reads "ADDR:PORT" (a dotted IPv4 address, or an IPv6 one in brackets) into
/// `settings`' address and port; false when it is not that.
bool parseListen(std::string_view text, WebSettings& settings);

/// Whether `address` (as WebSettings keeps it) is a loopback address.
bool isLoopback(std::string_view address);

/// Reads the [web] table into `settings`, adding each problem where it is.
void readWebSettings(const SettingEntry& table, WebSettings& settings, FileProblems& problems);

#endif
