#include "engine/fade_engine.hpp"

#include <algorithm>
#include <climits>
#include <mutex>
#include <thread>
#include <utility>

#include "common/ipv4_address.hpp"
#include "common/platform.hpp"
#include "common/wall_clock.hpp"
#include "engine/verdicts.hpp"
#include "link/host_lookup.hpp"

namespace {

// Beyond this many connections at once a large installation would run out
// of descriptors (and Windows' select() of room): later commands wait for a
// free one.
const int kMostInFlight = 512;

bool lookUpHost(const std::string& host, std::string& dotted, std::string& why) {
  char address[16];
  char reason[128];
  if (!lookUpIPv4(host.c_str(), address, reason)) {
    why = reason;
    return false;
  }
  dotted = address;
  return true;
}

}  // namespace

struct FadeEngine::Run {
  EngineUnit unit;
  std::string dotted;  ///< its address, once known
  bool addressKnown = false;
  bool lookingUp = false;  ///< a lookup thread of its own is out
  int known = -1;
  ConfirmedLevel confirmed;

  bool active = false;
  FadePlan plan;
  FadeSchedule schedule{0, 0, 0, 0};
  int from = -1;
  int command = 0;  ///< the schedule's command that is due or in flight
  int lastByte = -1;  ///< the byte this fade's last confirmed command sent
  int attempt = 1;
  int tries = 1;    ///< of this command
  std::int64_t zeroUs = 0;
  std::int64_t dueUs = 0;
  bool waitingForAddress = false;
  std::int64_t lookUpDeadlineUs = 0;
  std::string lookUpFailure;

  bool flying = false;
  PendingCommand pending;
  std::int64_t beganUs = 0;
  std::int64_t exchangeUs = 0;  ///< how long the last try took
  CommandResult last;

  bool replaced = false;
  FadePlan next;

  /// The byte a level of this fade is sent as.
  int byteOf(int level) const { return plan.bytes ? level : unit.curve.byte(level); }
  /// The level, in the user's scale, that a level of this fade leaves.
  int levelOf(int level) const { return plan.bytes ? unit.curve.levelAtLeast(level) : level; }
  int triesEach() const { return plan.tries; }
  std::int64_t timeoutUs() const { return plan.timeoutUs; }
};

struct FadeEngine::LookUps {
  struct Found {
    int unit = 0;
    bool ok = false;
    std::string dotted;
    std::string why;
  };
  NetworkStack stack;  // for the wake-up's socket on Windows
  WakeUp wakeUp;
  std::mutex mutex;
  std::vector<Found> found;
};

FadeEngine::FadeEngine(std::int64_t timeoutUs, int tries, EngineListener& listener)
    : timeoutUs_(timeoutUs), tries_(tries), listener_(listener), lookUp_(lookUpHost) {
  wakeOnTime();
}

FadeEngine::~FadeEngine() = default;

int FadeEngine::addUnit(const EngineUnit& unit) {
  runs_.push_back(std::make_unique<Run>());
  Run& run = *runs_.back();
  run.unit = unit;
  // A dotted address needs no lookup, nor a thread for one.
  std::uint32_t unused;
  if (parseIPv4(unit.address.c_str(), unused)) {
    run.dotted = unit.address;
    run.addressKnown = true;
  }
  return static_cast<int>(runs_.size()) - 1;
}

void FadeEngine::lookUpWith(HostLookUp lookUp) {
  lookUp_ = std::move(lookUp);
}

int FadeEngine::knownLevel(int unit) const {
  return at(unit).known;
}

const ConfirmedLevel& FadeEngine::confirmed(int unit) const { return at(unit).confirmed; }

void FadeEngine::setKnownLevel(int unit, int level, int lastOn) {
  at(unit).known = level;
  at(unit).confirmed.lastOn = lastOn;
}

void FadeEngine::startFade(int unit, const FadePlan& plan) {
  Run& run = at(unit);
  if (!run.active) {
    begin(unit, plan);
    return;
  }
  run.replaced = true;
  run.next = plan;
  if (!run.flying) {
    end(unit, FadeEnd::How::Replaced);
    begin(unit, plan);
  }
}

bool FadeEngine::busy() const {
  for (const auto& run : runs_) {
    if (run->active)
      return true;
  }
  return false;
}

void FadeEngine::stopAll() {
  for (std::size_t i = 0; i < runs_.size(); ++i)
    stop(static_cast<int>(i));
}

void FadeEngine::stop(int unit) {
  Run& run = at(unit);
  if (!run.active)
    return;
  if (run.flying) {
    run.pending.abandon(LinkFailure::Stopped);
    run.last = run.pending.result();
    run.flying = false;
    --inFlight_;
  }
  run.replaced = false;
  end(unit, FadeEnd::How::Stopped);
}

