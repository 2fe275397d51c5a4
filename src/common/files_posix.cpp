#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/files.hpp"

namespace {

FileError failure(FileStep step, const std::string& path) {
  return FileError{step, path, std::strerror(errno)};
}

bool writeAll(int fd, const std::string& text) {
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const ssize_t written = write(fd, next, left);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      if (written == 0)
        errno = EIO;
      return false;
    }
    next += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

// The XDG base directory in `variable`, which counts only when absolute, else $HOME/`fallback`.
std::string xdgDirectory(const char* variable, const char* fallback) {
  const std::string value = environmentValue(variable);
  if (!value.empty() && value[0] == '/')
    return value;
  const std::string home = environmentValue("HOME");
  return home.empty() ? std::string() : home + "/" + fallback;
}

}  // namespace

ReadOutcome readWholeFile(const std::string& path, std::string& text, FileError& error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const bool missing = errno == ENOENT;
    error = failure(FileStep::Read, path);
    return missing ? ReadOutcome::Missing : ReadOutcome::Failed;
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0) {
      error = failure(FileStep::Read, path);
      close(fd);
      return ReadOutcome::Failed;
    }
    if (got == 0)
      break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  text = std::move(content);
  return ReadOutcome::Read;
}

bool fileExists(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

bool replaceFile(const std::string& path, const std::string& temporary, const std::string& text,
                 FileError& error) {
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = failure(FileStep::Create, temporary);
    return false;
  }
  bool ok = writeAll(fd, text);
  if (!ok)
    error = failure(FileStep::Write, temporary);
  else if (!(ok = fsync(fd) == 0))
    error = failure(FileStep::Flush, temporary);
  if (close(fd) != 0 && ok) {
    error = failure(FileStep::Close, temporary);
    ok = false;
  }
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    error = failure(FileStep::Rename, temporary);
    ok = false;
  }
  if (!ok)
    unlink(temporary.c_str());
  return ok;
}

bool createParentDirectories(const std::string& path, FileError& error) {
  // Each directory from the top down; those that exist already are fine.
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string directory = path.substr(0, slash);
    if (mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
      error = failure(FileStep::MakeDirectory, directory);
      return false;
    }
  }
  return true;
}

FileLock::FileLock(const std::string& path) {
  // flock belongs to the open file description: a second open of the same file in this process
  // waits like another process would.
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = failure(FileStep::Lock, path);
    return;
  }
  int locked;
  while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (locked != 0) {
    error_ = failure(FileStep::Lock, path);
    close(fd);
    return;
  }
  handle_ = fd;
}

FileLock::~FileLock() {
  if (held())
    close(static_cast<int>(handle_));  // which releases the lock
}

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::vector<std::string> unitsFilePlaces() {
  std::vector<std::string> places = {"vantrel.toml"};
  const std::string config = xdgDirectory("XDG_CONFIG_HOME", ".config");
  if (!config.empty())
    places.push_back(config + "/vantrel/vantrel.toml");
  places.push_back("/etc/vantrel/vantrel.toml");
  return places;
}

std::string defaultLevelsFile() {
  const std::string state = xdgDirectory("XDG_STATE_HOME", ".local/state");
  return state.empty() ? state : state + "/vantrel/levels";
}

bool localCalendarTime(std::time_t time, std::tm& local) {
  return localtime_r(&time, &local) != nullptr;
}
