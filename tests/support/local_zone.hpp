#ifndef VANTREL_TESTS_SUPPORT_LOCAL_ZONE_HPP
#define VANTREL_TESTS_SUPPORT_LOCAL_ZONE_HPP

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

/// The process's local zone set to `zone` (TZ, then tzset()) for as long as it lives; the one
/// before is put back after.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* before = std::getenv("TZ"))
      before_ = before;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~LocalZone() {
    if (before_)
      setenv("TZ", before_->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }
  LocalZone(const LocalZone&) = delete;
  LocalZone& operator=(const LocalZone&) = delete;

 private:
  std::optional<std::string> before_;
};

#endif
