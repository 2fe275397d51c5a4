#ifndef VANTREL_SERVICE_UNITS_SERVICE_HPP
#define VANTREL_SERVICE_UNITS_SERVICE_HPP

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "engine/fade_engine.hpp"
#include "link/socket_wait.hpp"
#include "schedules/schedule_record.hpp"
#include "service/clock_change.hpp"
#include "service/levels_writer.hpp"
#include "service/light_command.hpp"
#include "service/refresh_schedule.hpp"
#include "service/start_up.hpp"
#include "service/unit_command.hpp"
#include "units/remembered_levels.hpp"
#include "units/saved_scenes.hpp"
#include "units/scene_saving.hpp"
#include "units/units_file.hpp"

/// What the service knows of a unit: only what the unit confirmed.
struct UnitState {
  int level = -1;       ///< the level last confirmed, -1 when not known
  int lastOn = -1;      ///< the last level above 0 it confirmed as a command's target, or -1
  int sent = -1;        ///< the byte `level` was sent as, through the unit's curve; -1 when not known
  std::string problem;  ///< "" or why its last command failed: see kProblem*
  /// While `level` is not known since the machine booted: the level
  /// remembered from before and when it was confirmed (ms since 1970 UTC),
  /// as a hint; -1 and 0 when none is remembered.
  int rememberedLevel = -1;
  std::int64_t rememberedMs = 0;
};

/// What the service knows of a unit named by key: `confirmed` (level -1
/// when not known since the boot) and, while it is not known, what is
/// remembered from before.
struct KeyedLevels {
  RememberedLevel confirmed;
  RememberedLevel remembered;
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
    const ::Unit* file = nullptr;  ///< what the units file says of it
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
  struct Schedule {
    const ::Schedule* file = nullptr;          ///< what the units file says of it
    bool on = true;                            ///< switched on (switchSchedule())
    std::optional<std::int64_t> nextMs;        ///< its next firing, UTC ms; none when off or never
    /// The firing it last carried out, or when it was last turned on if later.
    std::optional<std::int64_t> lastFiredMs;
  };
  std::vector<Schedule> schedules;  ///< in file order
  /// The saved scenes that the file's do not shadow, in the order saved.
  std::vector<std::string> savedScenes;
  LevelsFileState levelsFile;       ///< whether the confirmed levels reach their file
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
  /// The levels file began or ceased to take the confirmed levels.
  virtual void levelsFileChanged(const LevelsFileState&) {}
  /// Schedule `schedule` (index into UnitsFile::schedules) was switched on or off, or its next
  /// firing changed (it fired, or the clock was set).
  virtual void scheduleChanged(int /*schedule*/, const ServiceSnapshot::Schedule& /*state*/) {}
  /// A scene was saved or removed: `saved` names every saved scene now, as the snapshot does.
  virtual void savedScenesChanged(const std::vector<std::string>& saved) { (void)saved; }

 protected:
  ~ServiceListener() = default;
};

/// Follows one command to each unit's end (a local client's). Called on
/// the service's thread, as ServiceListener is: return at once.
class FadeFollower {
 public:
  virtual ~FadeFollower() = default;
  /// First, once: each unit's level as the service knew it before (-1: not
  /// known), in the command's order.
  virtual void accepted(const std::vector<int>& known) = 0;
  /// As EngineListener's, with each unit's place in the command.
  virtual void commandEnded(int position, int level, const CommandResult& result,
                            std::int64_t beganUs) = 0;
  virtual void fadeEnded(int position, const FadeEnd& end) = 0;
};

/// The units of one units file, their fades on one engine, their confirmed
/// levels remembered, for any number of front ends at once. Every call is
/// thread-safe unless it says otherwise.
class UnitsService : private EngineListener {
 public:
  /// Reads the levels remembered in `levelsPath` (levelsFilePath()). Of
  /// these it knows those confirmed since `start.knownSinceMs` within the
  /// same boot; after a boot none, until each unit confirms one, and start()
  /// carries out the file's on_start.
  UnitsService(const UnitsFile& file, std::string levelsPath, StartFacts start = {});
  ~UnitsService();  ///< as stop()
  UnitsService(const UnitsService&) = delete;
  UnitsService& operator=(const UnitsService&) = delete;

  /// The file it serves, for names to indices (findUnit(), findGroup(),
  /// findScene()). Never changes.
  const UnitsFile& file() const { return file_; }

  /// Before start() only, from the thread that starts it.
  void addListener(ServiceListener& listener);
  /// Before start() only: where a line (for --verbose) goes of each schedule's firing and catch-up.
  void setScheduleNotes(std::function<void(const std::string&)> note);
  /// The levels file it keeps, as given; its schedules' record is beside it.
  const std::string& levelsPath() const { return levelsPath_; }
  /// Turns schedule `schedule` (index into file().schedules) on or off, remembered across
  /// restarts; one turned on fires from its next time, nothing missed.
  void switchSchedule(int schedule, bool on);
  /// Starts the service's thread. False, with `problem`, when it cannot.
  bool start(std::string& problem);
  /// Ends running fades (each unit keeps the level it confirmed; listeners
  /// and followers hear nothing more) and joins the service's thread, well within a
  /// second: from then on snapshot() holds the last confirmed levels, and
  /// commands submitted are never carried out. Called again, it does
  /// nothing more.
  void halt();
  /// As halt(), then writes the levels and joins the writer's thread.
  /// Called again, or by the destructor, it does nothing more.
  void stop();

