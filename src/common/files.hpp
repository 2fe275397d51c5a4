#ifndef VANTREL_COMMON_FILES_HPP
#define VANTREL_COMMON_FILES_HPP

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

/// What the units file and the remembered levels need of the platform's files, environment and
/// clock. One file per platform (files_posix.cpp, files_win32.cpp); what they share is in
/// files.cpp.

/// The step of a file operation that failed.
enum class FileStep { Read, Create, Write, Flush, Close, Rename, Lock, MakeDirectory };

/// Why a file operation failed: the step, the file it failed on, and the platform's reason.
struct FileError {
  FileStep step = FileStep::Read;
  std::string path;
  std::string reason;
};

/// The error as one line, "PATH: cannot read: REASON".
std::string describe(const FileError& error);
/// The error as the cause of a failure told of another file, "cannot lock PATH: REASON".
std::string describeStep(const FileError& error);

enum class ReadOutcome { Read, Missing, Failed };

/// Reads the whole file at `path` into `text`: Missing when nothing is there, Failed when what is
/// there cannot be read; `error` then says why.
ReadOutcome readWholeFile(const std::string& path, std::string& text, FileError& error);
/// readWholeFile() of a file a program keeps, which may not be there yet: when it cannot be read
/// (Failed), `warning` is describe() of why; a missing one says nothing.
ReadOutcome readKeptFile(const std::string& path, std::string& text, std::string& warning);

/// Whether a file (not a directory) is at `path`.
bool fileExists(const std::string& path);

/// Writes `text` to `temporary`, created anew, flushes it to disk and renames it over `path`, so
/// that `path` holds either its old content or all of `text`, whatever happens meanwhile. On
/// failure removes `temporary` (unless creating it failed) and returns false with `error`.
bool replaceFile(const std::string& path, const std::string& temporary, const std::string& text,
                 FileError& error);

/// Creates the directory that holds the file at `path`, and its parents, where missing.
bool createParentDirectories(const std::string& path, FileError& error);

/// An exclusive lock on the file at `path` (created when missing), from construction to
/// destruction. It excludes other processes and other FileLocks of this process alike, and
/// waits as long as another holds it.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  /// False when the lock could not be taken; error() then says why.
  bool held() const { return handle_ != kNone; }
  const FileError& error() const { return error_; }

 private:
  static constexpr std::intptr_t kNone = -1;
  std::intptr_t handle_ = kNone;
  FileError error_;
};

/// The environment variable `name`, empty when it is not set.
std::string environmentValue(const char* name);

/// Where a units file is looked for, first place first. Linux: vantrel.toml in the current
/// directory, $XDG_CONFIG_HOME/vantrel/vantrel.toml ($HOME/.config when XDG_CONFIG_HOME is unset,
/// empty or not absolute), /etc/vantrel/vantrel.toml. Windows: vantrel.toml in the current
/// directory, %APPDATA%\vantrel\vantrel.toml. A place whose variables are missing is left out.
std::vector<std::string> unitsFilePlaces();

/// Where the levels are remembered unless VANTREL_STATE says: Linux
/// $XDG_STATE_HOME/vantrel/levels ($HOME/.local/state when XDG_STATE_HOME is unset, empty or not
/// absolute), Windows %LOCALAPPDATA%\vantrel\levels. Empty when those variables are missing.
std::string defaultLevelsFile();

/// The local time of `unixMs` (milliseconds since 1970-01-01 UTC) as "2026-12-08 15:48:03", for
/// listings; "?" when the platform cannot tell.
std::string localTimeText(std::int64_t unixMs);

/// The platform's thread-safe localtime, for localTimeText.
bool localCalendarTime(std::time_t time, std::tm& local);

#endif
