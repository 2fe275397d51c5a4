#ifndef VANTREL_TESTS_SUPPORT_VANTRELD_PROCESS_HPP
#define VANTREL_TESTS_SUPPORT_VANTRELD_PROCESS_HPP

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

/// The boot a test's vantreld runs in: the file VANTREL_BOOT_ID_FILE names.
/// A test boots the machine by writing another id there.
inline std::string bootIdFile(const TempDir& dir) { return dir.path("boot_id"); }

/// Makes the levels a test wrote count as confirmed in the boot its
/// vantreld starts in, as after a restart of the service.
inline void sameBootAsBefore(const TempDir& dir) {
  if (!std::filesystem::exists(bootIdFile(dir)))
    writeText(bootIdFile(dir), "boot-1\n");
  std::string id = readText(bootIdFile(dir));
  id.erase(id.find_last_not_of('\n') + 1);
  writeText(dir.path("levels.boot"), id + " 1\n");
}

/// vantreld on `dir`'s vantrel.toml, with its levels, socket and boot id
/// there, its standard error joined to its standard output, read a line at
/// a time.
class VantreldProcess {
 public:
  explicit VantreldProcess(const TempDir& dir)
      : child_(start(dir)) {}
  /// Waits for a line that starts with `line`, skipping others; false when
  /// none came.
  bool sees(const std::string& line, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const std::string got = child_.readLine(static_cast<int>(left.count()) + 1);
      if (got.compare(0, line.size(), line) == 0)
        return true;
      seen_ += got + "\n";
    }
    ADD_FAILURE() << "no line \"" << line << "\"; saw:\n" << seen_;
    return false;
  }
  int stop(int signal) { return child_.stop(signal, 5000); }
  /// The lines skipped so far.
  const std::string& skipped() const { return seen_; }

 private:
  static BackgroundChild start(const TempDir& dir) {
    if (!std::filesystem::exists(bootIdFile(dir)))
      writeText(bootIdFile(dir), "boot-1\n");
    return BackgroundChild({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", VANTRELD_PATH, "--config",
                            dir.path("vantrel.toml")},
                           {"VANTREL_STATE=" + dir.path("levels"),
                            "VANTREL_SOCKET=" + dir.path("vantreld.sock"),
                            "VANTREL_BOOT_ID_FILE=" + bootIdFile(dir)});
  }

  BackgroundChild child_;
  std::string seen_;
};

#endif