  /// Queue a command; the service's thread carries it out soon after, in
  /// the order submitted, and never waits for it here. Its indices are
  /// valid (file().findUnit() and the like). A new command for a unit
  /// replaces its running fade, whose owner hears `from`. The units of one
  /// command fade in step. ON is resolved per unit, on the service's
  /// thread, from its last level above 0 and its on_level. Units named by
  /// key outside the file are driven all the same, for as long as their
  /// fades run (their levels remembered, not published); a unit of the
  /// file is published as for any command. A follower first hears
  /// accepted(), with each unit's level as the service knew it.
  void submit(UnitCommand command);
  /// What a front end's command names, by index into file().
  enum class Target { Unit, Group, Scene };

  /// Stops the fades that `follower` follows and no newer command took over,
  /// as Stopped; their units keep the level they last confirmed.
  void stopFollowing(std::shared_ptr<FadeFollower> follower);
  /// What the service knows of each of `keys`: confirmed level -1 for a
  /// unit whose level it does not know.
  std::vector<KeyedLevels> levelsOf(const std::vector<UnitKey>& keys) const;

  ServiceSnapshot snapshot() const;

  /// Saves scene `name` of the units and groups `targets` names in file(), none for every unit,
  /// as the other saveScene().
  bool saveScene(const std::string& name, const std::vector<std::string>& targets,
                 SceneSaving& saving);
  /// Saves the units `saving` chose (chooseSceneUnits(), by key, of the file or not; refused as
  /// refuseSceneName() refuses by the service's own file, which a tool's may not be) at the level
  /// each last confirmed, never a fade's target in flight; those not known are left out
  /// (saving.leftOut). Written to savedScenesPath() of the levels path with no lock of the
  /// service held, on the caller's thread. False with saving.problem, one line, when refused or
  /// not written; on success the listeners hear savedScenesChanged() on the service's thread.
  bool saveScene(SceneSaving& saving);
  /// What a removal came to.
  enum class Removal { Removed, Written, NotSaved, NotWritten };
  /// Removes the saved scene `name`, as saveScene() writes. Anything but Removed comes with
  /// `problem`, one line: removalProblem() for a scene the file writes or none saved, else
  /// notRemovedLine().
  Removal removeSavedScene(const std::string& name, std::string& problem);
  /// The saved scenes that the file's do not shadow, in the order saved.
  std::vector<SavedScene> savedScenes() const;
  /// The saved scene `name`, when there is one and the file writes none of that name.
  bool findSavedScene(const std::string& name, SavedScene& scene) const;

 private:
  struct ScheduleSwitch {
    int schedule = 0;
    bool on = true;
  };
  /// A command, a stop of what a follower follows, or a schedule switched.
  using Queued = std::variant<UnitCommand, std::shared_ptr<FadeFollower>, ScheduleSwitch>;
  /// Who a unit's running fade answers to, and who takes it over next.
  struct Owner {
    std::shared_ptr<FadeFollower> follower;
    int position = 0;
    std::string from;
    /// The service's own command (a refresh, a flash's blink): what it
    /// confirms is no news to the front ends unless it ends a problem.
    bool quiet = false;
    bool blink = false;  ///< a flash's: not even the level it confirms is news
  };
  /// A flash in progress: blinks between 0 and `high` every half second
  /// until `untilUs`, then `after`.
  struct Flash {
    std::int64_t nextUs = 0;  ///< the next blink, or 0: no flash
    std::int64_t untilUs = 0;
    int high = 255;
    int after = 0;
    bool lit = false;  ///< what the last blink sent
    std::string from;
  };
  struct Driven {
    Owner owner;
    Owner next;
    bool running = false;
    bool hasNext = false;  ///< a newer command waits for the command in flight
  };
  /// One unit the service drives, of the file or named by a tool: the
  /// engine's unit of the same index. A unit property is a field of the
  /// file's `Unit`, reached through `file`.
  struct ServedUnit {
    UnitKey key;
    std::string name;          ///< for the service's own messages
    const Unit* file = nullptr;  ///< what the units file says of it; null outside the file
    // The service thread's own:
    Driven driven;
    /// Driven by a stream (UnitCommand::settleUs): when it counts as
    /// settled (INT64_MAX while a command is in flight), or 0 when not
    /// streamed; and the stream's settle time.
    std::int64_t settleUs = 0;
    std::int64_t settleForUs = 0;
    /// The level it should be at: its confirmed level, or the target of its
    /// last command when that failed; -1 when not known.
    int owed = -1;
    RefreshSchedule refresh;
    std::int64_t refreshDueUs = 0;  ///< 0: none due
    Flash flash;
    bool untold = false;  ///< a quiet command's step changed its level or problem
    // Under mutex_:
    UnitState state;
    std::int64_t confirmedMs = 0;  ///< when its level was confirmed, or 0

