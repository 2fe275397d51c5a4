#ifndef VANTREL_SERVICE_LEVELS_WRITER_HPP
#define VANTREL_SERVICE_LEVELS_WRITER_HPP

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "units/remembered_levels.hpp"

/// Remembers confirmed levels on a thread of its own, so that a write to
/// disk never holds up the fades: levels handed over while a write runs go
/// together in the next one. A failed write is a warning on standard error.
class LevelsWriter {
 public:
  explicit LevelsWriter(std::string path);
  ~LevelsWriter();  ///< as stop()
  LevelsWriter(const LevelsWriter&) = delete;
  LevelsWriter& operator=(const LevelsWriter&) = delete;

  /// Thread-safe; never waits for the disk.
  void remember(const UnitKey& key, const RememberedLevel& level);
  /// Writes what is left and ends the thread.
  void stop();

 private:
  void run();

  std::string path_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<UnitKey, RememberedLevel>> pending_;
  bool stopping_ = false;
  std::thread thread_;
};

#endif
