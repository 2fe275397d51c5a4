#ifndef VANTREL_TESTS_CHILD_PROCESS_HPP
#define VANTREL_TESTS_CHILD_PROCESS_HPP

#include <functional>
#include <string>
#include <vector>

/// How a child process ended and what it wrote.
struct ChildResult {
  std::string out;       ///< standard output, byte for byte
  std::string err;       ///< standard error
  int exitStatus = -1;   ///< the exit status, or -1 when it did not exit
  int signal = 0;        ///< the signal that ended it, if one did
  bool timedOut = false; ///< killed for running past the time limit
};

/// Runs `argv` (argv[0] is the program's path) with the test's environment
/// plus `environment` ("NAME=value" items, which win), standard input from
/// /dev/null, and kills it once `timeoutMs` has passed. `started`, when
/// given, is called with the child's process id while it runs. Output is collected
/// until the child has exited and its pipes hold nothing more; processes it
/// started that keep the pipes open are not waited for.
ChildResult runChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment, int timeoutMs,
                     const std::function<void(int)>& started = {});

/// A child process that runs while the test goes on, for a peer the test
/// talks to: its standard output is read a line at a time, its standard
/// error is the test's own. Killed, if still running, when destroyed.
class BackgroundChild {
 public:
  BackgroundChild(const std::vector<std::string>& argv,
                  const std::vector<std::string>& environment);
  ~BackgroundChild();
  BackgroundChild(const BackgroundChild&) = delete;
  BackgroundChild& operator=(const BackgroundChild&) = delete;

  /// The next line of standard output without its line end (LF or CR LF),
  /// or "" when none came within `timeoutMs`.
  std::string readLine(int timeoutMs);

  /// Sends `signal` (0: none) and waits up to `timeoutMs` for the child to
  /// end. Returns its exit status, or -1 when it did not exit in time or
  /// died of a signal.
  int stop(int signal, int timeoutMs);

  int pid() const { return pid_; }

 private:
  int pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

#endif