void FadeEngine::begin(int unit, const FadePlan& plan) {
  Run& run = at(unit);
  run.plan = plan;
  if (run.plan.tries <= 0)
    run.plan.tries = tries_;
  if (run.plan.timeoutUs <= 0)
    run.plan.timeoutUs = timeoutUs_;
  run.replaced = false;
  const int known = plan.bytes && run.known >= 0 ? run.unit.curve.byte(run.known) : run.known;
  run.from = !plan.fade ? -1 : plan.from == FadePlan::kFromKnown ? known : plan.from;
  // Without a level to start from there is nothing to fade: one command,
  // tried as a last one is.
  run.schedule = run.from < 0 ? FadeSchedule(plan.to, plan.to, 0, 0)
                              : FadeSchedule(run.from, plan.to, plan.overUs, plan.steps);
  run.command = 0;
  run.lastByte = -1;
  run.attempt = 1;
  run.tries = run.triesEach();
  run.zeroUs = plan.zeroUs;
  run.dueUs = plan.zeroUs;
  run.last = CommandResult();
  run.lookUpFailure.clear();
  run.active = true;
  if (!run.addressKnown)
    lookUp(unit, monotonicUs());
}

// One thread at most per unit: a name that never answers holds one thread,
// however often its fade is started again.
void FadeEngine::lookUp(int unit, std::int64_t nowUs) {
  Run& run = at(unit);
  run.waitingForAddress = true;
  run.lookUpDeadlineUs = nowUs + run.timeoutUs();
  if (run.lookingUp)
    return;
  if (!lookUps_)
    lookUps_ = std::make_shared<LookUps>();
  run.lookingUp = true;
  std::thread([lookUps = lookUps_, lookUp = lookUp_, unit, host = run.unit.address] {
    LookUps::Found found;
    found.unit = unit;
    found.ok = lookUp(host, found.dotted, found.why);
    std::lock_guard<std::mutex> lock(lookUps->mutex);
    lookUps->found.push_back(std::move(found));
    lookUps->wakeUp.signal();
  }).detach();
}

void FadeEngine::takeAddresses() {
  std::vector<LookUps::Found> found;
  {
    std::lock_guard<std::mutex> lock(lookUps_->mutex);
    found.swap(lookUps_->found);
  }
  for (const LookUps::Found& address : found) {
    Run& run = at(address.unit);
    run.lookingUp = false;
    // A late answer is kept for the next fade, even when this one gave up.
    if (address.ok) {
      run.dotted = address.dotted;
      run.addressKnown = true;
    }
    if (!run.waitingForAddress)
      continue;
    run.waitingForAddress = false;
    if (!address.ok) {
      run.lookUpFailure = address.why;
      end(address.unit, FadeEnd::How::NotStarted);
    }
  }
}

void FadeEngine::end(int unit, FadeEnd::How how) {
  Run& run = at(unit);
  run.active = false;
  run.waitingForAddress = false;
  FadeEnd ended;
  ended.how = how;
  ended.from = run.from;
  ended.to = run.plan.to;
  ended.tries = run.tries;
  ended.last = run.last;
  ended.lookUpFailure = run.lookUpFailure;
  if (how == FadeEnd::How::Confirmed && ended.to > 0)
    run.confirmed.lastOn = run.levelOf(ended.to);
  ended.confirmed = run.confirmed;
  listener_.fadeEnded(unit, ended);
}

void FadeEngine::launch(int unit, std::int64_t nowUs) {
  Run& run = at(unit);
  const int level = run.schedule.level(run.command);
  run.flying = true;
  ++inFlight_;
  run.beganUs = nowUs;
  run.pending.connect(run.dotted.c_str(), run.unit.port,
                      buildCommandFrame(run.unit.type,
                                        static_cast<unsigned char>(run.byteOf(level))));
  if (run.pending.finished())
    complete(unit, monotonicUs());
  else
    launched_.push_back(unit);
}

void FadeEngine::complete(int unit, std::int64_t nowUs) {
  Run& run = at(unit);
  run.flying = false;
  --inFlight_;
  run.last = run.pending.result();
  run.exchangeUs = nowUs - run.beganUs;
  const int level = run.schedule.level(run.command);
  if (run.last.confirmed()) {
    run.known = run.levelOf(level);
    run.lastByte = run.byteOf(level);
    run.confirmed.level = run.known;
    run.confirmed.sent = run.lastByte;
    run.confirmed.atMs = wallClockMs();
  }
  if (run.command == 0 && run.last.confirmed() && run.plan.zero == FadePlan::Zero::FirstConfirmed)
    run.zeroUs = run.beganUs;
  listener_.commandEnded(unit, level, run.last, run.beganUs);

  if (run.replaced) {
    end(unit, FadeEnd::How::Replaced);
    begin(unit, run.next);
    return;
  }
  if (!run.last.confirmed() && run.attempt < run.tries) {
    ++run.attempt;
    run.dueUs = nowUs + kPauseAfterFailedTryUs;
    return;
  }
  const int steps = run.schedule.steps();
  if (run.command == steps) {
    end(unit, run.last.confirmed() ? FadeEnd::How::Confirmed : FadeEnd::How::NotConfirmed);
    return;
  }
  if (run.command == 0 && !run.last.confirmed()) {
    end(unit, FadeEnd::How::NotStarted);
    return;
  }
  // The fade's own clock is the run's: retries of the first command, and
  // slow units, make it coarser, never longer. A failed command between the
  // first and the last is passed over; the next level supersedes it.
  run.command = run.schedule.next(run.command, nowUs - run.zeroUs, run.exchangeUs);
  // The levels are strictly monotonic and the curve never falls, so a byte
  // sent again could only follow the one before.
  while (run.command < steps && run.byteOf(run.schedule.level(run.command)) == run.lastByte)
    ++run.command;
  if (run.command == steps && run.byteOf(run.plan.to) == run.lastByte) {
    run.known = run.levelOf(run.plan.to);
    run.confirmed.level = run.known;
    run.confirmed.atMs = wallClockMs();
    end(unit, FadeEnd::How::Confirmed);
    return;
  }
  run.attempt = 1;
  run.tries = run.command == steps ? run.triesEach() : 1;
  run.dueUs = run.zeroUs + run.schedule.dueUs(run.command);
}

