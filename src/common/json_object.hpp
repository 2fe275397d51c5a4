#ifndef VANTREL_COMMON_JSON_OBJECT_HPP
#define VANTREL_COMMON_JSON_OBJECT_HPP

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

/// Reads `text` as one JSON object, without exceptions: false, with
/// `problem` "not valid JSON" or "not a JSON object", when it is not one.
/// The front ends' commands and the tools' requests word it alike.
inline bool parseJsonObject(std::string_view text, nlohmann::json& object, std::string& problem) {
  object = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (object.is_discarded()) {
    problem = "not valid JSON";
    return false;
  }
  if (!object.is_object()) {
    problem = "not a JSON object";
    return false;
  }
  return true;
}

#endif
