#include "local_socket/local_front_end.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>

#include "common/platform.hpp"
#include "local_socket/local_listener.hpp"
#include "service_link/local_protocol.hpp"
#include "service_link/socket_place.hpp"

namespace {

// A client this far behind in reading has stopped: it is let go, rather
// than held in memory without end.
constexpr std::size_t kMostUnread = 1024 * 1024;
// A tool greets as soon as it connects; one that has not by then holds a
// place that a tool may need.
constexpr std::int64_t kGreetingUs = 5000000;
// With nothing to do the thread waits until it is woken.
constexpr std::int64_t kForeverUs = std::int64_t{365} * 24 * 3600 * 1000000;

/// What the service's thread has for a client, until the front end's
/// thread sends it: shared, as a fade may outlive its client.
struct Mailbox {
  std::mutex mutex;
  std::string text;
  bool gone = false;
  std::shared_ptr<WakeUp> wake;

  void post(const std::string& line) {
    bool wasEmpty;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (gone)
        return;
      wasEmpty = text.empty();
      text += line;
    }
    if (wasEmpty)
      wake->signal();
  }
};

/// A client's command, as the service tells of it.
class Follower final : public FadeFollower {
 public:
  Follower(std::shared_ptr<Mailbox> mailbox, int units, bool wait)
      : mailbox_(std::move(mailbox)), units_(units), wait_(wait),
        confirmed_(static_cast<std::size_t>(units), -1) {}

  void accepted(const std::vector<int>& known) override { mailbox_->post(acceptedLine(known)); }
  void commandEnded(int position, int level, const CommandResult& result,
                    std::int64_t beganUs) override {
    if (result.confirmed())
      confirmed_[static_cast<std::size_t>(position)] = level;
    mailbox_->post(commandLine(position, level, result, beganUs));
  }
  // The level confirmed in this command, as a tool's own engine would know
  // it, rather than what the service knew from before.
  void fadeEnded(int position, const FadeEnd& end) override {
    FadeEnd told = end;
    told.confirmed.level = confirmed_[static_cast<std::size_t>(position)];
    mailbox_->post(endLine(position, told));
    ended_.fetch_add(1);
  }

  bool over() const { return ended_.load() >= units_; }
  bool waits() const { return wait_; }

 private:
  std::shared_ptr<Mailbox> mailbox_;
  int units_;
  bool wait_;
  std::atomic<int> ended_{0};
  std::vector<int> confirmed_;  ///< the service's thread's own
};

UnitCommand keyedCommand(const LocalFade& fade, std::shared_ptr<FadeFollower> follower) {
  UnitCommand command;
  for (const LocalUnit& unit : fade.units) {
    command.keyed.push_back({unit.key, unit.name, unit.curve, unit.onLevel});
    command.levels.push_back(unit.to == LocalUnit::kOn ? UnitCommand::kOn : unit.to);
  }
  command.from = "another vantrel";
  command.follower = std::move(follower);
  FadePlan& plan = command.plan;
  plan.fade = fade.fade;
  plan.from = fade.from;
  plan.overUs = fade.overUs;
  plan.steps = fade.steps;
  // 0 is now, for a client typed by hand.
  plan.zeroUs = fade.zeroUs > 0 ? fade.zeroUs : monotonicUs();
  plan.zero = fade.zeroAtFirstConfirmed ? FadePlan::Zero::FirstConfirmed : FadePlan::Zero::Shared;
  plan.tries = fade.tries;
  plan.timeoutUs = fade.timeoutUs;
  plan.bytes = fade.bytes;
  return command;
}

}  // namespace

struct LocalFrontEnd::Client {
  int socket = -1;
  std::string in;
  bool skipping = false;  ///< the rest of a line too long to take
  bool greeted = false;
  std::int64_t greetByUs = 0;
  bool closing = false;   ///< send what is left, then close
  std::string out;        ///< the thread's own, taken from the mailbox
  std::shared_ptr<Mailbox> mailbox;
  std::shared_ptr<Follower> follower;
};

LocalFrontEnd::LocalFrontEnd(UnitsService& service)
    : service_(service), wake_(std::make_shared<WakeUp>()) {}

LocalFrontEnd::~LocalFrontEnd() { stop(); }

bool LocalFrontEnd::open(std::string& problem) {
  std::string why;
  for (const SocketPlace& place : socketPlaces()) {
    std::string reason;
    switch (listenAt(place, listener_, reason)) {
      case Listening::Yes:
        path_ = place.path;
        return true;
      case Listening::NoPlace:
        why += (why.empty() ? "" : "; ") + reason;
        continue;
      case Listening::Taken:
      case Listening::Failed:
        problem = reason;
        return false;
    }
  }
  problem = "no local socket for the tools: " + why;
  absent_ = true;
  return false;
}

