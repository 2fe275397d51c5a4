#include "common/files.hpp"

std::string describe(const FileError& error) {
  const char* step = "";
  switch (error.step) {
    case FileStep::Read: step = "read"; break;
    case FileStep::Create: step = "create"; break;
    case FileStep::Write: step = "write"; break;
    case FileStep::Flush: step = "flush to disk"; break;
    case FileStep::Close: step = "close"; break;
    case FileStep::Rename: step = "rename into place"; break;
    case FileStep::Lock: step = "lock"; break;
    case FileStep::MakeDirectory: step = "create directory"; break;
  }
  return error.path + ": cannot " + step + ": " + error.reason;
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
