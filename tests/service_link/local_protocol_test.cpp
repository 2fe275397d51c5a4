// The lines between the tools and vantreld: what one side writes, the other
// reads back as it was; what neither writes is refused with a reason.

#include <gtest/gtest.h>

#include "engine/verdicts.hpp"
#include "service_link/local_protocol.hpp"

namespace {

std::string withoutNewline(const std::string& line) {
  EXPECT_EQ(line.back(), '\n');
  EXPECT_EQ(line.find('\n'), line.size() - 1);
  return line.substr(0, line.size() - 1);
}

CommandResult refusedAfterReply() {
  CommandResult result;
  result.stage = CommandResult::Stage::Reply;
  result.failure = LinkFailure::TimedOut;
  result.error = 110;
  result.exchange.sent = 4;
  result.exchange.reply.count = 3;
  result.exchange.reply.bytes[0] = 0x7e;
  result.exchange.reply.bytes[3] = 0xff;
  return result;
}

LocalUnit unitOf(UnitKey key, const std::string& name, int to, const OutputCurve& curve = OutputCurve(),
                 int onLevel = 255) {
  LocalUnit unit;
  unit.key = std::move(key);
  unit.name = name;
  unit.to = to;
  unit.curve = curve;
  unit.onLevel = onLevel;
  return unit;
}

TEST(LocalProtocol, AFadeRequestReadsBackAsWritten) {
  LocalFade fade;
  fade.units.push_back(unitOf({"counter.example", 4001, 2}, "counter", 200));
  fade.units.push_back(unitOf({"127.0.0.1", 5, 1}, "sh\xc3\xa9lf", LocalUnit::kOn,
                              OutputCurve(OutputCurve::Shape::Gamma, 2.2, 20, 230), 60));
  fade.units.push_back(unitOf({"127.0.0.1", 6, 1}, "d", 9, OutputCurve(OutputCurve::Shape::Dali, 1, 1, 255)));
  fade.fade = true;
  fade.bytes = true;
  fade.from = 20;
  fade.overUs = 1800000000;
  fade.steps = 255;
  fade.zeroUs = 123456789;
  fade.zeroAtFirstConfirmed = true;
  fade.timeoutUs = 250000;
  fade.tries = 7;
  fade.wait = false;
  LocalRequest request;
  std::string problem;
  ASSERT_TRUE(readLocalRequest(withoutNewline(requestLine(fade)), request, problem)) << problem;
  ASSERT_EQ(request.kind, LocalRequest::Kind::Fade);
  const LocalFade& read = request.fade;
  ASSERT_EQ(read.units.size(), 3u);
  EXPECT_EQ(read.units[0].key, (UnitKey{"counter.example", 4001, 2}));
  EXPECT_EQ(read.units[0].name, "counter");
  EXPECT_EQ(read.units[0].to, 200);
  EXPECT_EQ(read.units[1].name, "sh\xc3\xa9lf");
  EXPECT_EQ(read.units[1].to, LocalUnit::kOn);
  // Each unit's curve, as the tool's file gives it: the same bytes.
  EXPECT_TRUE(read.units[0].curve.identity());
  EXPECT_EQ(read.units[0].onLevel, 255);
  EXPECT_EQ(read.units[1].onLevel, 60);
  for (std::size_t i = 1; i < 3; ++i)
    for (int level = 0; level <= 255; ++level)
      ASSERT_EQ(read.units[i].curve.byte(level), fade.units[i].curve.byte(level)) << i << " " << level;
  EXPECT_TRUE(read.bytes);
  EXPECT_TRUE(read.fade);
  EXPECT_EQ(read.from, 20);
  EXPECT_EQ(read.overUs, 1800000000);
  EXPECT_EQ(read.steps, 255);
  EXPECT_EQ(read.zeroUs, 123456789);
  EXPECT_TRUE(read.zeroAtFirstConfirmed);
  EXPECT_EQ(read.timeoutUs, 250000);
  EXPECT_EQ(read.tries, 7);
  EXPECT_FALSE(read.wait);
}

TEST(LocalProtocol, TheOtherRequestsReadBack) {
  LocalRequest request;
  std::string problem;
  ASSERT_TRUE(readLocalRequest(withoutNewline(protocolLine()), request, problem));
  EXPECT_EQ(request.kind, LocalRequest::Kind::Protocol);
  EXPECT_EQ(request.protocol, kLocalProtocol);
  ASSERT_TRUE(readLocalRequest(withoutNewline(stopLine()), request, problem));
  EXPECT_EQ(request.kind, LocalRequest::Kind::Stop);
  ASSERT_TRUE(readLocalRequest(
      withoutNewline(levelsRequestLine({{"10.0.0.1", 4001, 1}, {"lamp", 9, 2}})), request, problem));
  ASSERT_EQ(request.kind, LocalRequest::Kind::Levels);
  EXPECT_EQ(request.keys, (std::vector<UnitKey>{{"10.0.0.1", 4001, 1}, {"lamp", 9, 2}}));
  // As someone types it at socat.
  ASSERT_TRUE(readLocalRequest(R"({"fade": {"units": [{"address": "10.0.0.1", "port": 4001,
      "type": 1, "to": 128}], "zero_us": 0}})", request, problem)) << problem;
  EXPECT_FALSE(request.fade.fade);
  EXPECT_EQ(request.fade.tries, 3);
  EXPECT_EQ(request.fade.timeoutUs, 1000000);
  EXPECT_TRUE(request.fade.wait);
}

