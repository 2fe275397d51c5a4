#include <windows.h>

#include "common/files.hpp"

namespace {

std::string systemMessage(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
  LocalFree(text);
  // Windows ends its messages with a period and a line end; ours go on the same line.
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  return message;
}

FileError failure(FileStep step, const std::string& path) {
  return FileError{step, path, systemMessage(GetLastError())};
}

// Others may read, replace or delete the file meanwhile: a reader must not stop a writer's rename.
const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool writeAll(HANDLE file, const std::string& text) {
  const char* next = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(file, next, chunk, &written, nullptr))
      return false;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    next += written;
    left -= written;
  }
  return true;
}

// From the bottom up: a drive ("C:") or a share (\\server\share) is there already, and cannot be
// created.
bool createDirectory(const std::string& directory, FileError& error) {
  const DWORD attributes = GetFileAttributesA(directory.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return true;
  if (CreateDirectoryA(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS)
    return true;
  if (GetLastError() == ERROR_PATH_NOT_FOUND) {
    if (!createParentDirectories(directory, error))
      return false;
    if (CreateDirectoryA(directory.c_str(), nullptr))
      return true;
  }
  error = failure(FileStep::MakeDirectory, directory);
  return false;
}

}  // namespace

ReadOutcome readWholeFile(const std::string& path, std::string& text, FileError& error) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    error = FileError{FileStep::Read, path, systemMessage(code)};
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ReadOutcome::Missing
                                                                         : ReadOutcome::Failed;
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      error = failure(FileStep::Read, path);
      CloseHandle(file);
      return ReadOutcome::Failed;
    }
    if (got == 0)
      break;
    content.append(buffer, got);
  }
  CloseHandle(file);
  text = std::move(content);
  return ReadOutcome::Read;
}

bool fileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool replaceFile(const std::string& path, const std::string& temporary, const std::string& text,
                 FileError& error) {
  const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = failure(FileStep::Create, temporary);
    return false;
  }
  bool ok = writeAll(file, text);
  if (!ok)
    error = failure(FileStep::Write, temporary);
  else if (!(ok = FlushFileBuffers(file) != 0))
    error = failure(FileStep::Flush, temporary);
  if (!CloseHandle(file) && ok) {
    error = failure(FileStep::Close, temporary);
    ok = false;
  }
  if (ok && !MoveFileExA(temporary.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = failure(FileStep::Rename, temporary);
    ok = false;
  }
  if (!ok)
    DeleteFileA(temporary.c_str());
  return ok;
}

bool createParentDirectories(const std::string& path, FileError& error) {
  const std::size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos || cut == 0 || createDirectory(path.substr(0, cut), error);
}

FileLock::FileLock(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error_ = failure(FileStep::Lock, path);
    return;
  }
  // A lock belongs to its handle: another handle of this process waits too.
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
    error_ = failure(FileStep::Lock, path);
    CloseHandle(file);
    return;
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

FileLock::~FileLock() {
  if (held())
    CloseHandle(reinterpret_cast<HANDLE>(handle_));  // which releases the lock
}

std::string environmentValue(const char* name) {
  char buffer[1024];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length < sizeof buffer)
    return std::string(buffer, length);
  std::string value(length, '\0');
  const DWORD got = GetEnvironmentVariableA(name, &value[0], length);
  value.resize(got < length ? got : 0);
  return value;
}

std::vector<std::string> unitsFilePlaces() {
  std::vector<std::string> places = {"vantrel.toml"};
  const std::string appData = environmentValue("APPDATA");
  if (!appData.empty())
    places.push_back(appData + "\\vantrel\\vantrel.toml");
  return places;
}

std::string defaultLevelsFile() {
  const std::string localAppData = environmentValue("LOCALAPPDATA");
  return localAppData.empty() ? localAppData : localAppData + "\\vantrel\\levels";
}

bool localCalendarTime(std::time_t time, std::tm& local) {
  return localtime_s(&local, &time) == 0;
}
