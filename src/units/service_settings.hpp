#ifndef VANTREL_UNITS_SERVICE_SETTINGS_HPP
#define VANTREL_UNITS_SERVICE_SETTINGS_HPP

#include <cstdint>
#include <string>
#include <string_view>

/// The [mqtt] table of the units file: how vantreld reaches its broker.
/// vantrel reads it and does nothing with it.
struct MqttSettings {
  std::string host = "localhost";
  std::uint16_t port = 1883;
  std::string username;           ///< empty: none
  std::string passwordFile;       ///< empty: none
  std::string tlsCaFile;          ///< empty: no TLS
  std::string topic = "vantrel";  ///< non-empty, without + or #
  std::string discoveryPrefix = "homeassistant";  ///< empty: no discovery
  std::int64_t transitionUs = 0;  ///< for commands that give none; 0..24 h
};

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

#endif
