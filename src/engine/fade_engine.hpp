#ifndef VANTREL_ENGINE_FADE_ENGINE_HPP
#define VANTREL_ENGINE_FADE_ENGINE_HPP

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/output_curve.hpp"
#include "engine/fade_schedule.hpp"
#include "link/level_command.hpp"
#include "link/socket_wait.hpp"

/// Where a unit is and what it is, as the engine reaches it.
struct EngineUnit {
  /// A dotted IPv4 address, or a host name that the engine looks up when a
  /// fade needs it.
  std::string address;
  std::uint16_t port = 0;
  int type = 1;
  /// The byte each level is sent as; the engine's levels are the user's.
  OutputCurve curve{};
};

/// What one unit is asked to do: go to `to`, at once or over time.
struct FadePlan {
  /// `from` for a fade from the level the unit last confirmed.
  static constexpr int kFromKnown = -1;

  int to = 0;
  /// false: one command to `to`, whatever the level before.
  bool fade = true;
  /// 0..255, or kFromKnown; a fade from a level that is not known is one
  /// command to `to`.
  int from = kFromKnown;
  std::int64_t overUs = 0;
  int steps = 0;  ///< as FadeSchedule takes it: 0 for the default
  /// Time 0 on monotonicUs(): command k is due at zeroUs + over × k / steps.
  /// Fades that share it keep in step.
  std::int64_t zeroUs = 0;

  enum class Zero {
    Shared,  ///< zeroUs, as given: for fades of many units that keep in step
    /// When the first command's confirmed try began, so that retries of it
    /// do not eat into the fade; the first command is due at zeroUs.
    FirstConfirmed,
  };
  Zero zero = Zero::Shared;
  /// How often the first and the last command are tried, and how long each
  /// try may take; 0: the engine's own.
  int tries = 0;
  std::int64_t timeoutUs = 0;
  /// `from` and `to` are bytes, sent as they are whatever the unit's curve
  /// (vantrel-fade's); what the unit confirms is kept as the lowest level
  /// whose byte is at least the one sent.
  bool bytes = false;
};

/// What the engine saw a unit confirm.
struct ConfirmedLevel {
  int level = -1;         ///< the level it last confirmed to this engine, -1 before any
  std::int64_t atMs = 0;  ///< when, on wallClockMs(); 0 before any
  /// LAST_ON, the level that "on" turns it back on at: the last target
  /// above 0 of a fade it confirmed (the steps of a fade down are none, and
  /// a fade to 0 keeps it), or as setKnownLevel() gave it; -1 when none.
  int lastOn = -1;
  int sent = -1;  ///< the byte `level` was sent as, through the unit's curve
};

/// How a unit's fade ended.
struct FadeEnd {
  enum class How {
    Confirmed,     ///< the unit confirmed `to`
    NotStarted,    ///< the first command failed every try: the fade was given up
    NotConfirmed,  ///< the last command failed every try
    Stopped,       ///< stopAll()
    Replaced,      ///< a new plan took over; it starts from here
  };
  How how = How::Confirmed;
  int from = -1;  ///< the level it started from; -1 when it went straight to `to`
  int to = 0;
  int tries = 0;        ///< how often the failed command was tried
  CommandResult last;   ///< the last command's result
  /// NotStarted without a command: why the address could not be looked up.
  std::string lookUpFailure;
  /// Replaced: who gave the newer command, as "replaced by a newer command
  /// from ..." ends ("MQTT"); empty when its owner does not say.
  std::string replacedBy;
  /// What the unit confirmed to the engine, after this end: LAST_ON set
  /// by a fade confirmed above 0.
  ConfirmedLevel confirmed;
};

/// Looks `host` up as an IPv4 address: true with the address in dotted
/// form, or false with the reason in a few words. It may block for as long
/// as it likes: the engine calls it on a thread of its own.
using HostLookUp = std::function<bool(const std::string& host, std::string& dotted,
                                      std::string& why)>;

/// What the engine tells its owner, on the engine's thread.
class EngineListener {
 public:
  /// One try of a command ended (not when stopAll() cut it short).
  virtual void commandEnded(int unit, int level, const CommandResult& result,
                            std::int64_t beganUs) = 0;
  virtual void fadeEnded(int unit, const FadeEnd& end) = 0;

 protected:
  ~EngineListener() = default;
};