std::string LocalFrontEnd::servingNote() const { return "the tools reach it at " + path_; }

bool LocalFrontEnd::start(std::string& problem) {
  if (!wake_->ok()) {
    problem = "cannot make a pipe to wake the local socket's thread";
    return false;
  }
  thread_ = std::thread([this] { serve(); });
  return true;
}

void LocalFrontEnd::stop() {
  stopping_.store(true);
  wake_->signal();
  if (thread_.joinable())
    thread_.join();
  for (auto& client : clients_)
    drop(*client);
  clients_.clear();
  if (listener_ >= 0)
    stopListening(listener_, path_);
  listener_ = -1;
}

void LocalFrontEnd::serve() {
  std::vector<SocketWait> waits;
  while (!stopping_.load()) {
    const std::int64_t nowUs = monotonicUs();
    std::int64_t waitUs = kForeverUs;
    for (const auto& client : clients_) {
      if (client->greeted || client->closing)
        continue;
      if (client->greetByUs <= nowUs) {
        client->mailbox->post(errorLine("no greeting within 5 s: say {\"protocol\": " +
                                        std::to_string(kLocalProtocol) + "} first"));
        client->closing = true;
        continue;
      }
      waitUs = std::min(waitUs, client->greetByUs - nowUs);
    }
    waits.clear();
    waits.push_back({wake_->handle(), true, false, false});
    waits.push_back({static_cast<SocketHandle>(listener_), true, false, false});
    for (const auto& client : clients_) {
      SocketWait wait;
      wait.handle = static_cast<SocketHandle>(client->socket);
      wait.read = !client->closing;
      wait.write = !client->out.empty();
      waits.push_back(wait);
    }
    waitForSockets(waits, waitUs);
    if (waits[0].ready)
      wake_->drain();
    if (waits[1].ready)
      accept();
    for (std::size_t i = 0; i < clients_.size(); ++i) {
      Client& client = *clients_[i];
      const bool ready = i + 2 < waits.size() && waits[i + 2].ready;
      bool keep = true;
      if (ready && !client.closing)
        keep = readFrom(client);
      // A client that closed its end may still read the answers to what
      // it sent before (a script piped into socat): what is ready goes.
      if (!writeTo(client) || !keep)
        drop(client);
    }
    clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                  [](const auto& client) { return client->socket < 0; }),
                   clients_.end());
  }
}

void LocalFrontEnd::accept() {
  for (;;) {
    const int socket = acceptClient(listener_);
    if (socket < 0)
      return;
    if (clients_.size() >= kMostClients) {
      const std::string line = errorLine("too many clients: at most 64 at once");
      writeClient(socket, line.data(), line.size());
      closeClient(socket);
      continue;
    }
    auto client = std::make_unique<Client>();
    client->socket = socket;
    client->greetByUs = monotonicUs() + kGreetingUs;
    client->mailbox = std::make_shared<Mailbox>();
    client->mailbox->wake = wake_;
    clients_.push_back(std::move(client));
  }
}

bool LocalFrontEnd::readFrom(Client& client) {
  // One chunk at a time: the answers to it are sent, and weighed against
  // kMostUnread, before any more is read, so that a client that writes
  // without reading cannot grow them without end.
  char chunk[16384];
  const long got = readClient(client.socket, chunk, sizeof chunk);
  if (got == -1)
    return true;
  if (got <= 0)
    return false;
  client.in.append(chunk, static_cast<std::size_t>(got));
  std::size_t start = 0;
  for (std::size_t end; (end = client.in.find('\n', start)) != std::string::npos; start = end + 1) {
    if (client.skipping)
      client.skipping = false;
    else
      take(client, client.in.substr(start, end - start));
  }
  client.in.erase(0, start);
  if (client.in.size() >= kLocalLineBytes) {
    if (!client.skipping)
      client.mailbox->post(errorLine("line longer than 64 KiB"));
    client.skipping = true;
    client.in.clear();
  }
  return true;
}

