#include "service_link/local_protocol.hpp"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "common/json_object.hpp"

namespace {

using Json = nlohmann::json;

// A day past the time out of any command: far enough for a unit's slowest
// answer, near enough that no sum of them overflows.
constexpr std::int64_t kLongestUs = std::int64_t{7} * 24 * 3600 * 1000000;

// Each value's word on the socket, by name rather than by position, so
// that no reordering of an enum changes what a tool and a service of
// another build say to each other.
template <typename Enum>
struct Word {
  Enum value;
  const char* word;
};

const Word<FadeEnd::How> kHows[] = {{FadeEnd::How::Confirmed, "confirmed"},
                                    {FadeEnd::How::NotStarted, "not started"},
                                    {FadeEnd::How::NotConfirmed, "not confirmed"},
                                    {FadeEnd::How::Stopped, "stopped"},
                                    {FadeEnd::How::Replaced, "replaced"}};
const Word<CommandResult::Stage> kStages[] = {{CommandResult::Stage::Connect, "connect"},
                                              {CommandResult::Stage::Send, "send"},
                                              {CommandResult::Stage::Reply, "reply"}};
const Word<LinkFailure> kFailures[] = {
    {LinkFailure::None, "none"},         {LinkFailure::Refused, "refused"},
    {LinkFailure::Unreachable, "unreachable"}, {LinkFailure::TimedOut, "timed out"},
    {LinkFailure::Stopped, "stopped"},   {LinkFailure::Reset, "reset"},
    {LinkFailure::Other, "other"}};
const Word<SceneSaving::Refusal> kRefusals[] = {
    {SceneSaving::Refusal::None, "not written"},
    {SceneSaving::Refusal::BadName, "bad name"},
    {SceneSaving::Refusal::Written, "written"},
    {SceneSaving::Refusal::UnknownTarget, "unknown target"},
    {SceneSaving::Refusal::NothingKnown, "nothing known"}};
const Word<OutputCurve::Shape> kShapes[] = {{OutputCurve::Shape::Linear, "linear"},
                                            {OutputCurve::Shape::Gamma, "gamma"},
                                            {OutputCurve::Shape::Dali, "dali"}};

template <typename Enum, std::size_t N>
const char* wordOf(const Word<Enum> (&words)[N], Enum value) {
  for (const Word<Enum>& word : words) {
    if (word.value == value)
      return word.word;
  }
  return "";  // unreachable while every value has its word, as the tests pin
}

template <typename Enum, std::size_t N>
bool valueOf(const Word<Enum> (&words)[N], const Json& text, Enum& value) {
  const std::string* read = text.get_ptr<const std::string*>();
  for (const Word<Enum>& word : words) {
    if (read != nullptr && *read == word.word) {
      value = word.value;
      return true;
    }
  }
  return false;
}

// A whole number low..high at `key`; `fallback` when the key is missing and
// a fallback is allowed (required false).
bool whole(const Json& object, const char* key, std::int64_t low, std::int64_t high,
           std::int64_t& value, std::string& problem, bool required = true) {
  const auto found = object.find(key);
  if (found == object.end()) {
    if (!required)
      return true;
    problem = std::string(key) + " is missing";
    return false;
  }
  bool inRange = false;
  if (found->is_number_unsigned())
    inRange = found->get<std::uint64_t>() <= static_cast<std::uint64_t>(high) &&
              static_cast<std::int64_t>(found->get<std::uint64_t>()) >= low;
  else if (found->is_number_integer())
    inRange = found->get<std::int64_t>() >= low && found->get<std::int64_t>() <= high;
  if (!inRange) {
    problem = std::string(key) + " must be a whole number from " + std::to_string(low) + " to " +
              std::to_string(high);
    return false;
  }
  value = found->get<std::int64_t>();
  return true;
}

bool wholeInt(const Json& object, const char* key, int low, int high, int& value,
              std::string& problem, bool required = true) {
  std::int64_t read = value;
  if (!whole(object, key, low, high, read, problem, required))
    return false;
  value = static_cast<int>(read);
  return true;
}

bool flag(const Json& object, const char* key, bool& value, std::string& problem) {
  const auto found = object.find(key);
  if (found == object.end())
    return true;
  if (!found->is_boolean()) {
    problem = std::string(key) + " must be true or false";
    return false;
  }
  value = found->get<bool>();
  return true;
}

bool text(const Json& object, const char* key, std::string& value, std::string& problem) {
  const auto found = object.find(key);
  if (found == object.end())
    return true;
  const std::string* read = found->get_ptr<const std::string*>();
  if (read == nullptr) {
    problem = std::string(key) + " must be a string";
    return false;
  }
  value = *read;
  return true;
}

bool readKey(const Json& object, UnitKey& key, std::string& problem) {
  if (!object.is_object()) {
    problem = "each unit must be an object";
    return false;
  }
  if (!text(object, "address", key.address, problem))
    return false;
  if (key.address.empty() || key.address.size() > 253) {
    problem = "address must be a host name or an IPv4 address";
    return false;
  }
  int port = 0;
  if (!wholeInt(object, "port", 1, 65535, port, problem) ||
      !wholeInt(object, "type", 1, 2, key.type, problem))
    return false;
  key.port = static_cast<std::uint16_t>(port);
  return true;
}

bool readCurve(const Json& unit, OutputCurve& curve, std::string& problem) {
  const auto found = unit.find("curve");
  if (found == unit.end())
    return true;
  OutputCurve::Shape shape = OutputCurve::Shape::Linear;
  if (!found->is_object() || !valueOf(kShapes, found->value("shape", Json()), shape)) {
    problem = "curve must be an object whose shape is \"linear\", \"gamma\" or \"dali\"";
    return false;
  }
  double gamma = 1.0;
  const auto exponent = found->find("gamma");
  if (exponent != found->end()) {
    if (!exponent->is_number() || !(exponent->get<double>() >= 1.0 && exponent->get<double>() <= 4.0)) {
      problem = "gamma must be a number from 1.0 to 4.0";
      return false;
    }
    gamma = exponent->get<double>();
  }
  int min = 1;
  int max = 255;
  if (!wholeInt(*found, "min", 1, 254, min, problem, false) ||
      !wholeInt(*found, "max", 2, 255, max, problem, false))
    return false;
  if (max <= min) {
    problem = "max must be above min";
    return false;
  }
  curve = OutputCurve(shape, gamma, min, max);
  return true;
}

Json curveJson(const OutputCurve& curve) {
  Json json = {{"shape", wordOf(kShapes, curve.shape())}, {"min", curve.min()}, {"max", curve.max()}};
  if (curve.shape() == OutputCurve::Shape::Gamma)
    json["gamma"] = curve.gamma();
  return json;
}

Json keyJson(const UnitKey& key) {
  return {{"address", key.address}, {"port", key.port}, {"type", key.type}};
}

bool readFade(const Json& object, LocalFade& fade, std::string& problem) {
  if (!object.is_object()) {
    problem = "fade must be an object";
    return false;
  }
  const auto units = object.find("units");
  if (units == object.end() || !units->is_array() || units->empty()) {
    problem = "units must be a list of one unit or more";
    return false;
  }
  for (const Json& entry : *units) {
    LocalUnit unit;
    if (!readKey(entry, unit.key, problem) || !text(entry, "name", unit.name, problem))
      return false;
    const auto to = entry.find("to");
    if (to != entry.end() && to->is_string() && to->get_ref<const std::string&>() == "on")
      unit.to = LocalUnit::kOn;
    else if (!wholeInt(entry, "to", 0, 255, unit.to, problem))
      return false;
    if (!readCurve(entry, unit.curve, problem) ||
        !wholeInt(entry, "on_level", 1, 255, unit.onLevel, problem, false))
      return false;
    fade.units.push_back(std::move(unit));
  }
  std::string zero = "shared";
  if (!flag(object, "fade", fade.fade, problem) ||
      !wholeInt(object, "from", -1, 255, fade.from, problem, false) ||
      !whole(object, "over_us", 0, kLongestUs, fade.overUs, problem, false) ||
      !wholeInt(object, "steps", 0, 255, fade.steps, problem, false) ||
      !whole(object, "zero_us", 0, INT64_MAX / 2, fade.zeroUs, problem) ||
      !text(object, "zero", zero, problem) ||
      !whole(object, "timeout_us", 1000, kLongestUs, fade.timeoutUs, problem, false) ||
      !wholeInt(object, "tries", 1, 1000, fade.tries, problem, false) ||
      !flag(object, "wait", fade.wait, problem) || !flag(object, "bytes", fade.bytes, problem))
    return false;
  if (zero != "shared" && zero != "first confirmed") {
    problem = "zero must be \"shared\" or \"first confirmed\"";
    return false;
  }
  fade.zeroAtFirstConfirmed = zero == "first confirmed";
  return true;
}

Json resultJson(const CommandResult& result) {
  const Reply& reply = result.exchange.reply;
  return {{"stage", wordOf(kStages, result.stage)},
          {"failure", wordOf(kFailures, result.failure)},
          {"error", result.error},
          {"sent", result.exchange.sent},
          {"reply", {reply.bytes[0], reply.bytes[1], reply.bytes[2], reply.bytes[3]}},
          {"count", reply.count},
          {"echoed", reply.echoed}};
}

bool readResult(const Json& object, CommandResult& result, std::string& problem) {
  if (!object.is_object()) {
    problem = "result must be an object";
    return false;
  }
  if (!valueOf(kStages, object.value("stage", Json()), result.stage) ||
      !valueOf(kFailures, object.value("failure", Json()), result.failure)) {
    problem = "result has no stage or failure";
    return false;
  }
  std::int64_t error = 0;
  std::int64_t sent = 0;
  std::int64_t count = 0;
  Reply& reply = result.exchange.reply;
  if (!whole(object, "error", INT32_MIN, INT32_MAX, error, problem) ||
      !whole(object, "sent", -1, CommandFrame::kSize, sent, problem) ||
      !whole(object, "count", -1, CommandFrame::kSize, count, problem) ||
      !flag(object, "echoed", reply.echoed, problem))
    return false;
  const Json& bytes = object.value("reply", Json());
  if (!bytes.is_array() || bytes.size() != static_cast<std::size_t>(CommandFrame::kSize)) {
    problem = "reply must be a list of 4 bytes";
    return false;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!bytes[i].is_number_unsigned() || bytes[i].get<std::uint64_t>() > 255) {
      problem = "reply must be a list of 4 bytes";
      return false;
    }
    reply.bytes[i] = static_cast<unsigned char>(bytes[i].get<std::uint64_t>());
  }
  result.error = static_cast<long>(error);
  result.exchange.sent = static_cast<long>(sent);
  reply.count = static_cast<long>(count);
  return true;
}

