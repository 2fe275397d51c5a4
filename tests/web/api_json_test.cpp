// What /api/state and the page's events say of a unit whose level is not
// known: null, and the level remembered from before only as a hint beside it.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "web/api_json.hpp"

namespace {

using Json = nlohmann::json;

TEST(ApiJson, AUnitNotKnownIsNullWithWhatIsRememberedBesideIt) {
  Unit unit;
  unit.name = "counter";
  unit.type = 1;
  UnitState notKnown;
  notKnown.rememberedLevel = 128;
  notKnown.rememberedMs = 1796741283125;
  const Json hinted = Json::parse(unitJson(unit, notKnown));
  EXPECT_TRUE(hinted["level"].is_null());
  EXPECT_TRUE(hinted["sent"].is_null());
  EXPECT_EQ(hinted["remembered"], (Json{{"level", 128}, {"at", "2026-12-08T14:48:03.125Z"}}));

  // Nothing remembered, or the level known again: no hint.
  EXPECT_FALSE(Json::parse(unitJson(unit, UnitState{})).contains("remembered"));
  UnitState known = notKnown;
  known.level = 0;
  known.sent = 0;
  const Json confirmed = Json::parse(unitJson(unit, known));
  EXPECT_EQ(confirmed["level"], 0);
  EXPECT_FALSE(confirmed.contains("remembered"));
}

}  // namespace