TEST(LocalProtocol, MalformedRequestsAreRefusedWithAReason) {
  const char* const lines[] = {
      "", "[]", "{", "null", "{\"hello\": 1}", "{\"protocol\": 0}", "{\"protocol\": \"1\"}",
      R"({"fade": {"units": [], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 0, "type": 1, "to": 1}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 3, "to": 1}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 256}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": "off"}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "", "port": 1, "type": 1, "to": 1}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1}]}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1}], "zero_us": -1}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1}], "zero_us": 0, "tries": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1}], "zero_us": 0, "over_us": 1.5}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1}], "zero_us": 0, "wait": 1}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1}], "zero_us": 0, "zero": "now"}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1, "curve": {"shape": "log"}}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1, "curve": {"shape": "gamma", "gamma": 5}}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1, "curve": {"shape": "linear", "min": 9, "max": 9}}], "zero_us": 0}})",
      R"({"fade": {"units": [{"address": "a", "port": 1, "type": 1, "to": 1, "on_level": 0}], "zero_us": 0}})",
      R"({"levels": {"address": "a"}})",
      R"({"levels": [{"address": "a", "port": 70000, "type": 1}]})",
      R"({"stop": "yes"})", R"({"stop": false})",
      R"({"save": "evening"})", R"({"save": {"name": "x", "units": {}}})",
      R"({"save": {"name": "x", "units": [{"address": "a", "port": 1, "type": 1, "name": 3}]}})",
      R"({"remove": 1})", R"({"saved_scenes": false})",
  };
  for (const char* line : lines) {
    LocalRequest request;
    std::string problem;
    EXPECT_FALSE(readLocalRequest(line, request, problem)) << line;
    EXPECT_FALSE(problem.empty()) << line;
    EXPECT_EQ(problem.find('\n'), std::string::npos);
  }
}

