#include "service_link/service_client.hpp"

#include "common/platform.hpp"
#include "service_link/local_link.hpp"
#include "service_link/socket_place.hpp"

namespace {

// The service answers a greeting or a request at once, from its own
// thread; a service this slow is as good as stuck.
constexpr std::int64_t kAnswerUs = 5000000;
// After a stop the ends come within the service's 100 ms; a service that
// takes longer is left behind.
constexpr std::int64_t kStopAnswerUs = 2000000;

}  // namespace

const char kNoWaitWithoutService[] = "--no-wait needs a running vantreld to hand the command to";

struct ServiceClient::Link {
  LocalLink link;
  /// The next reply, waiting until `deadlineUs`; false with `problem`.
  bool next(LocalReply& reply, std::int64_t deadlineUs, const std::atomic<bool>* stop,
            LocalLink::Got& got, std::string& problem) {
    std::string line;
    got = link.readLine(line, deadlineUs, stop, problem);
    switch (got) {
      case LocalLink::Got::Line:
        break;
      case LocalLink::Got::Stopped:
        return false;
      case LocalLink::Got::Closed:
        problem = "the service closed the connection";
        return false;
      case LocalLink::Got::TimedOut:
        problem = "the service did not answer";
        return false;
      case LocalLink::Got::Failed:
        return false;
    }
    if (!readLocalReply(line, reply, problem)) {
      problem = "the service's answer is wrong: " + problem;
      return false;
    }
    if (reply.kind == LocalReply::Kind::Error) {
      problem = "the service refused: " + reply.error;
      return false;
    }
    return true;
  }
};

ServiceClient::ServiceClient(const char* program) : program_(program) {}

ServiceClient::~ServiceClient() = default;

ServiceClient::Reach ServiceClient::reach(std::string& problem) {
  for (const SocketPlace& place : socketPlaces()) {
    auto link = std::make_unique<Link>();
    std::string why;
    switch (link->link.connect(place.path, why)) {
      case LocalLink::Reach::Absent:
        continue;
      case LocalLink::Reach::Denied:
        problem = "cannot use vantreld at " + place.path +
                  ": permission denied; join the group vantrel, or use --direct to go around it";
        return Reach::Refused;
      case LocalLink::Reach::Failed:
        problem = "cannot use vantreld at " + why;
        return Reach::Refused;
      case LocalLink::Reach::Open:
        break;
    }
    path_ = place.path;
    LocalReply reply;
    LocalLink::Got got;
    // A full service answers and closes at once, maybe before the
    // greeting goes: what it said is still there to read, and says more
    // than the failed send.
    std::string unsent;
    const bool sent = link->link.send(protocolLine(), unsent);
    const bool answered = link->next(reply, monotonicUs() + kAnswerUs, nullptr, got, why);
    if (!answered || !sent) {
      problem = "cannot use vantreld at " + path_ + ": " +
                (!answered && (sent || got == LocalLink::Got::Line) ? why : unsent);
      return Reach::Refused;
    }
    if (reply.kind != LocalReply::Kind::Protocol || reply.protocol != kLocalProtocol) {
      problem = "cannot use vantreld at " + path_ + ": it speaks protocol " +
                std::to_string(reply.protocol) + ", " + program_ + " protocol " +
                std::to_string(kLocalProtocol) + "; update both, or use --direct";
      return Reach::Refused;
    }
    link_ = std::move(link);
    return Reach::Service;
  }
  return Reach::Direct;
}

bool ServiceClient::levels(const std::vector<UnitKey>& keys, std::vector<RememberedLevel>& levels,
                           std::vector<LocalNotKnown>& notKnown, std::string& problem) {
  LocalReply reply;
  LocalLink::Got got;
  if (!link_->link.send(levelsRequestLine(keys), problem) ||
      !link_->next(reply, monotonicUs() + kAnswerUs, nullptr, got, problem))
    return false;
  if (reply.kind != LocalReply::Kind::Levels || reply.levels.size() != keys.size()) {
    problem = "the service's answer is wrong: not the levels asked for";
    return false;
  }
  levels = reply.levels;
  notKnown = reply.notKnown;
  levelsFile_ = reply.levelsFile;
  return true;
}

bool ServiceClient::submit(const LocalFade& fade, std::vector<int>& known, std::string& problem) {
  LocalReply reply;
  LocalLink::Got got;
  if (!link_->link.send(requestLine(fade), problem) ||
      !link_->next(reply, monotonicUs() + kAnswerUs, nullptr, got, problem))
    return false;
  if (reply.kind != LocalReply::Kind::Accepted || reply.known.size() != fade.units.size()) {
    problem = "the service's answer is wrong: not an acceptance of the command";
    return false;
  }
  known = reply.known;
  return true;
}

bool ServiceClient::saveScene(const std::string& name, const std::vector<SavedUnit>& units,
                              LocalReply& reply, std::string& problem) {
  return askScenes(saveRequestLine(name, units), reply, problem);
}

bool ServiceClient::removeScene(const std::string& name, LocalReply& reply, std::string& problem) {
  return askScenes(removeRequestLine(name), reply, problem);
}

bool ServiceClient::savedScenes(LocalReply& reply, std::string& problem) {
  return askScenes(savedScenesRequestLine(), reply, problem);
}

bool ServiceClient::askScenes(const std::string& request, LocalReply& reply, std::string& problem) {
  LocalLink::Got got;
  if (!link_->link.send(request, problem) ||
      !link_->next(reply, monotonicUs() + kAnswerUs, nullptr, got, problem))
    return false;
  if (reply.kind != LocalReply::Kind::Saved && reply.kind != LocalReply::Kind::Removed &&
      reply.kind != LocalReply::Kind::Scenes && reply.kind != LocalReply::Kind::Refused) {
    problem = "the service's answer is wrong: not an answer about saved scenes";
    return false;
  }
  return true;
}

bool ServiceClient::follow(int units, EngineListener& listener, const std::atomic<bool>& stop,
                           std::string& problem) {
  int ended = 0;
  bool stopSent = false;
  std::int64_t deadlineUs = INT64_MAX;
  while (ended < units) {
    if (stop.load() && !stopSent) {
      if (!link_->link.send(stopLine(), problem))
        return false;
      stopSent = true;
      deadlineUs = monotonicUs() + kStopAnswerUs;
    }
    LocalReply reply;
    LocalLink::Got got;
    if (!link_->next(reply, deadlineUs, stopSent ? nullptr : &stop, got, problem)) {
      if (got == LocalLink::Got::Stopped)
        continue;
      return false;
    }
    if ((reply.kind != LocalReply::Kind::Command && reply.kind != LocalReply::Kind::End) ||
        reply.unit >= units) {
      problem = "the service's answer is wrong: not a command or an end of this fade";
      return false;
    }
    if (reply.kind == LocalReply::Kind::Command) {
      listener.commandEnded(reply.unit, reply.level, reply.result, reply.beganUs);
    } else {
      ++ended;
      listener.fadeEnded(reply.unit, reply.end);
    }
  }
  return true;
}
