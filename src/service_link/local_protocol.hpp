#ifndef VANTREL_SERVICE_LINK_LOCAL_PROTOCOL_HPP
#define VANTREL_SERVICE_LINK_LOCAL_PROTOCOL_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/output_curve.hpp"
#include "engine/fade_engine.hpp"
#include "units/remembered_levels.hpp"
#include "units/saved_scenes.hpp"
#include "units/scene_saving.hpp"

/// What vantrel and vantrel-fade say to vantreld over its local socket, and
/// what it says back: one JSON object a line. vantreld(8) documents it.
///
/// Each side's first line is {"protocol": N}; a side that does not speak
/// the other's N says so in an {"error": ...} line and closes. Then the tool
/// sends one request: {"fade": ...}, {"levels": ...}, {"save": {"name": N, "units": [...]}},
/// {"remove": N} or {"saved_scenes": true}, and for a fade
/// that it waits for, {"stop": true} when it is interrupted.

/// The version both sides must speak.
constexpr int kLocalProtocol = 1;
/// The longest line either side takes, its newline included.
constexpr std::size_t kLocalLineBytes = 64 * 1024;

/// A unit that a request names: where it is, what the tool calls it, and
/// the level it is to reach.
struct LocalUnit {
  UnitKey key;
  std::string name;
  /// 0..255, or kOn: the unit's last level above 0 (255 when none is known).
  int to = 0;
  static constexpr int kOn = -1;
  /// How its levels become bytes and what ON gives, as the tool's units
  /// file says: the service takes them for a unit its own file does not
  /// name. Said on the socket only when not the defaults.
  OutputCurve curve{};
  int onLevel = 255;
};

/// A fade of one or more units in step, as FadePlan says it for each.
struct LocalFade {
  std::vector<LocalUnit> units;
  bool fade = false;  ///< false: one command to each unit's level
  int from = FadePlan::kFromKnown;
  std::int64_t overUs = 0;
  int steps = 0;
  /// Time 0 on the shared monotonic clock (monotonicUs()): the tool's.
  std::int64_t zeroUs = 0;
  bool zeroAtFirstConfirmed = false;  ///< FadePlan::Zero::FirstConfirmed
  std::int64_t timeoutUs = 1000000;
  int tries = 3;
  /// false: the service answers "accepted" only, and the fade goes on
  /// whatever the tool does next.
  bool wait = true;
  /// Each unit's levels are bytes, sent as they are whatever its curve:
  /// vantrel-fade's, which names no unit of a file.
  bool bytes = false;
};

/// One line from a tool.
struct LocalRequest {
  enum class Kind { Protocol, Fade, Levels, Stop, Save, Remove, SavedScenes };
  Kind kind = Kind::Protocol;
  int protocol = 0;            ///< Protocol
  LocalFade fade;              ///< Fade
  std::vector<UnitKey> keys;   ///< Levels
  std::string scene;           ///< Save, Remove: the saved scene's name
  std::vector<SavedUnit> units;  ///< Save: the units chosen (chooseSceneUnits()), levels unused
};

/// Reads one line from a tool (without its newline). False, with `problem`
/// in a few words, when it is not a request this service takes.
bool readLocalRequest(std::string_view line, LocalRequest& request, std::string& problem);

/// What a levels reply says beside a level -1 of a unit the service
/// drives: that it does not know the level (never confirmed, or not since
/// the machine started), and the level confirmed before, as a hint: the
/// unit may have been switched since. A level -1 without it is a unit the
/// service does not drive, as before this was said.
struct LocalNotKnown {
  bool notKnown = false;
  int level = -1;         ///< 0..255, or -1: none remembered
  std::int64_t atMs = 0;  ///< when it was confirmed: ms since 1970-01-01 UTC
};

/// One line from the service.
struct LocalReply {
  enum class Kind { Protocol, Error, Accepted, Command, End, Levels, Saved, Removed, Scenes, Refused };
  Kind kind = Kind::Error;
  int protocol = 0;       ///< Protocol
  std::string error;      ///< Error
  /// Accepted: each unit's level as the service knew it, in request order.
  std::vector<int> known;
  int unit = 0;           ///< Command, End: the unit's index in the request
  int level = 0;          ///< Command
  CommandResult result;   ///< Command
  std::int64_t beganUs = 0;  ///< Command, on the shared monotonic clock
  FadeEnd end;            ///< End
  std::vector<RememberedLevel> levels;  ///< Levels, in request order
  std::vector<LocalNotKnown> notKnown;  ///< Levels: one for each of `levels`
  /// Saved: the scene's name, its units' count (as many units, of no key), those left out;
  /// Removed: its name.
  SavedScene scene;
  std::vector<std::string> leftOut;
  std::vector<SavedScene> scenes;  ///< Scenes: every saved scene the service keeps
  /// Refused: the line vantrel says, what kind of refusal it is, and `notFound` for a removal
  /// of a scene that is not saved.
  std::string refusal;
  SceneSaving::Refusal why = SceneSaving::Refusal::None;
  bool notFound = false;
  /// Levels: the levels file the service keeps, beside which its schedules' record is; empty
  /// when it says none (a service from before it said so).
  std::string levelsFile;
};

/// Reads one line from the service. False, with `problem`, when it is not
/// a reply of this protocol.
bool readLocalReply(std::string_view line, LocalReply& reply, std::string& problem);

/// Each message as its line, newline included.
std::string protocolLine();
std::string errorLine(const std::string& problem);
std::string requestLine(const LocalFade& fade);
std::string levelsRequestLine(const std::vector<UnitKey>& keys);
std::string stopLine();
std::string saveRequestLine(const std::string& name, const std::vector<SavedUnit>& units);
std::string removeRequestLine(const std::string& name);
std::string savedScenesRequestLine();
/// `{"saved": NAME, "units": N, "left_out": [...]}`.
std::string savedReplyLine(const SceneSaving& saving);
std::string removedLine(const std::string& name);
/// `{"saved_scenes": [{"name", "units": [{address, port, type, name, level}]}]}`.
std::string savedScenesLine(const std::vector<SavedScene>& scenes);
/// A refused save or removal (`why`); `notFound`: no such saved scene to remove.
std::string refusedLine(const std::string& refusal, SceneSaving::Refusal why, bool notFound = false);
std::string acceptedLine(const std::vector<int>& known);
std::string commandLine(int unit, int level, const CommandResult& result, std::int64_t beganUs);
std::string endLine(int unit, const FadeEnd& end);
/// `notKnown`, when not empty, holds one for each of `levels`; `levelsFile`, when not empty,
/// is said as "levels_file".
std::string levelsLine(const std::vector<RememberedLevel>& levels,
                       const std::vector<LocalNotKnown>& notKnown = {}, const std::string& levelsFile = "");

#endif
