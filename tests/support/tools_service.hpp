#ifndef VANTREL_TESTS_TOOLS_SERVICE_HPP
#define VANTREL_TESTS_TOOLS_SERVICE_HPP

#include <signal.h>

#include <string>

#include <gtest/gtest.h>

#include "support/child_process.hpp"
#include "support/temp_dir.hpp"

/// A vantreld of the test's own for vantrel and vantrel-fade to go through,
/// on a socket in `dir`, remembering levels in `levels`. Its units file
/// names one spare unit: the units the tests drive are outside it, as a
/// user's ad hoc units are, so that the service drives them for as long as
/// each command runs. `rest` is added to the file, `environment` to its
/// own (VANTREL_BOOT_ID_FILE=...). Stopped, and its exit status checked,
/// when destroyed.
class ToolsService {
 public:
  ToolsService(const std::string& dir, const std::string& levels, const std::string& rest = "",
               std::vector<std::string> environment = {})
      : socket_(dir + "/vantreld.sock"),
        config_(write(dir + "/vantreld.toml", rest)),
        child_({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", VANTRELD_PATH, "--config", config_,
                "--verbose"},
               with(std::move(environment), {"VANTREL_STATE=" + levels, "VANTREL_SOCKET=" + socket_})) {
    // Its front ends may say more first (--verbose); this line comes once
    // the socket takes the tools.
    std::string seen;
    for (int i = 0; i < 20 && !started_; ++i) {
      const std::string line = child_.readLine(10000);
      started_ = line == "vantreld: the tools reach it at " + socket_;
      seen += line + "\n";
      if (line.empty())
        break;
    }
    EXPECT_TRUE(started_) << "vantreld did not start:\n" << seen;
  }
  ~ToolsService() {
    // Every fade the tests left ends here, and a memory error at exit
    // (sanitizer builds) fails the test.
    if (!stopped_) {
      EXPECT_EQ(child_.stop(SIGTERM, 10000), 0);
    }
  }
  ToolsService(const ToolsService&) = delete;
  ToolsService& operator=(const ToolsService&) = delete;

  const std::string& socket() const { return socket_; }
  int pid() const { return child_.pid(); }
  /// Stops it now with `signal`: its exit status, -1 for a death by signal.
  int stop(int signal) {
    stopped_ = true;
    return child_.stop(signal, 10000);
  }
  bool started() const { return started_; }
  /// The next line it printed (stderr too), or "" within `timeoutMs`.
  std::string readLine(int timeoutMs) { return child_.readLine(timeoutMs); }

 private:
  static std::vector<std::string> with(std::vector<std::string> more, const std::vector<std::string>& own) {
    more.insert(more.end(), own.begin(), own.end());
    return more;
  }
  static std::string write(const std::string& path, const std::string& rest) {
    writeText(path, "[units.spare]\naddress = \"127.0.0.1\"\nport = 9\ntype = 1\n\n" + rest);
    return path;
  }

  std::string socket_;
  std::string config_;
  BackgroundChild child_;
  bool started_ = false;
  bool stopped_ = false;
};

#endif
