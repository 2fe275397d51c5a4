#ifndef VANTREL_WEB_EVENT_STREAMS_HPP
#define VANTREL_WEB_EVENT_STREAMS_HPP

#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct MHD_Connection;
struct MHD_Response;

/// The open GET /api/events streams. Each has a queue of its own; a stream
/// with nothing to send is suspended, so that nothing wakes for it, and
/// resumed when an event comes. Events are posted from any thread, the
/// service's included, at the cost of a queued call: a thread of the
/// streams' own makes their text and hands it to every stream.
class EventStreams {
 public:
  static constexpr int kMaxStreams = 32;

  EventStreams() = default;
  ~EventStreams();  ///< as close()
  EventStreams(const EventStreams&) = delete;
  EventStreams& operator=(const EventStreams&) = delete;

  /// Starts the streams' thread, which also writes a comment line on every
  /// stream now and then, so that a stream never looks idle and a client
  /// gone away is noticed.
  void start();
  /// A stream's response for `connection`, on the server's thread, its
  /// first event `first()` (called under the streams' lock, so that no
  /// event sent meanwhile is lost); null when kMaxStreams are open.
  MHD_Response* open(MHD_Connection* connection, const std::function<std::string()>& first);
  /// Queues the event that `make()` will give (a whole event, ending in an
  /// empty line) on every stream; never waits for a client.
  void post(std::function<std::string()> make);
  /// Ends every stream and opens no more, before the server stops.
  void close();

 private:
  struct Stream {
    EventStreams* owner;
    MHD_Connection* connection;
    std::string pending;
    bool suspended = false;
    bool ended = false;
  };
  static ssize_t read(void* stream, std::uint64_t position, char* buffer, std::size_t size);
  static void release(void* stream);
  void queue(Stream& stream, const std::string& text);  ///< under mutex_
  void serve();

  std::mutex mutex_;  ///< guards what follows
  std::vector<Stream*> streams_;
  std::vector<std::function<std::string()>> posted_;
  bool closed_ = false;
  std::condition_variable changed_;
  std::thread thread_;
};

#endif
