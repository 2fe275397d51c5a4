#include "service/start_up.hpp"

#include <cstdlib>

#include "common/files.hpp"
#include "common/text_lines.hpp"

StartFacts startFacts(const BootRecord& remembered, const std::string& bootId, std::int64_t nowMs) {
  if (bootId.empty() || remembered.bootId != bootId)
    return {true, nowMs};
  return {false, remembered.sinceMs};
}

int startLevel(const StartPolicy& policy, const RememberedLevel& remembered, std::int64_t nowMs,
               std::int64_t restoreWithinMs) {
  switch (policy.kind) {
    case StartPolicy::Kind::Leave:
      return -1;
    case StartPolicy::Kind::Level:
      return policy.level;
    case StartPolicy::Kind::Restore:
      break;
  }
  if (remembered.level < 0 || nowMs - remembered.confirmedMs > restoreWithinMs)
    return -1;
  return remembered.level;
}

std::string currentBootId() {
  std::string path = environmentValue("VANTREL_BOOT_ID_FILE");
  if (path.empty())
    path = "/proc/sys/kernel/random/boot_id";
  std::string text;
  FileError error;
  if (readWholeFile(path, text, error) != ReadOutcome::Read)
    return "";
  return std::string(trimmed(text));
}

std::string bootRecordPath(const std::string& levelsPath) { return levelsPath + ".boot"; }

BootRecord readBootRecord(const std::string& path) {
  std::string text;
  FileError error;
  BootRecord record;
  if (readWholeFile(path, text, error) != ReadOutcome::Read)
    return record;
  text = std::string(trimmed(text));
  const auto space = text.find(' ');
  if (space == std::string::npos)
    return record;
  char* end = nullptr;
  const long long since = std::strtoll(text.c_str() + space + 1, &end, 10);
  if (end == nullptr || *end != '\0' || since <= 0)
    return record;
  record.bootId = text.substr(0, space);
  record.sinceMs = since;
  return record;
}

bool writeBootRecord(const std::string& path, const BootRecord& record, std::string& reason) {
  FileError error;
  if (!createParentDirectories(path, error) ||
      !replaceFile(path, path + ".new", record.bootId + " " + std::to_string(record.sinceMs) + "\n",
                   error)) {
    reason = describe(error);
    return false;
  }
  return true;
}
