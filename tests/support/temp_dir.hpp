#ifndef VANTREL_TESTS_TEMP_DIR_HPP
#define VANTREL_TESTS_TEMP_DIR_HPP

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

/// A directory of the test's own under the system's temporary directory, removed with all it
/// holds at the end.
class TempDir {
 public:
  TempDir() {
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::error_code error;
    for (int i = 0; i < 1000; ++i) {
      path_ = base / ("vantrel-test-" + std::to_string(now) + "-" + std::to_string(i));
      if (std::filesystem::create_directory(path_, error))
        break;
    }
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// The path of `name` inside, with the platform's separators.
  std::string path(const std::string& name = "") const {
    return (path_ / std::filesystem::path(name).make_preferred()).string();
  }

 private:
  std::filesystem::path path_;
};

/// Makes `directory` the current directory until the end of the scope.
class InDirectory {
 public:
  explicit InDirectory(const std::string& directory) {
    std::error_code ignored;
    old_ = std::filesystem::current_path(ignored);
    std::filesystem::current_path(directory, ignored);
  }
  ~InDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(old_, ignored);
  }
  InDirectory(const InDirectory&) = delete;
  InDirectory& operator=(const InDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

inline void writeText(const std::string& path, const std::string& text) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#endif