TEST(LocalProtocol, SavedScenesRequestsAndAnswersReadBack) {
  std::vector<SavedUnit> units(2);
  units[0].key = {"10.0.0.1", 4001, 1};
  units[0].name = "counter";
  units[1].key = {"lamp", 9, 2};
  units[1].name = "shelf";
  LocalRequest request;
  std::string problem;
  ASSERT_TRUE(readLocalRequest(withoutNewline(saveRequestLine("evening", units)), request, problem)) << problem;
  ASSERT_EQ(request.kind, LocalRequest::Kind::Save);
  EXPECT_EQ(request.scene, "evening");
  ASSERT_EQ(request.units.size(), 2u);
  EXPECT_EQ(request.units[1].key, (UnitKey{"lamp", 9, 2}));
  EXPECT_EQ(request.units[1].name, "shelf");
  ASSERT_TRUE(readLocalRequest(withoutNewline(removeRequestLine("evening")), request, problem));
  EXPECT_EQ(request.kind, LocalRequest::Kind::Remove);
  EXPECT_EQ(request.scene, "evening");
  ASSERT_TRUE(readLocalRequest(withoutNewline(savedScenesRequestLine()), request, problem));
  EXPECT_EQ(request.kind, LocalRequest::Kind::SavedScenes);

  LocalReply reply;
  SceneSaving saving;
  saving.scene.name = "evening";
  saving.scene.units = {units[0]};
  saving.scene.units[0].level = 204;
  saving.leftOut = {"shelf", "door"};
  ASSERT_TRUE(readLocalReply(withoutNewline(savedReplyLine(saving)), reply, problem)) << problem;
  ASSERT_EQ(reply.kind, LocalReply::Kind::Saved);
  EXPECT_EQ(reply.scene.name, "evening");
  EXPECT_EQ(reply.scene.units.size(), 1u);
  EXPECT_EQ(reply.leftOut, saving.leftOut);
  ASSERT_TRUE(readLocalReply(withoutNewline(savedScenesLine({saving.scene, SavedScene{"late", {}}})), reply, problem));
  ASSERT_EQ(reply.kind, LocalReply::Kind::Scenes);
  ASSERT_EQ(reply.scenes.size(), 2u);
  EXPECT_EQ(reply.scenes[0].units[0].key, (UnitKey{"10.0.0.1", 4001, 1}));
  EXPECT_EQ(reply.scenes[0].units[0].level, 204);
  EXPECT_EQ(reply.scenes[1].name, "late");
  // Each refusal keeps its kind, which sets vantrel's exit status.
  using R = SceneSaving::Refusal;
  for (const R why : {R::None, R::BadName, R::Written, R::UnknownTarget, R::NothingKnown}) {
    for (const bool notFound : {false, true}) {
      ASSERT_TRUE(readLocalReply(withoutNewline(refusedLine("a: b", why, notFound)), reply, problem));
      EXPECT_EQ(reply.kind, LocalReply::Kind::Refused);
      EXPECT_EQ(reply.why, why);
      EXPECT_EQ(reply.notFound, notFound);
      EXPECT_EQ(reply.refusal, "a: b");
    }
  }
  EXPECT_FALSE(readLocalReply(R"({"refused": "x", "why": "tired"})", reply, problem));
  EXPECT_FALSE(readLocalReply(R"({"saved": "x", "units": 0})", reply, problem));
}

