#include "units/remembered_levels.hpp"

#include <chrono>
#include <cstdio>

#include "common/files.hpp"
#include "common/text_lines.hpp"
#include "common/whole_number.hpp"
#include "units/units_file.hpp"
#include "units/utc_time.hpp"

namespace {

const char kColumns[] = "ADDRESS PORT TYPE LEVEL CONFIRMED LAST_ON";

// The newer confirmation, with the other's last non-zero level when it has none of its own.
RememberedLevel newer(const RememberedLevel& known, const RememberedLevel& confirmed) {
  if (known.level < 0)
    return confirmed;
  const bool confirmedWins = confirmed.confirmedMs >= known.confirmedMs;
  RememberedLevel winner = confirmedWins ? confirmed : known;
  if (winner.lastOn < 0)
    winner.lastOn = confirmedWins ? known.lastOn : confirmed.lastOn;
  return winner;
}

bool readLine(const std::string& line, UnitKey& key, RememberedLevel& level) {
  const std::vector<TextField> field = fieldsOf(line);
  int port = 0;
  if ((field.size() != 6 && field.size() != 7) ||
      !parseWholeNumber(field[1].text.c_str(), 1, 65535, port) ||
      !parseWholeNumber(field[2].text.c_str(), 1, 2, key.type) ||
      !parseWholeNumber(field[3].text.c_str(), 0, 255, level.level) ||
      !parseUtcTime(field[4].text, level.confirmedMs) ||
      (field[5].text != "-" && !parseWholeNumber(field[5].text.c_str(), 1, 255, level.lastOn)) ||
      (field.size() == 7 && !parseWholeNumber(field[6].text.c_str(), 0, 255, level.sent)))
    return false;
  key.address = field[0].text;
  key.port = static_cast<std::uint16_t>(port);
  return true;
}

// Only what reads back: a line per unit with a known level, under the line naming the columns.
std::string fileText(const RememberedLevels& levels) {
  std::string text = std::string("# ") + kColumns + "\n";
  for (const auto& [key, level] : levels.entries()) {
    if (!isValidAddress(key.address) || key.port == 0 || key.type < 1 || key.type > 2 ||
        level.level < 0 || level.level > 255)
      continue;
    const bool lastOnKnown = level.lastOn >= 1 && level.lastOn <= 255;
    const bool sentApart = level.sent >= 0 && level.sent <= 255 && level.sent != level.level;
    text += key.address + " " + std::to_string(key.port) + " " + std::to_string(key.type) + " " +
            std::to_string(level.level) + " " + utcTimeText(level.confirmedMs) + " " +
            (lastOnKnown ? std::to_string(level.lastOn) : "-") +
            (sentApart ? " " + std::to_string(level.sent) : "") + "\n";
  }
  return text;
}

}  // namespace

RememberedLevels RememberedLevels::read(const std::string& path, std::string& warning) {
  RememberedLevels levels;
  std::string text;
  if (readKeptFile(path, text, warning) != ReadOutcome::Read)
    return levels;
  bool damaged = false;
  forEachLine(text, [&](std::size_t number, const std::string& line) {
    if (line.empty() || line[0] == '#')
      return true;
    UnitKey key;
    RememberedLevel level;
    if (!readLine(line, key, level)) {
      warning = path + ":" + std::to_string(number) + ": damaged, expected " + kColumns +
                "; the levels in it count as unknown";
      damaged = true;
      return false;
    }
    levels.set(key, newer(levels.find(key), level));
    return true;
  });
  if (damaged)
    return RememberedLevels();
  return levels;
}

RememberedLevel RememberedLevels::find(const UnitKey& key) const {
  const auto found = index_.find(key);
  return found == index_.end() ? RememberedLevel() : entries_[found->second].second;
}

void RememberedLevels::set(const UnitKey& key, const RememberedLevel& level) {
  const auto [at, added] = index_.emplace(key, entries_.size());
  if (added)
    entries_.emplace_back(key, level);
  else
    entries_[at->second].second = level;
}

const std::vector<std::pair<UnitKey, RememberedLevel>>& RememberedLevels::entries() const {
  return entries_;
}

bool writeLevels(const std::string& path,
                 const std::vector<std::pair<UnitKey, RememberedLevel>>& confirmed,
                 std::string& reason) {
  if (path.empty()) {
    reason = "no file to keep them in: set VANTREL_STATE";
    return false;
  }
  const auto failed = [&](const FileError& error) {
    reason = describeStep(error);
    return false;
  };
  FileError error;
  if (!createParentDirectories(path, error))
    return failed(error);
  // Read, merge and write as one step against every other writer.
  const FileLock lock(path + ".lock");
  if (!lock.held())
    return failed(lock.error());
  std::string damage;  // the reader has been told; what it held is replaced
  RememberedLevels levels = RememberedLevels::read(path, damage);
  for (const auto& [key, level] : confirmed)
    if (level.level >= 0)
      levels.set(key, newer(levels.find(key), level));
  if (!replaceFile(path, path + ".tmp", fileText(levels), error))
    return failed(error);
  return true;
}

bool rememberLevels(const std::string& path,
                    const std::vector<std::pair<UnitKey, RememberedLevel>>& confirmed,
                    std::string& warning) {
  std::string reason;
  if (writeLevels(path, confirmed, reason))
    return true;
  // Whatever the cause, the user is told first what it cost: the levels of this run.
  warning = "levels not remembered: " + (path.empty() ? reason : path + ": " + reason);
  return false;
}

void rememberOrWarn(const char* program, const std::string& path,
                    const std::vector<std::pair<UnitKey, RememberedLevel>>& confirmed) {
  std::vector<std::pair<UnitKey, RememberedLevel>> levels;
  for (const auto& unit : confirmed)
    if (unit.second.level >= 0)
      levels.push_back(unit);
  std::string warning;
  if (!levels.empty() && !rememberLevels(path, levels, warning))
    std::fprintf(stderr, "%s: %s\n", program, warning.c_str());
}

std::string levelsFilePath() {
  const std::string chosen = environmentValue("VANTREL_STATE");
  return chosen.empty() ? defaultLevelsFile() : chosen;
}
