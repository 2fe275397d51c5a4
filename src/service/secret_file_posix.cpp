#include "service/secret_file.hpp"

#include <sys/stat.h>

#include "common/files.hpp"

bool readSecretFile(const std::string& path, std::string& secret, std::string& problem,
                    std::string& warning) {
  std::string text;
  FileError error;
  if (readWholeFile(path, text, error) != ReadOutcome::Read) {
    problem = describe(error);
    return false;
  }
  const std::size_t end = text.find_first_of("\r\n");
  text.resize(end == std::string::npos ? text.size() : end);
  if (text.empty()) {
    problem = path + ": holds no password";
    return false;
  }
  struct stat status;
  if (stat(path.c_str(), &status) == 0 && (status.st_mode & S_IROTH) != 0)
    warning = path + ": everyone may read this password file (chmod o-r)";
  secret = std::move(text);
  return true;
}
