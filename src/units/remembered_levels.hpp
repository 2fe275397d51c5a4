#ifndef VANTREL_UNITS_REMEMBERED_LEVELS_HPP
#define VANTREL_UNITS_REMEMBERED_LEVELS_HPP

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "units/unit_key.hpp"

/// The last level each unit confirmed, which the unit itself cannot be asked for. Kept in a text
/// file shared by every tool that sets levels, one line per unit under a comment that names the
/// columns:
///
///     # ADDRESS PORT TYPE LEVEL CONFIRMED LAST_ON
///     192.168.0.20 4001 1 204 2026-12-08T14:48:03.125Z 204
///
/// CONFIRMED is ISO 8601 UTC with milliseconds; LAST_ON is 1..255, or "-" when not known. LEVEL
/// and LAST_ON are levels as people give them; a unit whose curve or trims sent LEVEL as another
/// byte has that byte as a seventh column, SENT, left out when it is LEVEL, so that the lines of
/// other units stay as they always were:
///
///     192.168.0.21 4001 1 128 2026-12-08T14:48:03.125Z 128 56

struct RememberedLevel {
  int level = -1;               ///< 0..255; -1: not known
  std::int64_t confirmedMs = 0; ///< when: milliseconds since 1970-01-01 UTC
  int lastOn = -1;              ///< the last non-zero level confirmed, or -1
  int sent = -1;                ///< the byte `level` was sent as; -1: `level` itself

  /// The byte `level` was sent as, -1 when the level is not known.
  int byte() const { return level < 0 ? -1 : sent >= 0 ? sent : level; }
};

class RememberedLevels {
 public:
  /// The levels in the file at `path`. A missing file holds none; a damaged or unreadable one
  /// counts as holding none, and `warning` (otherwise left empty) says why in one line
  /// ("PATH:LINE: ..." or "PATH: ...").
  static RememberedLevels read(const std::string& path, std::string& warning);
  /// level -1 when not known.
  RememberedLevel find(const UnitKey& key) const;
  void set(const UnitKey& key, const RememberedLevel& level);
  const std::vector<std::pair<UnitKey, RememberedLevel>>& entries() const;

 private:
  std::vector<std::pair<UnitKey, RememberedLevel>> entries_;
  /// Where each unit is in entries_: a large installation looks its units up one by one.
  std::map<UnitKey, std::size_t> index_;
};

/// Merges `confirmed` into the file at `path` under the lock: for each unit the newer confirmation
/// wins (when the winner has no lastOn, the other's is kept). Creates the file's directory when
/// needed. Returns false with `warning`, one line that begins "levels not remembered: PATH: " and
/// says why ("cannot lock PATH.lock: REASON"), when it could not be written; the old file is then
/// as it was.
bool rememberLevels(const std::string& path,
                    const std::vector<std::pair<UnitKey, RememberedLevel>>& confirmed,
                    std::string& warning);
/// As rememberLevels(), with `reason` alone when it fails: "cannot lock PATH.lock: REASON", or "no
/// file to keep them in: set VANTREL_STATE" when `path` is empty.
bool writeLevels(const std::string& path,
                 const std::vector<std::pair<UnitKey, RememberedLevel>>& confirmed,
                 std::string& reason);

/// How every tool remembers the levels of a run: in one write, of the units that confirmed a level
/// (the others are left as they were), and when that fails, a warning on standard error after
/// "PROGRAM: ", not a failure of the run.
void rememberOrWarn(const char* program, const std::string& path,
                    const std::vector<std::pair<UnitKey, RememberedLevel>>& confirmed);

/// Where the levels are remembered: $VANTREL_STATE when set and not empty (both platforms);
/// else on Linux $XDG_STATE_HOME/vantrel/levels (XDG_STATE_HOME unset, empty or not absolute:
/// $HOME/.local/state), on Windows %LOCALAPPDATA%\vantrel\levels.
std::string levelsFilePath();

#endif
