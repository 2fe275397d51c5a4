#ifndef VANTREL_WEB_API_JSON_HPP
#define VANTREL_WEB_API_JSON_HPP

#include <string>
#include <vector>

#include "service/input_view.hpp"
#include "service/units_service.hpp"

/// The control page's API as JSON text, one line each (vantreld(8)).

/// {"title"?, "units": [...], "groups": [...], "scenes": [...] (the file's, then the saved ones),
/// "saved_scenes": [...], "levels_file", "inputs"?, "schedules"?: [scheduleJson()...]}; no title
/// when `title` is empty, no schedules when the file has none, no inputs when `inputs` is empty:
/// "inputs": {"sacn": {"sources": [{"universe", "address", "cid", "name",
/// "priority"}], "packets": {"taken", "malformed", "ignored", "late",
/// "refused"}}, "artnet": {... sources without cid, name and priority}}.
std::string stateJson(const ServiceSnapshot& snapshot, const std::vector<InputState>& inputs,
                      const std::string& title);
/// {"name", "type", "level", "sent", "last_on", "problem"}: null for what
/// is not known; "sent" is the byte the level was sent as.
std::string unitJson(const Unit& unit, const UnitState& state);
/// {"name", "members", "level"}.
std::string groupJson(const UnitsFile& file, int group, int level);
/// {"name", "on", "next", "next_text"}: "next" the next firing in local
/// ISO 8601 time ("2026-12-11T07:30:00+01:00") and "next_text" its weekday
/// and minute ("Fri 07:30"), both null when it has none (switched off, or a
/// time of the sun that never comes).
std::string scheduleJson(const ServiceSnapshot::Schedule& schedule);
/// Reads POST /api/schedules/NAME's body, {"on": true|false}; false with
/// `problem`, one line.
bool readScheduleSwitch(const std::string& body, bool& on, std::string& problem);
/// {"remembered": true}, or {"remembered": false, "problem": REASON}.
std::string levelsFileJson(const LevelsFileState& state);
/// {"saved": NAME, "units": N, "left_out": [names]}.
std::string savedJson(const SceneSaving& saving);
/// {"removed": NAME}.
std::string removedJson(const std::string& name);
/// {"error": problem}.
std::string errorJson(const std::string& problem);

#endif