TEST(LocalProtocol, RepliesReadBackAsTheToolsNeedThem) {
  LocalReply reply;
  std::string problem;
  ASSERT_TRUE(readLocalReply(withoutNewline(acceptedLine({-1, 0, 255})), reply, problem)) << problem;
  EXPECT_EQ(reply.kind, LocalReply::Kind::Accepted);
  EXPECT_EQ(reply.known, (std::vector<int>{-1, 0, 255}));

  const CommandResult result = refusedAfterReply();
  ASSERT_TRUE(readLocalReply(withoutNewline(commandLine(3, 77, result, -5)), reply, problem)) << problem;
  EXPECT_EQ(reply.kind, LocalReply::Kind::Command);
  EXPECT_EQ(reply.unit, 3);
  EXPECT_EQ(reply.level, 77);
  EXPECT_EQ(reply.beganUs, -5);
  EXPECT_EQ(describeResult(reply.result), describeResult(result));

  FadeEnd end;
  end.how = FadeEnd::How::Replaced;
  end.from = 4;
  end.to = 9;
  end.tries = 2;
  end.last = result;
  end.lookUpFailure = "no such host";
  end.replacedBy = "MQTT";
  end.confirmed = {7, 1700000000123, 200};
  ASSERT_TRUE(readLocalReply(withoutNewline(endLine(1, end)), reply, problem)) << problem;
  EXPECT_EQ(reply.kind, LocalReply::Kind::End);
  EXPECT_EQ(reply.unit, 1);
  EXPECT_EQ(reply.end.how, FadeEnd::How::Replaced);
  EXPECT_EQ(failureVerdict(reply.end), "replaced by a newer command from MQTT");
  EXPECT_EQ(reply.end.confirmed.level, 7);
  EXPECT_EQ(reply.end.confirmed.atMs, 1700000000123);
  EXPECT_EQ(reply.end.confirmed.lastOn, 200);
  for (const FadeEnd::How how : {FadeEnd::How::NotStarted, FadeEnd::How::NotConfirmed}) {
    end.how = how;
    end.lookUpFailure = how == FadeEnd::How::NotStarted ? "" : "no such host";
    ASSERT_TRUE(readLocalReply(withoutNewline(endLine(0, end)), reply, problem));
    EXPECT_EQ(failureVerdict(reply.end), failureVerdict(end));
  }

  ASSERT_TRUE(readLocalReply(withoutNewline(levelsLine({{5, 1700000000000, 9}, {}, {128, 1, 128, 56}})),
                             reply, problem));
  ASSERT_EQ(reply.levels.size(), 3u);
  EXPECT_EQ(reply.levels[0].confirmedMs, 1700000000000);
  EXPECT_EQ(reply.levels[0].lastOn, 9);
  EXPECT_EQ(reply.levels[1].level, -1);
  EXPECT_EQ(reply.levels[2].sent, 56);
  EXPECT_EQ(reply.levelsFile, "");  // said by a service from before it said so
  // Where the service keeps its levels, for the schedules' record beside them.
  ASSERT_TRUE(readLocalReply(withoutNewline(levelsLine({{5, 1, 9}}, {}, "/var/lib/vantreld/levels")), reply,
                             problem));
  EXPECT_EQ(reply.levelsFile, "/var/lib/vantreld/levels");
  EXPECT_FALSE(readLocalReply(R"({"levels":[],"levels_file":7})", reply, problem));
  EXPECT_EQ(problem, "levels_file must be text");

  ASSERT_TRUE(readLocalReply(withoutNewline(errorLine("units must be a list")), reply, problem));
  EXPECT_EQ(reply.kind, LocalReply::Kind::Error);
  EXPECT_EQ(reply.error, "units must be a list");
  EXPECT_EQ(reply.protocol, kLocalProtocol);
}

// A unit the service drives but does not know since the machine started,
// with the level from before as a hint; the other lines as they always were.
TEST(LocalProtocol, ALevelNotKnownCarriesWhatIsRememberedOfIt) {
  const std::string line = levelsLine({{-1, 0, -1}, {-1, 0, -1}, {5, 1700000000000, 9}, {}},
                                      {{true, 128, 1796741283125}, {true, -1, 0}, {}, {}});
  EXPECT_NE(line.find(R"({"confirmed_ms":1700000000000,"last_on":9,"level":5})"), std::string::npos) << line;
  LocalReply reply;
  std::string problem;
  ASSERT_TRUE(readLocalReply(withoutNewline(line), reply, problem)) << problem;
  ASSERT_EQ(reply.notKnown.size(), 4u);
  EXPECT_TRUE(reply.notKnown[0].notKnown);
  EXPECT_EQ(reply.notKnown[0].level, 128);
  EXPECT_EQ(reply.notKnown[0].atMs, 1796741283125);
  EXPECT_TRUE(reply.notKnown[1].notKnown);
  EXPECT_EQ(reply.notKnown[1].level, -1);
  EXPECT_FALSE(reply.notKnown[2].notKnown);
  EXPECT_FALSE(reply.notKnown[3].notKnown);  // level -1: a unit it does not drive

  for (const char* bad : {R"({"levels":[{"level":-1,"confirmed_ms":0,"last_on":-1,"known":0}]})",
                          R"({"levels":[{"level":-1,"confirmed_ms":0,"last_on":-1,"known":false,)"
                          R"("remembered":{"level":256,"at_ms":0}}]})",
                          R"({"levels":[{"level":-1,"confirmed_ms":0,"last_on":-1,"remembered":7}]})"})
    EXPECT_FALSE(readLocalReply(bad, reply, problem)) << bad;
}