// Its keys, "known" and "remembered", are absent from a service that said
// neither: a level -1 then reads as a unit it does not drive, as it did.
bool readNotKnown(const Json& entry, LocalNotKnown& notKnown, std::string& problem) {
  bool known = true;
  if (!flag(entry, "known", known, problem))
    return false;
  notKnown.notKnown = !known;
  const auto remembered = entry.find("remembered");
  if (remembered == entry.end())
    return true;
  if (!remembered->is_object() || !wholeInt(*remembered, "level", 0, 255, notKnown.level, problem) ||
      !whole(*remembered, "at_ms", 0, INT64_MAX / 2, notKnown.atMs, problem))
    return problem.empty() ? (problem = "remembered must be an object", false) : false;
  return true;
}

std::string line(const Json& object) {
  // Text from units files and the network may hold bytes that are not
  // UTF-8: they go as U+FFFD rather than fail the line.
  return object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

bool readLocalRequest(std::string_view text, LocalRequest& request, std::string& problem) {
  Json object;
  if (!parseJsonObject(text, object, problem))
    return false;
  LocalRequest read;
  if (object.contains("protocol")) {
    read.kind = LocalRequest::Kind::Protocol;
    if (!wholeInt(object, "protocol", 1, INT32_MAX, read.protocol, problem))
      return false;
  } else if (object.contains("fade")) {
    read.kind = LocalRequest::Kind::Fade;
    if (!readFade(object["fade"], read.fade, problem))
      return false;
  } else if (object.contains("levels")) {
    read.kind = LocalRequest::Kind::Levels;
    const Json& keys = object["levels"];
    if (!keys.is_array()) {
      problem = "levels must be a list of units";
      return false;
    }
    for (const Json& entry : keys) {
      UnitKey key;
      if (!readKey(entry, key, problem))
        return false;
      read.keys.push_back(std::move(key));
    }
  } else if (object.contains("save")) {
    read.kind = LocalRequest::Kind::Save;
    const Json& save = object["save"];
    if (!save.is_object() || !::text(save, "name", read.scene, problem))
      return problem.empty() ? (problem = "save must be an object", false) : false;
    const Json& units = save.value("units", Json());
    if (!units.is_array() || units.size() > kMaxSavedSceneUnits) {
      problem = "save must hold a list of at most " + std::to_string(kMaxSavedSceneUnits) + " units";
      return false;
    }
    for (const Json& entry : units) {
      SavedUnit unit;
      if (!readKey(entry, unit.key, problem) || !::text(entry, "name", unit.name, problem))
        return false;
      read.units.push_back(std::move(unit));
    }
  } else if (object.contains("remove")) {
    read.kind = LocalRequest::Kind::Remove;
    if (!::text(object, "remove", read.scene, problem))
      return false;
  } else if (object.contains("saved_scenes")) {
    read.kind = LocalRequest::Kind::SavedScenes;
    if (object["saved_scenes"] != true) {
      problem = "saved_scenes must be true";
      return false;
    }
  } else if (object.contains("stop")) {
    read.kind = LocalRequest::Kind::Stop;
    if (object["stop"] != true) {
      problem = "stop must be true";
      return false;
    }
  } else {
    problem = "not a request: expected protocol, fade, levels, save, remove, saved_scenes or stop";
    return false;
  }
  request = std::move(read);
  return true;
}

bool readLocalReply(std::string_view text, LocalReply& reply, std::string& problem) {
  Json object;
  if (!parseJsonObject(text, object, problem))
    return false;
  LocalReply read;
  if (object.contains("error")) {
    read.kind = LocalReply::Kind::Error;
    if (!::text(object, "error", read.error, problem) ||
        !wholeInt(object, "protocol", 1, INT32_MAX, read.protocol, problem, false))
      return false;
  } else if (object.contains("protocol")) {
    read.kind = LocalReply::Kind::Protocol;
    if (!wholeInt(object, "protocol", 1, INT32_MAX, read.protocol, problem))
      return false;
  } else if (object.contains("accepted")) {
    read.kind = LocalReply::Kind::Accepted;
    const Json& known = object["accepted"].value("known", Json());
    if (!known.is_array()) {
      problem = "accepted has no known levels";
      return false;
    }
    for (const Json& level : known) {
      if (!level.is_number_integer() || level.get<std::int64_t>() < -1 ||
          level.get<std::int64_t>() > 255) {
        problem = "a known level must be -1 to 255";
        return false;
      }
      read.known.push_back(level.get<int>());
    }
  } else if (object.contains("command")) {
    read.kind = LocalReply::Kind::Command;
    const Json& command = object["command"];
    if (!command.is_object() || !wholeInt(command, "unit", 0, INT32_MAX, read.unit, problem) ||
        !wholeInt(command, "level", 0, 255, read.level, problem) ||
        !whole(command, "began_us", INT64_MIN / 2, INT64_MAX / 2, read.beganUs, problem) ||
        !readResult(command.value("result", Json()), read.result, problem))
      return problem.empty() ? (problem = "command must be an object", false) : false;
  } else if (object.contains("end")) {
    read.kind = LocalReply::Kind::End;
    const Json& end = object["end"];
    if (!end.is_object()) {
      problem = "end must be an object";
      return false;
    }
    if (!valueOf(kHows, end.value("how", Json()), read.end.how)) {
      problem = "end has no how";
      return false;
    }
    if (!wholeInt(end, "unit", 0, INT32_MAX, read.unit, problem) ||
        !wholeInt(end, "from", -1, 255, read.end.from, problem) ||
        !wholeInt(end, "to", 0, 255, read.end.to, problem) ||
        !wholeInt(end, "tries", 0, INT32_MAX, read.end.tries, problem) ||
        !readResult(end.value("last", Json()), read.end.last, problem) ||
        !::text(end, "lookup_failure", read.end.lookUpFailure, problem) ||
        !::text(end, "replaced_by", read.end.replacedBy, problem))
      return false;
    const Json& confirmed = end.value("confirmed", Json());
    ConfirmedLevel& level = read.end.confirmed;
    if (!confirmed.is_object() || !wholeInt(confirmed, "level", -1, 255, level.level, problem) ||
        !whole(confirmed, "at_ms", 0, INT64_MAX / 2, level.atMs, problem) ||
        !wholeInt(confirmed, "last_on", -1, 255, level.lastOn, problem))
      return problem.empty() ? (problem = "end has no confirmed level", false) : false;
  } else if (object.contains("levels")) {
    read.kind = LocalReply::Kind::Levels;
    const Json& levels = object["levels"];
    if (!levels.is_array()) {
      problem = "levels must be a list";
      return false;
    }
    for (const Json& entry : levels) {
      RememberedLevel level;
      if (!entry.is_object() || !wholeInt(entry, "level", -1, 255, level.level, problem) ||
          !whole(entry, "confirmed_ms", 0, INT64_MAX / 2, level.confirmedMs, problem) ||
          !wholeInt(entry, "last_on", -1, 255, level.lastOn, problem) ||
          !wholeInt(entry, "sent", -1, 255, level.sent, problem, false))
        return problem.empty() ? (problem = "each level must be an object", false) : false;
      read.levels.push_back(level);
      if (!readNotKnown(entry, read.notKnown.emplace_back(), problem))
        return false;
    }
    const auto file = object.find("levels_file");
    if (file != object.end()) {
      if (!file->is_string()) {
        problem = "levels_file must be text";
        return false;
      }
      read.levelsFile = file->get<std::string>();
    }
  } else if (object.contains("saved")) {
    read.kind = LocalReply::Kind::Saved;
    int units = 0;
    if (!::text(object, "saved", read.scene.name, problem) ||
        !wholeInt(object, "units", 1, INT32_MAX, units, problem))
      return false;
    read.scene.units.resize(static_cast<std::size_t>(std::min(units, static_cast<int>(kMaxSavedSceneUnits))));
    const Json& leftOut = object.value("left_out", Json::array());
    if (!leftOut.is_array()) {
      problem = "left_out must be a list";
      return false;
    }
    for (const Json& name : leftOut) {
      if (!name.is_string()) {
        problem = "left_out must be a list of names";
        return false;
      }
      read.leftOut.push_back(name.get<std::string>());
    }
  } else if (object.contains("removed")) {
    read.kind = LocalReply::Kind::Removed;
    if (!::text(object, "removed", read.scene.name, problem))
      return false;
  } else if (object.contains("saved_scenes")) {
    read.kind = LocalReply::Kind::Scenes;
    const Json& scenes = object["saved_scenes"];
    if (!scenes.is_array() || scenes.size() > kMaxSavedScenes) {
      problem = "saved_scenes must be a list of at most " + std::to_string(kMaxSavedScenes);
      return false;
    }
    for (const Json& scene : scenes) {
      SavedScene& saved = read.scenes.emplace_back();
      if (!scene.is_object() || !::text(scene, "name", saved.name, problem))
        return problem.empty() ? (problem = "each saved scene must be an object", false) : false;
      const Json& units = scene.value("units", Json());
      if (!units.is_array() || units.size() > kMaxSavedSceneUnits) {
        problem = "a saved scene must hold a list of units";
        return false;
      }
      for (const Json& entry : units) {
        SavedUnit unit;
        if (!readKey(entry, unit.key, problem) || !::text(entry, "name", unit.name, problem) ||
            !wholeInt(entry, "level", 0, 255, unit.level, problem))
          return false;
        saved.units.push_back(std::move(unit));
      }
    }
  } else if (object.contains("refused")) {
    read.kind = LocalReply::Kind::Refused;
    if (!::text(object, "refused", read.refusal, problem) ||
        !flag(object, "not_found", read.notFound, problem))
      return false;
    if (!valueOf(kRefusals, object.value("why", Json()), read.why)) {
      problem = "refused has no why";
      return false;
    }
  } else {
    problem = "not a reply of protocol " + std::to_string(kLocalProtocol);
    return false;
  }
  reply = std::move(read);
  return true;
}

std::string protocolLine() { return line({{"protocol", kLocalProtocol}}); }

std::string errorLine(const std::string& problem) {
  return line({{"error", problem}, {"protocol", kLocalProtocol}});
}

std::string requestLine(const LocalFade& fade) {
  Json units = Json::array();
  for (const LocalUnit& unit : fade.units) {
    Json entry = keyJson(unit.key);
    entry["name"] = unit.name;
    if (unit.to == LocalUnit::kOn)
      entry["to"] = "on";
    else
      entry["to"] = unit.to;
    if (!unit.curve.identity())
      entry["curve"] = curveJson(unit.curve);
    if (unit.onLevel != 255)
      entry["on_level"] = unit.onLevel;
    units.push_back(std::move(entry));
  }
  Json request = {{"units", std::move(units)},
                  {"fade", fade.fade},
                  {"from", fade.from},
                  {"over_us", fade.overUs},
                  {"steps", fade.steps},
                  {"zero_us", fade.zeroUs},
                  {"zero", fade.zeroAtFirstConfirmed ? "first confirmed" : "shared"},
                  {"timeout_us", fade.timeoutUs},
                  {"tries", fade.tries},
                  {"wait", fade.wait}};
  // Said only when so, as a service before it took none.
  if (fade.bytes)
    request["bytes"] = true;
  return line({{"fade", std::move(request)}});
}

std::string levelsRequestLine(const std::vector<UnitKey>& keys) {
  Json list = Json::array();
  for (const UnitKey& key : keys)
    list.push_back(keyJson(key));
  return line({{"levels", std::move(list)}});
}

std::string stopLine() { return line({{"stop", true}}); }

std::string acceptedLine(const std::vector<int>& known) {
  return line({{"accepted", {{"known", known}}}});
}

std::string commandLine(int unit, int level, const CommandResult& result, std::int64_t beganUs) {
  return line({{"command",
                {{"unit", unit}, {"level", level}, {"began_us", beganUs}, {"result", resultJson(result)}}}});
}

std::string endLine(int unit, const FadeEnd& end) {
  return line({{"end",
                {{"unit", unit},
                 {"how", wordOf(kHows, end.how)},
                 {"from", end.from},
                 {"to", end.to},
                 {"tries", end.tries},
                 {"last", resultJson(end.last)},
                 {"lookup_failure", end.lookUpFailure},
                 {"replaced_by", end.replacedBy},
                 {"confirmed",
                  {{"level", end.confirmed.level},
                   {"at_ms", end.confirmed.atMs},
                   {"last_on", end.confirmed.lastOn}}}}}});
}

std::string levelsLine(const std::vector<RememberedLevel>& levels,
                       const std::vector<LocalNotKnown>& notKnown, const std::string& levelsFile) {
  Json list = Json::array();
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const RememberedLevel& level = levels[i];
    Json entry = {{"level", level.level}, {"confirmed_ms", level.confirmedMs}, {"last_on", level.lastOn}};
    // The byte, only where it is not the level, as in the levels file.
    if (level.sent >= 0 && level.sent != level.level)
      entry["sent"] = level.sent;
    // Said only when so: the lines of the units it knows stay as they were.
    if (i < notKnown.size() && notKnown[i].notKnown) {
      entry["known"] = false;
      if (notKnown[i].level >= 0)
        entry["remembered"] = {{"level", notKnown[i].level}, {"at_ms", notKnown[i].atMs}};
    }
    list.push_back(std::move(entry));
  }
  Json reply = {{"levels", std::move(list)}};
  if (!levelsFile.empty())
    reply["levels_file"] = levelsFile;
  return line(reply);
}