/// Runs the fades of many units at once on one thread and one clock: each
/// command on a connection of its own, as vantrel-fade sends them (the same
/// levels and due times, late commands skipped, the first and last tried
/// `tries` times, the ones between once), with every socket and every due
/// time waited for together, so that a slow or silent unit delays no other.
/// A unit's fade can be started while others run, and replaced.
///
/// Levels are the user's: each goes through the unit's curve, and a step
/// whose byte is the one the fade's last confirmed command sent is not sent
/// again. A last step passed over that way ends the fade Confirmed at its
/// target, as the unit already holds the target's byte.
///
/// A host name is looked up when a fade of its unit starts, on a thread of
/// its own, so that a slow name delays no other unit; the unit's commands
/// begin once it is known. A lookup that fails, or takes longer than the
/// command time-out, ends that fade as NotStarted, and is tried again at the
/// unit's next startFade().
class FadeEngine {
 public:
  FadeEngine(std::int64_t timeoutUs, int tries, EngineListener& listener);
  ~FadeEngine();
  FadeEngine(const FadeEngine&) = delete;
  FadeEngine& operator=(const FadeEngine&) = delete;

  /// Adds a unit and returns its index.
  int addUnit(const EngineUnit& unit);
  /// Replaces the lookup of host names (lookUpIPv4()), for a test.
  void lookUpWith(HostLookUp lookUp);
  /// The level the unit last confirmed, or -1: a fade from the known level
  /// starts there.
  int knownLevel(int unit) const;
  /// What is known of the unit from before, as remembered: its level (-1
  /// when not known) and its LAST_ON.
  void setKnownLevel(int unit, int level, int lastOn = -1);
  /// What the unit confirmed to this engine, up to date when the listener
  /// hears of it.
  const ConfirmedLevel& confirmed(int unit) const;

  /// Starts `plan` on `unit`. A fade that is running there is replaced: a
  /// command in flight ends first (so that its level is known), the old
  /// fade ends as Replaced, and `plan` starts from there.
  void startFade(int unit, const FadePlan& plan);
  /// Whether any fade is running.
  bool busy() const;
  /// Ends every fade at once, as Stopped; commands in flight are abandoned.
  void stopAll();
  /// As stopAll(), for one unit.
  void stop(int unit);

  /// Runs until no fade is left, or until `stop` turns true, which stops
  /// them all within 50 ms.
  void run(const std::atomic<bool>& stop);

  /// For an owner with a loop of its own, one turn of it is: addWaits(),
  /// the owner's own sockets, a wait until nextDueUs() at the latest
  /// (waitUntil() does it precisely), then advance() with what was ready.
  void addWaits(std::vector<SocketWait>& waits);
  /// When the engine has something to do next on monotonicUs(), or
  /// INT64_MAX when it has nothing.
  std::int64_t nextDueUs() const;
  void advance(const std::vector<SocketWait>& waits);

 private:
  struct Run;
  struct LookUps;
  void begin(int unit, const FadePlan& plan);
  void lookUp(int unit, std::int64_t nowUs);
  void takeAddresses();
  Run& at(int unit) { return *runs_[static_cast<std::size_t>(unit)]; }
  const Run& at(int unit) const { return *runs_[static_cast<std::size_t>(unit)]; }
  void launch(int unit, std::int64_t nowUs);
  void complete(int unit, std::int64_t nowUs);
  void end(int unit, FadeEnd::How how);

  std::int64_t timeoutUs_;
  int tries_;
  EngineListener& listener_;
  NetworkStack stack_;
  std::vector<std::unique_ptr<Run>> runs_;
  int inFlight_ = 0;
  std::vector<int> launched_;  ///< connected by this turn of advance(), to send
  std::vector<std::pair<int, std::size_t>> waiting_;  ///< unit, its index in the waits
  HostLookUp lookUp_;
  /// Shared with the lookup threads, which may outlive the engine; made
  /// with the first lookup.
  std::shared_ptr<LookUps> lookUps_;
  std::size_t lookUpWait_ = SIZE_MAX;  ///< its index in the waits, if there
};

/// Waits for `waits` until `deadlineUs` on monotonicUs(), to the
/// microsecond where the platform allows, but at most 50 ms, so that the
/// loop that calls it sees `stop` turn true in time.
void waitUntil(std::vector<SocketWait>& waits, std::int64_t deadlineUs,
               const std::atomic<bool>& stop);
/// As above, for an owner that learns of its stop through one of `waits`.
void waitUntil(std::vector<SocketWait>& waits, std::int64_t deadlineUs);

#endif
