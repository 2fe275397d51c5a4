#ifndef VANTREL_WEB_REQUEST_DEADLINES_HPP
#define VANTREL_WEB_REQUEST_DEADLINES_HPP

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

/// Every request on the control page's connections must be in and answered
/// within kLimit of the moment it could begin, the connection's opening or
/// the answer before it, however slowly its bytes come: the server's own
/// time-out counts silence alone, so a client sending a line now and then
/// would keep its place for ever. A client sends its request as soon as it
/// can, so that moment is its first byte's. A thread of its own sleeps
/// until the next deadline and drops the connection of a request past it.
/// Connections are named by an opaque key, the server's own pointer.
class RequestDeadlines {
 public:
  static constexpr std::chrono::seconds kLimit{30};

  RequestDeadlines() = default;
  ~RequestDeadlines();  ///< as stop()
  RequestDeadlines(const RequestDeadlines&) = delete;
  RequestDeadlines& operator=(const RequestDeadlines&) = delete;

  void start();
  /// Ends the thread; the connections are the server's to close.
  void stop();

  /// A connection accepted on `socket`: its first request's clock starts.
  void opened(const void* connection, int socket);
  /// A request answered in full: the next one's clock starts.
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
    Clock::time_point deadline;
    bool streaming = false;
    bool dropped = false;
  };
  void serve();

  std::mutex mutex_;  ///< guards what follows
  std::map<const void*, Connection> connections_;
  bool stopping_ = false;
  std::condition_variable changed_;
  std::thread thread_;
};

#endif
