#ifndef VANTREL_WEB_REQUEST_DEADLINES_HPP
#define VANTREL_WEB_REQUEST_DEADLINES_HPP

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>

/// Every request on the control page's connections must be in and answered
/// within kLimit of its first byte, however slowly its bytes come: the
/// server's own time-out counts silence alone, so a client sending a line
/// now and then would keep its place for ever. A thread of its own looks
/// every kLook and drops the connection of a request past its deadline.
/// Connections are named by an opaque key, the server's own pointer.
class RequestDeadlines {
 public:
  static constexpr std::chrono::seconds kLimit{30};
  static constexpr std::chrono::milliseconds kLook{250};

  RequestDeadlines() = default;
  ~RequestDeadlines();  ///< as stop()
  RequestDeadlines(const RequestDeadlines&) = delete;
  RequestDeadlines& operator=(const RequestDeadlines&) = delete;

  void start();
  /// Ends the thread; the connections are the server's to close.
  void stop();

  /// A connection accepted on `socket`: its first request's clock starts
  /// with its first byte, which may already be in.
  void opened(const void* connection, int socket);
  /// A request answered in full: the next one's clock starts with its own
  /// first byte.
  void answered(const void* connection);
  /// The request became an event stream, which has no end to wait for.
  void streaming(const void* connection);
  /// The server closed the connection; before its socket is closed, so that
  /// a socket number used again is never dropped.
  void closed(const void* connection);

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    int socket = -1;
    std::int64_t bytesBefore = 0;  ///< received before the request
    bool begun = false;            ///< its first byte came, at `firstByte`
    Clock::time_point firstByte;
    bool streaming = false;
    bool dropped = false;
  };
  void look(Connection& connection, Clock::time_point now);  ///< under mutex_
  void serve();

  std::mutex mutex_;  ///< guards what follows
  std::map<const void*, Connection> connections_;
  bool stopping_ = false;
  std::condition_variable changed_;
  std::thread thread_;
};

#endif
