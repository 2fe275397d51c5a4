#include "web/request_rules.hpp"

#include <algorithm>
#include <cctype>

namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

bool sameWords(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// Clients past their window are dropped once there are many, so that
// passing addresses cannot grow the map without bound.
constexpr std::size_t kClientsKept = 1024;

}  // namespace

bool isLoopbackHost(std::string_view host, std::uint16_t port) {
  for (std::string_view name : {"localhost", "127.0.0.1", "[::1]"}) {
    if (host.size() < name.size() || !sameWords(host.substr(0, name.size()), name))
      continue;
    const std::string_view rest = host.substr(name.size());
    if (rest.empty() || rest == ":" + std::to_string(port))
      return true;
  }
  return false;
}

bool originMatchesHost(std::string_view origin, std::string_view host, bool tls) {
  const std::string_view scheme = tls ? "https://" : "http://";
  return origin.size() > scheme.size() && sameWords(origin.substr(0, scheme.size()), scheme) &&
         sameWords(origin.substr(scheme.size()), host);
}

bool isJsonContentType(std::string_view contentType) {
  return sameWords(trimmed(contentType.substr(0, contentType.find(';'))), "application/json");
}

bool sameSecret(std::string_view given, std::string_view secret) {
  unsigned difference = given.size() == secret.size() ? 0 : 1;
  for (std::size_t i = 0; i < given.size(); ++i) {
    const char expected = secret.empty() ? '\0' : secret[i % secret.size()];
    difference |= static_cast<unsigned char>(given[i] ^ expected);
  }
  return difference == 0;
}

bool PasswordGuard::refused(const std::string& address, std::int64_t nowMs) {
  const auto found = clients_.find(address);
  return found != clients_.end() && nowMs < found->second.refusedUntilMs;
}

bool PasswordGuard::failed(const std::string& address, std::int64_t nowMs) {
  if (clients_.size() >= kClientsKept)
    forgetOld(nowMs);
  Client& client = clients_[address];
  auto& failures = client.failures;
  failures.erase(failures.begin(),
                 std::find_if(failures.begin(), failures.end(),
                              [&](std::int64_t at) { return nowMs - at < kWindowMs; }));
  failures.push_back(nowMs);
  if (static_cast<int>(failures.size()) < kLimit)
    return false;
  failures.clear();
  client.refusedUntilMs = nowMs + kWindowMs;
  return true;
}

void PasswordGuard::forgetOld(std::int64_t nowMs) {
  for (auto i = clients_.begin(); i != clients_.end();) {
    const Client& client = i->second;
    const bool recent = nowMs < client.refusedUntilMs ||
                        (!client.failures.empty() && nowMs - client.failures.back() < kWindowMs);
    i = recent ? std::next(i) : clients_.erase(i);
  }
}