    int toolsOnLevel = 255;  ///< outside the file: the on_level its tool gave
    /// The level ON gives it: the file's on_level, or its tool's.
    int onLevel() const { return file != nullptr ? file->onLevel : toolsOnLevel; }
  };
  void queue(Queued queued);
  void serve();
  /// Starts a command's fades, on the service's thread.
  void carryOut(const UnitCommand& command);
  /// The queued commands carried out; false when the service stops.
  bool takeQueued();
  void stopFades(const FadeFollower* follower);
  /// The earliest refresh or blink due, INT64_MAX for none.
  std::int64_t timersDueUs() const;
  /// Sends the refreshes and blinks due by now.
  void runTimers();
  /// The command of the file's on_start, after a boot: queued before the
  /// thread starts.
  void queueStartCommands(const RememberedLevels& remembered);
  void startFlash(int unit, const LightCommand& light, const std::string& from);
  /// Starts `plan` on `unit` for `owner`, which it now answers to.
  void drive(int unit, const FadePlan& plan, Owner owner);
  /// The engine's unit for `key`: a unit outside the file is added, with
  /// its remembered level.
  /// `remembered`, read at the first unit it needs, serves the rest of the
  /// command.
  int unitFor(const KeyedUnit& named, std::unique_ptr<RememberedLevels>& remembered);
  void commandEnded(int unit, int level, const CommandResult& result,
                    std::int64_t beganUs) override;
  void fadeEnded(int unit, const FadeEnd& end) override;
  /// A replaced fade: its owner hears who replaced it, the next owner takes over.
  void handOver(int unit, const FadeEnd& end);
  /// What an end leaves: LAST_ON or the problem, the failure's line, the
  /// level remembered, the level owed and the next refresh. True when a
  /// quiet command changed the unit's level or problem.
  bool keepEnd(int unit, const FadeEnd& end, bool quiet);
  /// The front ends hear of the end, or a console's stream settles later;
  /// of a quiet one only when it `changed` something.
  void tellEnd(int unit, const FadeEnd& end, bool quiet, bool changed);
  void notify(int unit, bool commandEnded);
  int levelOfGroup(int group) const;  ///< under mutex_
  void report(int unit, const std::string& text);
  /// Fires the schedules due by the wall clock now, and at start or after the clock was set
  /// (`catchingUp`) what was missed within catch_up; then plans the next.
  void checkSchedules(bool catchingUp);
  /// Each schedule's next firing (`all` anew, else those passed or fired), and when on
  /// monotonicUs() the first of them is due.
  void planSchedules(bool all);
  /// Remembers the firing, then carries it out: of `only` units when given; `late` for a
  /// catch-up's, `intoOverUs` into its fade.
  void fireSchedule(int schedule, std::int64_t firedAtMs, const std::vector<int>* only, bool late,
                    std::int64_t intoOverUs);
  /// Writes the schedules' record (taken under mutex_) before what it records is done.
  void rememberSchedules();
  /// Tells every listener of schedule `schedule` as it is now.
  void tellSchedule(int schedule);
  /// The names of savedScenes(), copying no unit.
  std::vector<std::string> savedSceneNames() const;
  /// Reads the saved scenes anew after a change and has the listeners told.
  void savedScenesWritten();
  /// The saved scene's units of the file at their levels, into `units` and `levels`.
  void recallSaved(const std::string& name, std::vector<int>& units, std::vector<int>& levels);

  const UnitsFile file_;
  const std::string levelsPath_;
  const StartFacts start_;
  std::vector<ServiceListener*> listeners_;
  // The service thread's own.
  bool shuttingDown_ = false;
  std::vector<int> groupLevels_;           ///< as last told
  void settleStreams();
  std::unique_ptr<FadeEngine> engine_;
  LevelsWriter writer_;
  WakeUp wake_;
  ClockChange clockChange_;
  std::function<void(const std::string&)> scheduleNotes_;
  std::int64_t scheduleDueUs_ = INT64_MAX;  ///< on monotonicUs(), the next schedule's firing

  mutable std::mutex mutex_;  ///< guards what follows
  /// The engine's units: those of the file first, in its order, then
  /// those that local clients named. Added to on the service's thread
  /// alone, under mutex_, so that thread reads its own fields without it.
  std::vector<ServedUnit> units_;
  std::map<UnitKey, int> unitOfKey_;
  std::deque<Queued> queued_;
  bool stopping_ = false;
  bool levelsFileChanged_ = false;  ///< the writer's state is to be told
  ScheduleRecord scheduleRecord_;   ///< each schedule of the file, on or off, last fired
  std::vector<std::optional<std::int64_t>> nextFiringMs_;  ///< by schedule, UTC ms
  bool savedScenesChanged_ = false;  ///< the saved scenes are to be told

  mutable std::mutex savedMutex_;  ///< guards savedScenes_; never held across the disk
  SavedScenes savedScenes_;

  std::thread thread_;
};

#endif
