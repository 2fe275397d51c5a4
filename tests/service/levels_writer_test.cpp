// The levels writer against a file it cannot write at first: what failed
// stays due and is written by a later try of its own, the failure and the
// recovery are each said once, the stop tries once more, and a fade's steps
// wait for their pause while any other level is written at once.

#include "service/levels_writer.hpp"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/temp_dir.hpp"

namespace {

using namespace std::chrono_literals;

const UnitKey kA{"127.0.0.1", 4001, 1};
const UnitKey kB{"127.0.0.1", 4002, 1};

/// The states a writer told, for the test to wait on.
class Told {
 public:
  LevelsWriter::StateChanged ear() {
    return [this](const LevelsFileState& state) {
      std::lock_guard<std::mutex> lock(mutex_);
      states_.push_back(state);
      changed_.notify_all();
    };
  }
  /// Waits (10 s at most) until `count` states were told; all of them.
  std::vector<LevelsFileState> await(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, 10s, [&] { return states_.size() >= count; });
    return states_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<LevelsFileState> states_;
};

/// Standard error, captured until text() or the end of the scope, so that
/// a failed assertion leaves no capture behind for the next test.
class CapturedStderr {
 public:
  CapturedStderr() { testing::internal::CaptureStderr(); }
  ~CapturedStderr() { text(); }
  std::string text() {
    if (!captured_)
      return "";
    captured_ = false;
    return testing::internal::GetCapturedStderr();
  }

 private:
  bool captured_ = true;
};

int levelIn(const std::string& path, const UnitKey& key) {
  std::string warning;
  return RememberedLevels::read(path, warning).find(key).level;
}

/// A levels path whose parent is a regular file until mend() makes it a
/// directory: unwritable even for root.
struct BlockedPath {
  TempDir dir;
  std::string path = dir.path("state/levels");
  BlockedPath() { writeText(dir.path("state"), "not a directory\n"); }
  void mend() const {
    std::filesystem::remove(dir.path("state"));
    std::filesystem::create_directory(dir.path("state"));
  }
};

TEST(LevelsWriter, WhatFailedIsWrittenByALaterTryAndEachChangeIsSaidOnce) {
  BlockedPath blocked;
  Told told;
  CapturedStderr err;
  {
    LevelsWriter writer(blocked.path, told.ear(), {20ms, 80ms, 1000ms});
    writer.remember(kA, {80, 1000, 80});
    ASSERT_EQ(told.await(1).size(), 1u);
    EXPECT_FALSE(writer.state().remembered);
    writer.remember(kB, {90, 1000, 90});
    // Tries come on their own while it fails: a few of them, said once.
    std::this_thread::sleep_for(200ms);
    blocked.mend();
    const std::vector<LevelsFileState> states = told.await(2);
    ASSERT_EQ(states.size(), 2u);
    EXPECT_EQ(states[0].problem, "cannot lock " + blocked.path + ".lock: Not a directory");
    EXPECT_TRUE(states[1].remembered);
    EXPECT_EQ(states[1].problem, "");
    EXPECT_EQ(levelIn(blocked.path, kA), 80);
    EXPECT_EQ(levelIn(blocked.path, kB), 90);
  }
  EXPECT_EQ(err.text(),
            "vantreld: cannot remember the levels in " + blocked.path + ": cannot lock " +
                blocked.path + ".lock: Not a directory\n"
                "vantreld: the levels are remembered in " + blocked.path + " again\n");
}

TEST(LevelsWriter, TheStopTriesOnceMoreWhateverTheSchedule) {
  BlockedPath blocked;
  Told told;
  CapturedStderr err;
  LevelsWriter writer(blocked.path, told.ear(), {1h, 1h, 1h});
  writer.remember(kA, {80, 1000, 80});
  ASSERT_EQ(told.await(1).size(), 1u);
  blocked.mend();
  writer.stop();
  EXPECT_EQ(levelIn(blocked.path, kA), 80);
}

TEST(LevelsWriter, StepsWaitForTheirPauseAndGoWithTheNextLevel) {
  TempDir dir;
  const std::string path = dir.path("levels");
  LevelsWriter writer(path, {}, {1h, 1h, 1h});
  writer.remember(kA, {10, 1000, -1}, true);  // the first write is not held back
  for (int i = 0; i < 500 && levelIn(path, kA) != 10; ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(levelIn(path, kA), 10);
  writer.remember(kA, {20, 2000, -1}, true);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(levelIn(path, kA), 10);
  writer.remember(kB, {30, 2000, 30});
  for (int i = 0; i < 500 && levelIn(path, kB) != 30; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_EQ(levelIn(path, kA), 20);
  EXPECT_EQ(levelIn(path, kB), 30);
}

}  // namespace