TEST(LocalProtocol, TextThatIsNotUtf8StillMakesALine) {
  LocalFade fade;
  fade.units.push_back(unitOf({"a", 1, 1}, "\xff\xfe", 1));
  LocalRequest request;
  std::string problem;
  EXPECT_TRUE(readLocalRequest(withoutNewline(requestLine(fade)), request, problem)) << problem;
}

}  // namespace

// A tool and a service of different builds agree only if each value keeps
// its word: the words are pinned here, not derived from the enums' order.
TEST(LocalProtocol, EveryValueHasItsOwnWordOnTheSocket) {
  const std::pair<FadeEnd::How, const char*> hows[] = {
      {FadeEnd::How::Confirmed, "\"how\":\"confirmed\""},
      {FadeEnd::How::NotStarted, "\"how\":\"not started\""},
      {FadeEnd::How::NotConfirmed, "\"how\":\"not confirmed\""},
      {FadeEnd::How::Stopped, "\"how\":\"stopped\""},
      {FadeEnd::How::Replaced, "\"how\":\"replaced\""}};
  for (const auto& [how, word] : hows) {
    FadeEnd end;
    end.how = how;
    const std::string line = endLine(0, end);
    EXPECT_NE(line.find(word), std::string::npos) << word;
    LocalReply reply;
    std::string problem;
    ASSERT_TRUE(readLocalReply(withoutNewline(line), reply, problem)) << problem;
    EXPECT_EQ(reply.end.how, how) << word;
  }
  const std::pair<CommandResult::Stage, const char*> stages[] = {
      {CommandResult::Stage::Connect, "\"stage\":\"connect\""},
      {CommandResult::Stage::Send, "\"stage\":\"send\""},
      {CommandResult::Stage::Reply, "\"stage\":\"reply\""}};
  for (const auto& [stage, word] : stages) {
    CommandResult result;
    result.stage = stage;
    const std::string line = commandLine(0, 1, result, 0);
    EXPECT_NE(line.find(word), std::string::npos) << word;
    LocalReply reply;
    std::string problem;
    ASSERT_TRUE(readLocalReply(withoutNewline(line), reply, problem)) << problem;
    EXPECT_EQ(reply.result.stage, stage) << word;
  }
  const std::pair<LinkFailure, const char*> failures[] = {
      {LinkFailure::None, "\"failure\":\"none\""},
      {LinkFailure::Refused, "\"failure\":\"refused\""},
      {LinkFailure::Unreachable, "\"failure\":\"unreachable\""},
      {LinkFailure::TimedOut, "\"failure\":\"timed out\""},
      {LinkFailure::Stopped, "\"failure\":\"stopped\""},
      {LinkFailure::Reset, "\"failure\":\"reset\""},
      {LinkFailure::Other, "\"failure\":\"other\""}};
  for (const auto& [failure, word] : failures) {
    CommandResult result;
    result.failure = failure;
    const std::string line = commandLine(0, 1, result, 0);
    EXPECT_NE(line.find(word), std::string::npos) << word;
    LocalReply reply;
    std::string problem;
    ASSERT_TRUE(readLocalReply(withoutNewline(line), reply, problem)) << problem;
    EXPECT_EQ(reply.result.failure, failure) << word;
  }
}
