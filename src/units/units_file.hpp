#ifndef VANTREL_UNITS_UNITS_FILE_HPP
#define VANTREL_UNITS_UNITS_FILE_HPP

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/output_curve.hpp"
#include "units/settings_table.hpp"
#include "units/unit_key.hpp"

/// The units file: the units by name, their groups and the scenes that set them, shared by
/// `vantrel` and `vantreld`. doc/vantrel.toml is an example. The tables and unit keys that
/// vantreld's front ends own (common/front_end_tables.hpp) are kept as written, for them.

/// What the service does with a unit at a boot of the machine (never at a
/// restart of the service): `on_start`.
struct StartPolicy {
  enum class Kind {
    Leave,    ///< "leave": nothing is sent; its level is not known
    Restore,  ///< "restore": the remembered level, when confirmed within restore_within
    Level,    ///< "off" (level 0) or a level
  };
  Kind kind = Kind::Leave;
  int level = 0;  ///< Level: 0..255
};

struct Unit {
  std::string name;
  std::string address;      ///< IPv4 address or host name, as written
  std::uint16_t port = 0;
  int type = 1;             ///< 1 or 2
  OutputCurve curve{};      ///< `curve`, `min` and `max`: the byte each level is sent as
  int onLevel = 255;        ///< `on_level`: what "on" gives when it has no level to go back to
  StartPolicy onStart{};    ///< its own `on_start`, else [defaults]'s
  /// `refresh`, its own else [defaults]'s: how often the service sends it
  /// again the level it should be at, in microseconds; 0: never.
  std::int64_t refreshUs = 0;
  std::vector<SettingEntry> frontEndKeys{};  ///< its keys that front ends own, in file order

  UnitKey key() const { return {address, port, type}; }
};

struct Group {
  std::string name;
  std::vector<int> members; ///< indices into UnitsFile::units, as written
};

struct SceneSetting {
  std::string target;       ///< a unit's or a group's name, or "all", as written
  int level = 0;
  std::string written;      ///< the level as written: "80%", "204"
};

struct Scene {
  std::string name;
  std::vector<SceneSetting> settings;       ///< as written, in file order
  std::vector<std::pair<int, int>> levels;  ///< (unit index, level) of every unit the scene sets, after the overrides, in unit order
  int line = 0;  ///< where its name is in the file, for a message that points there
};

/// `[location]`: where the sun's times are computed for.
struct Location {
  bool given = false;      ///< whether the file has a [location]
  double latitude = 0.0;   ///< degrees north, -90..90
  double longitude = 0.0;  ///< degrees east, -180..180
};

/// A schedule's `at`: a local clock time, or sunrise or sunset moved by an offset.
struct ScheduleTime {
  enum class Kind { Clock, Sunrise, Sunset };
  Kind kind = Kind::Clock;
  int minute = 0;              ///< Clock: the minute of the day, 0..1439
  std::int64_t offsetMs = 0;   ///< Sunrise, Sunset: added to the sun's time, may be negative
};

/// The days of a schedule: bit N for weekday N, Sunday 0 to Saturday 6 (as `tm_wday`).
constexpr unsigned kEveryDay = 0x7f;

/// `[schedules.NAME]`: what is set when, by the local clock or the sun.
struct Schedule {
  std::string name;
  ScheduleTime at{};
  unsigned days = kEveryDay;  ///< `days` as weekday bits
  int scene = -1;             ///< `scene` naming a scene of the file: index into UnitsFile::scenes
  std::string savedScene;     ///< `scene` naming no scene of the file: a saved scene, checked when it fires
  std::vector<std::pair<int, int>> levels;  ///< `levels`: (unit index, level), as Scene::levels
  std::int64_t overUs = 0;    ///< `over`: the fade to it, 0 for at once
  int notBefore = -1;         ///< `not_before`: minute of the day, or -1
  int notAfter = -1;          ///< `not_after`: minute of the day, or -1
  int line = 0;               ///< where its name is in the file
};

struct UnitsFile {
  std::string path;           ///< as given or as found
  std::vector<Unit> units;    ///< in file order
  std::vector<Group> groups;  ///< in file order
  std::vector<Scene> scenes;  ///< in file order
  std::vector<SettingEntry> frontEndTables;  ///< the tables that front ends own, in file order
  /// [defaults] `restore_within`: how old a remembered level may be for
  /// on_start "restore" to send it, in milliseconds.
  std::int64_t restoreWithinMs = std::int64_t{12} * 3600 * 1000;
  /// [defaults] `on_start` naming a scene: set at a boot, before each
  /// unit's own on_start; index into `scenes`, or -1.
  int startScene = -1;
  Location location{};                ///< [location]
  std::vector<Schedule> schedules;    ///< [schedules], in file order
  /// [defaults] `catch_up`: how late a missed schedule may still fire, in milliseconds; 0: never.
  std::int64_t catchUpMs = std::int64_t{15} * 60 * 1000;

  int findUnit(std::string_view name) const;   ///< index, or -1
  int findGroup(std::string_view name) const;  ///< index, or -1
  int findScene(std::string_view name) const;  ///< index, or -1
  int findSchedule(std::string_view name) const;  ///< index, or -1
  /// The front ends' table `name`, or null when the file has none.
  const SettingEntry* frontEndTable(std::string_view name) const;
  /// Adds the units that `target` (a unit's or a group's name, or "all") stands for to `units`,
  /// each unit index at most once, keeping `units` in unit order; false when target names nothing.
  bool addTarget(std::string_view target, std::vector<int>& units) const;
};

/// Whether `name` can name a unit, a group or a scene, written or saved: 1 to 32 of a-z, 0-9,
/// "-" and "_", beginning with a letter or a digit.
bool isValidName(std::string_view name);

/// Whether `address` can be a unit's address: a dotted IPv4 address (four numbers 0..255,
/// without leading zeros) or a host name (labels of letters, digits and hyphens, 1 to 63
/// characters each, no hyphen at either end, 253 characters in all).
bool isValidAddress(std::string_view address);

/// Reads the tables and unit keys that front ends own, out of a file whose units, groups and
/// scenes were read (some perhaps wrongly), adding each problem where it is.
using FrontEndTablesReader = std::function<void(const UnitsFile& file, FileProblems& problems)>;

/// Parses `text` as the units file `path`, and `readFrontEndTables` reads what front ends own.
/// On failure returns false and appends one line per problem, "PATH:LINE:COLUMN: what is wrong"
/// or "PATH: what is wrong", in file order.
bool parseUnitsFile(std::string_view text, const std::string& path, UnitsFile& file,
                    std::vector<std::string>& problems,
                    const FrontEndTablesReader& readFrontEndTables = {});

/// Reads and parses the file at `path`; a file that cannot be read is the one problem
/// "PATH: cannot read: REASON", and `unreadable`, when given, is then set, so that a tool can show
/// that line after its name as it shows its other errors.
bool loadUnitsFile(const std::string& path, UnitsFile& file, std::vector<std::string>& problems,
                   bool* unreadable = nullptr, const FrontEndTablesReader& readFrontEndTables = {});

/// The file to read: `given` (a --config value) when not null, else the first of
/// unitsFilePlaces() that exists. When none exists returns false with `problem`, one line that names
/// every place looked in, e.g. "no units file: looked for vantrel.toml, /home/ann/.config/vantrel/vantrel.toml and /etc/vantrel/vantrel.toml".
bool findUnitsFile(const char* given, std::string& path, std::string& problem);

#endif
