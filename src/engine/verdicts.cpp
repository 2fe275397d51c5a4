#include "engine/verdicts.hpp"

#include "engine/fade_engine.hpp"

namespace {

std::string notConfirmed(int to) {
  return "level " + std::to_string(to) + " not confirmed";
}

}  // namespace

std::string counted(int count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string commandTally(int sent, int failed) {
  return counted(sent, "command", "commands") + " sent, " + std::to_string(failed) + " failed";
}

std::string lookUpFailed(int to, const char* why) {
  return notConfirmed(to) + ": cannot look up the address: " + why;
}

std::string lastNotConfirmed(int to, int tries, const CommandResult& last) {
  return notConfirmed(to) + " after " + counted(tries, "try", "tries") + ": " +
         describeResult(last);
}

std::string notStarted(int to, int from, int tries, const CommandResult& last) {
  return notConfirmed(to) + ": could not start at level " + std::to_string(from) + " after " +
         counted(tries, "try", "tries") + ": " + describeResult(last);
}

std::string interrupted(int confirmed) {
  return confirmed < 0 ? "interrupted before any level was confirmed"
                       : "interrupted; the last level confirmed was " + std::to_string(confirmed);
}

std::string serviceWentAway(int confirmed) {
  return confirmed < 0 ? "the service went away before any level was confirmed"
                       : "the service went away; the last level confirmed was " +
                             std::to_string(confirmed);
}

std::string replacedBy(const char* who) {
  return std::string("replaced by a newer command from ") + who;
}

std::string failureVerdict(const FadeEnd& end) {
  if (end.how == FadeEnd::How::Replaced)
    return replacedBy(end.replacedBy.c_str());
  if (!end.lookUpFailure.empty())
    return lookUpFailed(end.to, end.lookUpFailure.c_str());
  if (end.how == FadeEnd::How::NotConfirmed)
    return lastNotConfirmed(end.to, end.tries, end.last);
  return notStarted(end.to, end.from, end.tries, end.last);
}
