#ifndef VANTREL_TESTS_SUPPORT_VANTRELD_PROCESS_HPP
#define VANTREL_TESTS_SUPPORT_VANTRELD_PROCESS_HPP

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

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
/// a time; started through `wrapper` when given (faketime and its time), with
/// `options` after the file and `environment` besides its own.
class VantreldProcess {
 public:
  explicit VantreldProcess(const TempDir& dir, const std::vector<std::string>& wrapper = {},
                           const std::vector<std::string>& options = {},
                           const std::vector<std::string>& environment = {})
      : child_(start(dir, wrapper, options, environment)) {}
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
  static BackgroundChild start(const TempDir& dir, const std::vector<std::string>& wrapper,
                               const std::vector<std::string>& options,
                               std::vector<std::string> environment) {
    if (!std::filesystem::exists(bootIdFile(dir)))
      writeText(bootIdFile(dir), "boot-1\n");
    std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    argv.insert(argv.end(), wrapper.begin(), wrapper.end());
    for (const std::string& arg : {std::string(VANTRELD_PATH), std::string("--config"), dir.path("vantrel.toml")})
      argv.push_back(arg);
    argv.insert(argv.end(), options.begin(), options.end());
    for (const std::string& variable : {"VANTREL_STATE=" + dir.path("levels"),
                                        "VANTREL_SOCKET=" + dir.path("vantreld.sock"),
                                        "VANTREL_BOOT_ID_FILE=" + bootIdFile(dir)})
      environment.push_back(variable);
    return BackgroundChild(argv, environment);
  }

  BackgroundChild child_;
  std::string seen_;
};

#endif
