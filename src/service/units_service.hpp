#ifndef VANTREL_SERVICE_UNITS_SERVICE_HPP
#define VANTREL_SERVICE_UNITS_SERVICE_HPP

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "engine/fade_engine.hpp"
#include "link/socket_wait.hpp"
#include "service/levels_writer.hpp"
#include "service/light_command.hpp"
#include "units/units_file.hpp"

/// What the service knows of a unit: only what the unit confirmed.
struct UnitState {
  int level = -1;       ///< the level last confirmed, -1 when not known
  int lastOn = -1;      ///< the last level above 0 it confirmed as a command's target, or -1
  std::string problem;  ///< "" or why its last command failed: see kProblem*
};

/// The words of UnitState::problem.
extern const char kProblemRefused[];     ///< "refused"
extern const char kProblemNoReply[];     ///< "no reply"
extern const char kProblemWrongReply[];  ///< "wrong reply"
extern const char kProblemNoAddress[];   ///< "lookup failed": its host name did not resolve

/// A group's level from its members' levels (-1 unknown): the mean of those
/// above 0, rounded down; 0 when some are known and none is on; -1 when none
/// is known.
int groupLevel(const std::vector<int>& memberLevels);

/// Everything the service knows at one moment, for a front end's first
/// look (an API's state, a stream's first event, publishing on connect).
struct ServiceSnapshot {
  struct Unit {
    std::string name;
    UnitState state;
  };
  struct Group {
    std::string name;
    std::vector<std::string> members;
    int level = -1;  ///< groupLevel() of its members
  };
  std::vector<Unit> units;          ///< in file order
  std::vector<Group> groups;        ///< in file order
  std::vector<std::string> scenes;  ///< in file order
};

/// A front end's ear on the service. Called on the service's thread, which
/// runs the fades: return at once, never block or wait on a lock that a
/// thread holds while it waits for something else.
class ServiceListener {
 public:
  /// Unit `unit` (index into UnitsFile::units) confirmed a new level, or its
  /// problem changed; `commandEnded` when its command is over, confirmed or
  /// not (during a fade, every confirmed step comes with false).
  virtual void unitChanged(int unit, const UnitState& state, bool commandEnded) = 0;
  /// Group `group`'s level changed, or a member's command ended; called
  /// after the unitChanged() that caused it.
  virtual void groupChanged(int group, int level, bool commandEnded) = 0;

 protected:
  ~ServiceListener() = default;
};

/// The units of one units file, their fades on one engine, their confirmed
/// levels remembered, for any number of front ends at once. Every call is
/// thread-safe unless it says otherwise.
class UnitsService : private EngineListener {
 public:
  /// Reads the levels remembered in `levelsPath` (levelsFilePath()).
  UnitsService(const UnitsFile& file, std::string levelsPath);
  ~UnitsService();  ///< as stop()
  UnitsService(const UnitsService&) = delete;
  UnitsService& operator=(const UnitsService&) = delete;

  /// The file it serves, for names to indices (findUnit(), findGroup(),
  /// findScene()). Never changes.
  const UnitsFile& file() const { return file_; }

  /// Before start() only, from the thread that starts it.
  void addListener(ServiceListener& listener);
  /// Starts the service's thread. False, with `problem`, when it cannot.
  bool start(std::string& problem);
  /// Ends running fades (each unit keeps the level it confirmed; listeners
  /// hear nothing more), writes the levels and joins its threads, well
  /// within a second. Stop the front ends first, so that no command comes
  /// after. Called again, or by the destructor, it does nothing more.
  void stop();

  /// Queue a command; the service's thread carries it out soon after, in
  /// the order submitted, and never waits for it here. `unit`, `group` and
  /// `scene` are valid indices (file().findUnit() and the like). A new
  /// command for a unit replaces its running fade. `transitionUs` (0..24 h,
  /// the front end's default already applied) 0: one command to the level;
  /// more: a fade from the confirmed level (straight to the level when it is
  /// not known). A group's or a scene's units fade in step. ON is resolved
  /// per unit, on the service's thread, from its last level above 0.
  void submitUnit(int unit, const LightCommand& command, std::int64_t transitionUs);
  void submitGroup(int group, const LightCommand& command, std::int64_t transitionUs);
  void submitScene(int scene, std::int64_t transitionUs);

  enum class Target { Unit, Group, Scene };
  /// A front end's command as it came: `payload` read by readLightCommand()
  /// (readSceneCommand() for a scene) and submitted to `index`, with
  /// `defaultTransitionUs` when it gives none. False, with the reader's
  /// `problem`, when the payload is wrong: nothing is submitted.
  bool submitCommand(Target target, int index, std::string_view payload,
                     std::int64_t defaultTransitionUs, std::string& problem);

  ServiceSnapshot snapshot() const;

 private:
  struct Order {
    std::vector<int> units;
    LightCommand command;  ///< state None with scene levels in `levels`
    std::vector<int> levels;
    std::int64_t transitionUs = 0;
  };
  void submit(Order order);
  void serve();
  /// Starts the fades of an order, on the service's thread.
  void startFades(const Order& order);
  void commandEnded(int unit, int level, const CommandResult& result,
                    std::int64_t beganUs) override;
  void fadeEnded(int unit, const FadeEnd& end) override;
  void notify(int unit, bool commandEnded);
  int levelOfGroup(int group) const;  ///< under mutex_
  void report(int unit, const std::string& text);

  const UnitsFile file_;
  std::vector<ServiceListener*> listeners_;
  // The service thread's own.
  std::vector<int> groupLevels_;           ///< as last told
  std::unique_ptr<FadeEngine> engine_;
  LevelsWriter writer_;
  WakeUp wake_;

  mutable std::mutex mutex_;  ///< guards what follows
  std::vector<UnitState> states_;
  std::deque<Order> orders_;
  bool stopping_ = false;

  std::thread thread_;
};

#endif
