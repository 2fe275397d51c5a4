#include <stdlib.h>

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
  Variable(const char* name, const char* value) : name_(name) {
    const char* old = getenv(name);
    had_ = old != nullptr;
    old_ = had_ ? old : "";
    set(value);
  }
  ~Variable() { set(had_ ? old_.c_str() : nullptr); }
  void set(const char* value) { value ? setenv(name_, value, 1) : unsetenv(name_); }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

TEST(UnitsFilePlaces, AreHereThenTheXdgConfigHomeThenEtc) {
  Variable home("HOME", "/home/ann");
  Variable config("XDG_CONFIG_HOME", "/xdg");
  EXPECT_EQ(unitsFilePlaces(), (std::vector<std::string>{"vantrel.toml", "/xdg/vantrel/vantrel.toml",
                                                         "/etc/vantrel/vantrel.toml"}));
  // Unset, empty or relative, it is ~/.config.
  for (const char* value : {static_cast<const char*>(nullptr), "", "xdg"}) {
    config.set(value);
    EXPECT_EQ(unitsFilePlaces()[1], "/home/ann/.config/vantrel/vantrel.toml");
  }
}

TEST(LevelsFilePath, IsVantrelStateElseUnderTheXdgStateHome) {
  Variable home("HOME", "/home/ann");
  Variable state("XDG_STATE_HOME", "/xdg");
  Variable chosen("VANTREL_STATE", "/var/lib/vantrel/levels");
  EXPECT_EQ(levelsFilePath(), "/var/lib/vantrel/levels");
  chosen.set("");
  EXPECT_EQ(levelsFilePath(), "/xdg/vantrel/levels");
  state.set("xdg");
  EXPECT_EQ(levelsFilePath(), "/home/ann/.local/state/vantrel/levels");
}

TEST(FindUnitsFile, TakesTheGivenFileElseTheFirstPlaceThatHasOne) {
  const TempDir dir;
  Variable home("HOME", dir.path("home").c_str());
  Variable config("XDG_CONFIG_HOME", nullptr);
  const InDirectory here(dir.path());
  std::string path = "unchanged";
  std::string problem;
  EXPECT_TRUE(findUnitsFile("elsewhere.toml", path, problem));
  EXPECT_EQ(path, "elsewhere.toml");
  const std::string inConfig = dir.path("home/.config/vantrel/vantrel.toml");
  if (!fileExists("/etc/vantrel/vantrel.toml")) {
    EXPECT_FALSE(findUnitsFile(nullptr, path, problem));
    EXPECT_EQ(problem, "no units file: looked for vantrel.toml, " + inConfig +
                           " and /etc/vantrel/vantrel.toml");
  }
  writeText(inConfig, "");
  EXPECT_TRUE(findUnitsFile(nullptr, path, problem));
  EXPECT_EQ(path, inConfig);
  writeText(dir.path("vantrel.toml"), "");
  EXPECT_TRUE(findUnitsFile(nullptr, path, problem));
  EXPECT_EQ(path, "vantrel.toml");
}

}  // namespace
