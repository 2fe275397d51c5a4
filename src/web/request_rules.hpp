#ifndef VANTREL_WEB_REQUEST_RULES_HPP
#define VANTREL_WEB_REQUEST_RULES_HPP

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

/// The control page's safety rules that look at a request's headers alone.

/// Whether `host` (a Host header) names this machine's loopback, "localhost",
/// "127.0.0.1" or "[::1]", with `port` or no port: without a password only
/// these are served, so that no other site's name, rebound to this address,
/// reaches the units from a user's browser.
bool isLoopbackHost(std::string_view host, std::uint16_t port);

/// Whether `origin` (an Origin header) is the origin that `host` (the Host
/// header) names, with the scheme the server speaks.
bool originMatchesHost(std::string_view origin, std::string_view host, bool tls);

/// Whether a Content-Type header says JSON, with or without parameters.
bool isJsonContentType(std::string_view contentType);

/// Compares in a time that depends on the lengths alone, not on where the
/// texts first differ.
bool sameSecret(std::string_view given, std::string_view secret);

/// Wrong passwords by client address: after kLimit within a minute, the
/// address is refused for a minute.
class PasswordGuard {
 public:
  static constexpr int kLimit = 10;
  static constexpr std::int64_t kWindowMs = 60000;

  /// Whether `address` is refused at `nowMs` (a steady clock).
  bool refused(const std::string& address, std::int64_t nowMs);
  /// Counts a wrong password; true when this one makes the address refused.
  bool failed(const std::string& address, std::int64_t nowMs);

 private:
  struct Client {
    std::vector<std::int64_t> failures;  ///< within the last window, oldest first
    std::int64_t refusedUntilMs = 0;
  };
  void forgetOld(std::int64_t nowMs);
  std::map<std::string, Client> clients_;
};

#endif