void FadeEngine::addWaits(std::vector<SocketWait>& waits) {
  waiting_.clear();
  lookUpWait_ = SIZE_MAX;
  if (lookUps_ && lookUps_->wakeUp.ok()) {
    lookUpWait_ = waits.size();
    SocketWait wait;
    wait.handle = lookUps_->wakeUp.handle();
    wait.read = true;
    waits.push_back(wait);
  }
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    const Run& run = *runs_[i];
    if (!run.flying)
      continue;
    waiting_.emplace_back(static_cast<int>(i), waits.size());
    SocketWait wait;
    wait.handle = run.pending.handle();
    wait.write = run.pending.wantsWrite();
    wait.read = !wait.write;
    waits.push_back(wait);
  }
}

std::int64_t FadeEngine::nextDueUs() const {
  std::int64_t next = INT64_MAX;
  for (const auto& run : runs_) {
    if (run->flying)
      next = std::min(next, run->beganUs + run->timeoutUs());
    else if (run->waitingForAddress)
      next = std::min(next, run->lookUpDeadlineUs);
    else if (run->active && inFlight_ < kMostInFlight)
      next = std::min(next, run->dueUs);
  }
  return next;
}

void FadeEngine::advance(const std::vector<SocketWait>& waits) {
  // Answers first: they decide when each unit's next command is due.
  for (const auto& [unit, index] : waiting_) {
    Run& run = at(unit);
    if (index >= waits.size() || !waits[index].ready || !run.flying)
      continue;
    run.pending.proceed();
    if (run.pending.finished())
      complete(unit, monotonicUs());
  }
  waiting_.clear();
  if (lookUps_) {
    if (lookUpWait_ < waits.size() && waits[lookUpWait_].ready)
      lookUps_->wakeUp.drain();
    takeAddresses();
  }
  lookUpWait_ = SIZE_MAX;
  std::int64_t now = monotonicUs();
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    Run& run = *runs_[i];
    if (run.flying && now >= run.beganUs + run.timeoutUs()) {
      run.pending.abandon(LinkFailure::TimedOut);
      complete(static_cast<int>(i), now);
    } else if (run.waitingForAddress && now >= run.lookUpDeadlineUs) {
      run.lookUpFailure = "timed out";
      end(static_cast<int>(i), FadeEnd::How::NotStarted);
    }
  }
  for (std::size_t i = 0; i < runs_.size(); ++i) {
    Run& run = *runs_[i];
    if (inFlight_ >= kMostInFlight)
      break;
    if (run.active && !run.flying && !run.waitingForAddress && run.dueUs <= now) {
      launch(static_cast<int>(i), now);
      now = monotonicUs();
    }
  }
  // Commands due together leave together: every connect first, then every
  // send, so that units in step stay a send apart, not a connect.
  for (const int unit : launched_) {
    Run& run = at(unit);
    run.pending.sendEarly();
    if (run.pending.finished())
      complete(unit, monotonicUs());
  }
  launched_.clear();
}

void FadeEngine::run(const std::atomic<bool>& stop) {
  std::vector<SocketWait> waits;
  while (busy() && !stop.load()) {
    waits.clear();
    addWaits(waits);
    waitUntil(waits, nextDueUs(), stop);
    advance(waits);
  }
  if (stop.load())
    stopAll();
}

void waitUntil(std::vector<SocketWait>& waits, std::int64_t deadlineUs,
               const std::atomic<bool>& stop) {
  // A signal ends the wait at once; a stop from elsewhere (a Windows
  // console handler) is seen at the next turn of the caller's loop.
  const std::int64_t kStopCheckUs = 50000;
  const std::int64_t leftUs = deadlineUs - monotonicUs();
  const std::int64_t slackUs = plainWaitSlackUs();
  if (leftUs <= 0 || stop.load())
    return;
  if (leftUs > slackUs)
    waitForSockets(waits, std::min(leftUs - slackUs, kStopCheckUs));
  else
    sleepUntil(deadlineUs, stop);  // precise, at the cost of not watching the sockets
}

void waitUntil(std::vector<SocketWait>& waits, std::int64_t deadlineUs) {
  static const std::atomic<bool> kNoStop{false};
  waitUntil(waits, deadlineUs, kNoStop);
}