std::string saveRequestLine(const std::string& name, const std::vector<SavedUnit>& units) {
  Json list = Json::array();
  for (const SavedUnit& unit : units) {
    Json entry = keyJson(unit.key);
    entry["name"] = unit.name;
    list.push_back(std::move(entry));
  }
  return line({{"save", {{"name", name}, {"units", std::move(list)}}}});
}

std::string removeRequestLine(const std::string& name) { return line({{"remove", name}}); }

std::string savedScenesRequestLine() { return line({{"saved_scenes", true}}); }

std::string savedReplyLine(const SceneSaving& saving) {
  return line({{"saved", saving.scene.name},
               {"units", saving.scene.units.size()},
               {"left_out", saving.leftOut}});
}

std::string removedLine(const std::string& name) { return line({{"removed", name}}); }

std::string savedScenesLine(const std::vector<SavedScene>& scenes) {
  Json list = Json::array();
  for (const SavedScene& scene : scenes) {
    Json units = Json::array();
    for (const SavedUnit& unit : scene.units) {
      Json entry = keyJson(unit.key);
      entry["name"] = unit.name;
      entry["level"] = unit.level;
      units.push_back(std::move(entry));
    }
    list.push_back({{"name", scene.name}, {"units", std::move(units)}});
  }
  return line({{"saved_scenes", std::move(list)}});
}

std::string refusedLine(const std::string& refusal, SceneSaving::Refusal why, bool notFound) {
  Json object = {{"refused", refusal}, {"why", wordOf(kRefusals, why)}};
  if (notFound)
    object["not_found"] = true;
  return line(object);
}
