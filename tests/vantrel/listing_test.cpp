// vantrel list's line of a unit whose level the service does not know, and
// how long ago its level from before was confirmed.

#include <gtest/gtest.h>

#include "vantrel/listing.hpp"

namespace {

TEST(Listing, AgoIsTheLargestWholeUnit) {
  const std::int64_t now = 1796741283125;
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "just now"},          {59999, "just now"},      {-5000, "just now"},
      {60000, "1 minute ago"},  {5 * 60000 + 1, "5 minutes ago"},
      {59 * 60000, "59 minutes ago"}, {60 * 60000, "1 hour ago"},
      {3 * 3600000 + 1, "3 hours ago"}, {24 * 3600000 - 1, "23 hours ago"},
      {24 * 3600000, "1 day ago"}, {2 * 24 * 3600000 + 7, "2 days ago"}};
  for (const auto& [before, text] : cases)
    EXPECT_EQ(agoText(now - before, now), text) << before;
}

TEST(Listing, AUnitTheServiceDoesNotKnowShowsAQuestionMarkAndItsLastLevel) {
  UnitsFile file;
  for (const char* name : {"counter", "shelf", "porch", "cellar"}) {
    Unit unit;
    unit.name = name;
    unit.address = "10.0.0.1";
    unit.port = static_cast<std::uint16_t>(4001 + file.units.size());
    unit.type = 1;
    file.units.push_back(unit);
  }
  RememberedLevels levels;
  levels.set(file.units[2].key(), {77, 1, 77});  // the tool's own, not the service's
  levels.set(file.units[3].key(), {9, 1, 9});
  const std::int64_t now = 1796741283125;
  const std::string listed =
      listing(file, levels, {{true, 128, now - 2 * 24 * 3600000}, {true, -1, 0}, {true, -1, 0}, {}}, now);
  EXPECT_NE(listed.find("  counter  10.0.0.1:4001  type 1  level ? (last 128, 2 days ago)\n"), std::string::npos)
      << listed;
  EXPECT_NE(listed.find("  shelf    10.0.0.1:4002  type 1  level ?\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("  porch    10.0.0.1:4003  type 1  level ?\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("  cellar   10.0.0.1:4004  type 1  level 9 (4%) at "), std::string::npos) << listed;
}

}  // namespace
