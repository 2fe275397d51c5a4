#include "web/event_streams.hpp"

#include <algorithm>
#include <chrono>
#include <cstring>

#include <microhttpd.h>

#include "web/server_calls.hpp"

namespace {

// A comment line this often: within 15 s as the page's API promises, and
// short enough that the second one after a client left, which fails, comes
// within 30 s.
constexpr std::chrono::seconds kBeat(10);

// A client that reads nothing has its stream ended once this much waits for
// it, rather than the service keeping it all.
constexpr std::size_t kMaxPending = 256 * 1024;

}  // namespace

EventStreams::~EventStreams() {
  close();
}

void EventStreams::start() {
  thread_ = std::thread([this] { serve(); });
}

MHD_Response* EventStreams::open(MHD_Connection* connection,
                                 const std::function<std::string()>& first) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto open = std::count_if(streams_.begin(), streams_.end(),
                                  [](const Stream* stream) { return !stream->ended; });
  if (closed_ || open >= kMaxStreams)
    return nullptr;
  auto* stream = new Stream{this, connection, first()};
  MHD_Response* response =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &EventStreams::read, stream,
                                        &EventStreams::release);
  if (response == nullptr) {
    delete stream;
    return nullptr;
  }
  streams_.push_back(stream);
  if (streams_.size() == 1)
    changed_.notify_all();
  return response;
}

void EventStreams::post(std::function<std::string()> make) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_)
    return;
  posted_.push_back(std::move(make));
  if (posted_.size() == 1)
    changed_.notify_all();
}

void EventStreams::queue(Stream& stream, const std::string& text) {
  if (stream.ended)
    return;
  if (stream.pending.size() + text.size() > kMaxPending) {
    stream.ended = true;
    stream.pending.clear();
  } else {
    stream.pending += text;
  }
  if (stream.suspended) {
    stream.suspended = false;
    MHD_resume_connection(stream.connection);
  }
}

void EventStreams::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (Stream* stream : streams_) {
      stream->ended = true;
      if (stream->suspended) {
        stream->suspended = false;
        MHD_resume_connection(stream->connection);
      }
    }
    changed_.notify_all();
  }
  if (thread_.joinable())
    thread_.join();
}

ssize_t EventStreams::read(void* cls, std::uint64_t, char* buffer, std::size_t size) {
  auto* stream = static_cast<Stream*>(cls);
  std::lock_guard<std::mutex> lock(stream->owner->mutex_);
  if (stream->ended)
    return MHD_CONTENT_READER_END_WITH_ERROR;
  if (stream->pending.empty()) {
    stream->suspended = true;
    MHD_suspend_connection(stream->connection);
    return 0;
  }
  const std::size_t taken = std::min(size, stream->pending.size());
  std::memcpy(buffer, stream->pending.data(), taken);
  stream->pending.erase(0, taken);
  return static_cast<ssize_t>(taken);
}

void EventStreams::release(void* cls) {
  auto* stream = static_cast<Stream*>(cls);
  EventStreams& owner = *stream->owner;
  {
    std::lock_guard<std::mutex> lock(owner.mutex_);
    owner.streams_.erase(std::find(owner.streams_.begin(), owner.streams_.end(), stream));
  }
  delete stream;
}

void EventStreams::serve() {
  yieldToTheUnits();
  std::unique_lock<std::mutex> lock(mutex_);
  auto beat = std::chrono::steady_clock::now() + kBeat;
  std::vector<std::function<std::string()>> posted;
  std::string text;
  while (!closed_) {
    if (!posted_.empty()) {
      posted.swap(posted_);
      lock.unlock();
      text.clear();
      for (const auto& make : posted)
        text += make();
      posted.clear();
      lock.lock();
      for (Stream* stream : streams_)
        queue(*stream, text);
    } else if (streams_.empty()) {
      changed_.wait(lock);
      beat = std::chrono::steady_clock::now() + kBeat;
    } else if (changed_.wait_until(lock, beat) == std::cv_status::timeout) {
      for (Stream* stream : streams_)
        queue(*stream, ":\n");
      beat = std::chrono::steady_clock::now() + kBeat;
    }
  }
}
