#ifndef VANTREL_SERVICE_LINK_LOCAL_LINK_HPP
#define VANTREL_SERVICE_LINK_LOCAL_LINK_HPP

#include <atomic>
#include <cstdint>
#include <string>

/// A tool's connection to vantreld's local socket, a line at a time. POSIX
/// only: on Windows the tools have no service to reach.
class LocalLink {
 public:
  LocalLink() = default;
  ~LocalLink();
  LocalLink(const LocalLink&) = delete;
  LocalLink& operator=(const LocalLink&) = delete;

  enum class Reach {
    Open,    ///< connected
    Absent,  ///< no socket there, or nobody listens on it: no service runs
    Denied,  ///< a service runs, but this user may not connect
    Failed,  ///< anything else; `problem` says what
  };
  /// Connects to the socket at `path`, at once or not at all.
  Reach connect(const std::string& path, std::string& problem);

  /// Sends `line` (newline included) whole. False with `problem`.
  bool send(const std::string& line, std::string& problem);

  enum class Got { Line, Closed, TimedOut, Stopped, Failed };
  /// The next line, without its newline, waiting until `deadlineUs` on
  /// monotonicUs() at the latest, or until `stop` turns true (when given:
  /// the flag of catchStopRequests() or catchInterrupts()). A line longer
  /// than kLocalLineBytes is Failed.
  Got readLine(std::string& line, std::int64_t deadlineUs, const std::atomic<bool>* stop,
               std::string& problem);

 private:
  int socket_ = -1;
  std::string buffer_;
};

#endif
