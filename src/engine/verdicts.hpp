#ifndef VANTREL_ENGINE_VERDICTS_HPP
#define VANTREL_ENGINE_VERDICTS_HPP

#include <string>

#include "link/level_command.hpp"

struct FadeEnd;

/// The words in which our tools report how a fade ended, the same in each
/// tool, so that a user who knows one knows them all.

/// "1 command", "2 commands".
std::string counted(int count, const char* one, const char* many);

/// "41 commands sent, 2 failed".
std::string commandTally(int sent, int failed);

/// "level TO not confirmed: cannot look up the address: WHY".
std::string lookUpFailed(int to, const char* why);

/// The last command never confirmed TO: "level TO not confirmed after N tries: WHY".
std::string lastNotConfirmed(int to, int tries, const CommandResult& last);

/// The first command never confirmed FROM, so the fade never began.
std::string notStarted(int to, int from, int tries, const CommandResult& last);

/// Another command took the unit over: "replaced by a newer command from
/// WHO" ("MQTT", "the control page", "another vantrel").
std::string replacedBy(const char* who);

/// Why a fade that ended NotStarted, NotConfirmed or Replaced (with
/// replacedBy) failed: lookUpFailed(), lastNotConfirmed(), notStarted() or
/// replacedBy().
std::string failureVerdict(const FadeEnd& end);

/// Stopped by the user, with where it left the unit (`confirmed` -1: nowhere known).
std::string interrupted(int confirmed);

/// The service that ran the fade went away before the unit's end came, with
/// the last level the unit confirmed in it (`confirmed` -1: none).
std::string serviceWentAway(int confirmed);

#endif
