#ifndef VANTREL_SERVICE_CLOCK_CHANGE_HPP
#define VANTREL_SERVICE_CLOCK_CHANGE_HPP

#include "link/socket_handle.hpp"

/// Tells when the system's clock is set (a jump, as when a board without a battery clock takes
/// its time from the network), at once and without polling: a handle to wait on with the others.
class ClockChange {
 public:
  ClockChange();
  ~ClockChange();
  ClockChange(const ClockChange&) = delete;
  ClockChange& operator=(const ClockChange&) = delete;

  /// Whether the platform gave it its handle; without one, no change is told.
  bool ok() const { return ok_; }
  SocketHandle handle() const { return handle_; }
  /// Once handle() was ready: takes what it tells and watches anew; true when the clock was set.
  bool take();

 private:
  void arm();
  bool ok_ = false;
  SocketHandle handle_ = 0;
};

#endif