void LocalFrontEnd::take(Client& client, const std::string& line) {
  if (client.closing)
    return;
  LocalRequest request;
  std::string problem;
  if (!readLocalRequest(line, request, problem)) {
    client.mailbox->post(errorLine(problem));
    return;
  }
  if (!client.greeted && request.kind != LocalRequest::Kind::Protocol) {
    client.mailbox->post(errorLine("say {\"protocol\": " + std::to_string(kLocalProtocol) + "} first"));
    return;
  }
  switch (request.kind) {
    case LocalRequest::Kind::Protocol:
      if (request.protocol != kLocalProtocol) {
        client.mailbox->post(errorLine("protocol " + std::to_string(request.protocol) +
                                       " is not served here: this vantreld speaks protocol " +
                                       std::to_string(kLocalProtocol)));
        client.closing = true;
        return;
      }
      client.greeted = true;
      client.mailbox->post(protocolLine());
      return;
    case LocalRequest::Kind::Fade: {
      if (client.follower && !client.follower->over()) {
        client.mailbox->post(errorLine("a command of this connection still runs"));
        return;
      }
      const int units = static_cast<int>(request.fade.units.size());
      client.follower = std::make_shared<Follower>(client.mailbox, units, request.fade.wait);
      service_.submit(keyedCommand(request.fade, client.follower));
      return;
    }
    case LocalRequest::Kind::Levels:
      {
        // A unit of the service's file is one it drives, known or not; one
        // outside it, only once a tool named it.
        std::set<UnitKey> driven;
        for (const Unit& unit : service_.file().units)
          driven.insert(unit.key());
        std::vector<RememberedLevel> confirmed;
        std::vector<LocalNotKnown> notKnown;
        const std::vector<KeyedLevels> known = service_.levelsOf(request.keys);
        for (std::size_t i = 0; i < known.size(); ++i) {
          const KeyedLevels& levels = known[i];
          confirmed.push_back(levels.confirmed);
          LocalNotKnown& hint = notKnown.emplace_back();
          hint.notKnown = levels.confirmed.level < 0 &&
                          (driven.count(request.keys[i]) != 0 || levels.remembered.level >= 0);
          if (hint.notKnown && levels.remembered.level >= 0) {
            hint.level = levels.remembered.level;
            hint.atMs = levels.remembered.confirmedMs;
          }
        }
        client.mailbox->post(levelsLine(confirmed, notKnown, service_.levelsPath()));
      }
      return;
    case LocalRequest::Kind::Save: {
      // The tool chose the units by its own file; their levels are the service's.
      SceneSaving saving;
      saving.scene.name = request.scene;
      saving.chosen = request.units;
      if (service_.saveScene(saving))
        client.mailbox->post(savedReplyLine(saving));
      else
        client.mailbox->post(refusedLine(saving.problem, saving.refusal));
      return;
    }
    case LocalRequest::Kind::Remove: {
      std::string problem;
      const UnitsService::Removal removal = service_.removeSavedScene(request.scene, problem);
      if (removal == UnitsService::Removal::Removed)
        client.mailbox->post(removedLine(request.scene));
      else
        client.mailbox->post(refusedLine(problem,
                                         removal == UnitsService::Removal::Written
                                             ? SceneSaving::Refusal::Written
                                             : SceneSaving::Refusal::None,
                                         removal == UnitsService::Removal::NotSaved));
      return;
    }
    case LocalRequest::Kind::SavedScenes: {
      client.mailbox->post(savedScenesLine(service_.savedScenes()));
      return;
    }
    case LocalRequest::Kind::Stop:
      if (client.follower && !client.follower->over())
        service_.stopFollowing(client.follower);
      return;
  }
}

bool LocalFrontEnd::writeTo(Client& client) {
  {
    std::lock_guard<std::mutex> lock(client.mailbox->mutex);
    client.out += client.mailbox->text;
    client.mailbox->text.clear();
  }
  while (!client.out.empty()) {
    const long sent = writeClient(client.socket, client.out.data(), client.out.size());
    if (sent < 0)
      return false;
    if (sent == 0)
      break;
    client.out.erase(0, static_cast<std::size_t>(sent));
  }
  if (client.out.size() > kMostUnread)
    return false;
  return !(client.closing && client.out.empty());
}

void LocalFrontEnd::drop(Client& client) {
  if (client.socket < 0)
    return;
  {
    std::lock_guard<std::mutex> lock(client.mailbox->mutex);
    client.mailbox->gone = true;
  }
  // A tool that goes away takes its fades with it, as Ctrl+C would; one
  // that handed its command over (--no-wait) leaves it running.
  if (client.follower && client.follower->waits() && !client.follower->over())
    service_.stopFollowing(client.follower);
  closeClient(client.socket);
  client.socket = -1;
}

FrontEndReader localFrontEnd() {
  return [](const UnitsFile&, FileProblems&) -> FrontEndMaker {
    return [](UnitsService& service) { return std::make_unique<LocalFrontEnd>(service); };
  };
}
