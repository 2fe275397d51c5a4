#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/files.hpp"
#include "support/temp_dir.hpp"
#include "units/remembered_levels.hpp"
#include "units/units_file.hpp"

namespace {

// Sets an environment variable (null: unsets it) until the end of the scope.
class Variable {
 public:
  Variable(const char* name, const char* value) : name_(name), old_(environmentValue(name)) {
    had_ = GetEnvironmentVariableA(name, nullptr, 0) != 0;
    set(value);
  }
  ~Variable() { set(had_ ? old_.c_str() : nullptr); }
  void set(const char* value) { SetEnvironmentVariableA(name_, value); }

 private:
  const char* name_;
  std::string old_;
  bool had_;
};

TEST(UnitsFilePlaces, AreHereThenAppData) {
  Variable appData("APPDATA", "C:\\Users\\ann\\AppData\\Roaming");
  EXPECT_EQ(unitsFilePlaces(),
            (std::vector<std::string>{"vantrel.toml",
                                      "C:\\Users\\ann\\AppData\\Roaming\\vantrel\\vantrel.toml"}));
}

TEST(LevelsFilePath, IsVantrelStateElseUnderLocalAppData) {
  Variable localAppData("LOCALAPPDATA", "C:\\Users\\ann\\AppData\\Local");
  Variable chosen("VANTREL_STATE", "D:\\vantrel\\levels");
  EXPECT_EQ(levelsFilePath(), "D:\\vantrel\\levels");
  chosen.set(nullptr);
  EXPECT_EQ(levelsFilePath(), "C:\\Users\\ann\\AppData\\Local\\vantrel\\levels");
}

TEST(FindUnitsFile, TakesTheFirstPlaceThatHasOne) {
  const TempDir dir;
  Variable appData("APPDATA", dir.path("roaming").c_str());
  const InDirectory here(dir.path());
  const std::string inAppData = dir.path("roaming\\vantrel\\vantrel.toml");
  std::string path;
  std::string problem;
  EXPECT_FALSE(findUnitsFile(nullptr, path, problem));
  EXPECT_EQ(problem, "no units file: looked for vantrel.toml and " + inAppData);
  writeText(inAppData, "");
  EXPECT_TRUE(findUnitsFile(nullptr, path, problem));
  EXPECT_EQ(path, inAppData);
  writeText(dir.path("vantrel.toml"), "");
  EXPECT_TRUE(findUnitsFile(nullptr, path, problem));
  EXPECT_EQ(path, "vantrel.toml");
}

}  // namespace
