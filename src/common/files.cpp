#include "common/files.hpp"

namespace {

const char* stepName(FileStep step) {
  switch (step) {
    case FileStep::Read: return "read";
    case FileStep::Create: return "create";
    case FileStep::Write: return "write";
    case FileStep::Flush: return "flush to disk";
    case FileStep::Close: return "close";
    case FileStep::Rename: return "rename into place";
    case FileStep::Lock: return "lock";
    case FileStep::MakeDirectory: return "create directory";
  }
  return "";
}

}  // namespace

std::string describe(const FileError& error) {
  return error.path + ": cannot " + stepName(error.step) + ": " + error.reason;
}

std::string describeStep(const FileError& error) {
  return std::string("cannot ") + stepName(error.step) + " " + error.path + ": " + error.reason;
}

std::string localTimeText(std::int64_t unixMs) {
  const std::int64_t seconds = unixMs >= 0 ? unixMs / 1000 : -((-unixMs + 999) / 1000);
  std::tm local = {};
  char text[32];
  if (!localCalendarTime(static_cast<std::time_t>(seconds), local) ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
    return "?";
  return text;
}

ReadOutcome readKeptFile(const std::string& path, std::string& text, std::string& warning) {
  FileError error;
  const ReadOutcome outcome = readWholeFile(path, text, error);
  if (outcome == ReadOutcome::Failed)
    warning = describe(error);
  return outcome;
}
