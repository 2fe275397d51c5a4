#include "consoles/console_front_end.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <utility>

#include "common/ipv4_address.hpp"
#include "common/one_line.hpp"
#include "common/platform.hpp"
#include "consoles/artnet_packet.hpp"
#include "consoles/console_settings_reading.hpp"
#include "consoles/sacn_packet.hpp"

namespace {

// As a fade it replaces says who took over.
const char kFrom[] = "a lighting console";
// A console fades by sending level after level: a unit's command is over
// once no new level has come for a second.
constexpr std::int64_t kSettleUs = 1000000;

// Each (unit, level) at once, as one command of the console's stream; with
// `raw`, each level is the byte sent.
UnitCommand channelLevels(const std::vector<std::pair<int, int>>& levels, bool raw) {
  UnitCommand command;
  command.plan.bytes = raw;
  for (const auto& [unit, level] : levels) {
    command.units.push_back(unit);
    command.levels.push_back(level);
  }
  command.from = kFrom;
  command.settleUs = kSettleUs;
  return command;
}

// With no source to lose the thread sleeps until a datagram or stop():
// a year is as good as forever.
constexpr std::int64_t kForeverUs = std::int64_t{365} * 24 * 3600 * 1000000;
// Datagrams read in one turn, so that a flood on one socket starves
// neither the other nor the loss deadlines.
constexpr int kTurnDatagrams = 64;

InputSourceState sourceState(int universe, const ConsoleSource& source) {
  return {universe, formatIPv4(source.address), source.cid, source.name,
          source.cid.empty() ? -1 : source.priority};
}

void addCounts(InputState& state, const InputCounts& counts) {
  state.taken = counts.taken;
  state.malformed = counts.malformed;
  state.ignored = counts.ignored;
  state.late = counts.late;
  state.refused = counts.refused;
}

}  // namespace

template <>
InputState ConsoleFrontEnd::Side<SacnInput>::inputState() const {
  InputState state;
  state.input = name;
  std::lock_guard<std::mutex> lock(mutex);
  for (const SacnUniverse& universe : input.universes())
    for (const ConsoleSource& source : universe.sources())
      state.sources.push_back(sourceState(universe.number(), source));
  addCounts(state, input.counts());
  return state;
}

template <>
InputState ConsoleFrontEnd::Side<ArtnetInput>::inputState() const {
  InputState state;
  state.input = name;
  std::lock_guard<std::mutex> lock(mutex);
  for (const ArtnetPort& port : input.ports())
    for (const ConsoleSource& source : port.sources())
      state.sources.push_back(sourceState(port.number(), source));
  addCounts(state, input.counts());
  return state;
}

ConsoleFrontEnd::ConsoleFrontEnd(UnitsService& service, const ConsoleSettings& settings, bool verbose)
    : service_(service), verbose_(verbose) {
  if (settings.sacn) {
    const UnitFeed feed(settings.sacnChannels);
    sacn_ = std::make_unique<Side<SacnInput>>(
        "sacn", "universe", *settings.sacn,
        SacnInput(feed.universes(), settings.sacn->sources, settings.sacn->lossTimeoutUs),
        settings.sacnChannels);
  }
  if (settings.artnet) {
    const UnitFeed feed(settings.artnetChannels);
    artnet_ = std::make_unique<Side<ArtnetInput>>(
        "artnet", "port-address", *settings.artnet, ArtnetInput(feed.universes(), settings.artnet->sources),
        settings.artnetChannels);
  }
}

ConsoleFrontEnd::~ConsoleFrontEnd() { stop(); }

bool ConsoleFrontEnd::open(std::string& problem) {
  if (!wake_.ok()) {
    problem = "cannot make a pipe to wake the consoles' thread";
    return false;
  }
  if (sacn_) {
    if (!sacn_->socket.open(kSacnPort, sacn_->settings.listen, problem))
      return false;
    const std::uint32_t listen = sacn_->settings.listen;
    for (const SacnUniverse& universe : sacn_->input.universes()) {
      std::string cause;
      if (sacn_->socket.join(sacnGroup(universe.number()), cause))
        continue;
      problem = "sacn: cannot join universe " + std::to_string(universe.number()) + " (" +
                formatIPv4(sacnGroup(universe.number())) + ") on " +
                (listen != 0 ? formatIPv4(listen) + ": " + cause
                             : "any interface: " + cause +
                                   "; set [sacn] listen to the lighting network's address");
      return false;
    }
  }
  if (artnet_) {
    if (!artnet_->socket.open(kArtnetPort, artnet_->settings.listen, problem))
      return false;
  }
  return true;
}

std::vector<const InputView*> ConsoleFrontEnd::inputViews() const {
  std::vector<const InputView*> views;
  if (sacn_)
    views.push_back(sacn_.get());
  if (artnet_)
    views.push_back(artnet_.get());
  return views;
}

bool ConsoleFrontEnd::start(std::string&) {
  thread_ = std::thread([this] { run(); });
  return true;
}

void ConsoleFrontEnd::stop() {
  stopping_ = true;
  wake_.signal();
  if (thread_.joinable())
    thread_.join();
}

void ConsoleFrontEnd::run() {
  std::vector<SocketWait> waits;
  for (;;) {
    waits.clear();
    waits.push_back({wake_.handle(), true, false, false});
    std::int64_t deadlineUs = INT64_MAX;
    if (sacn_) {
      waits.push_back({sacn_->socket.handle(), true, false, false});
      std::lock_guard<std::mutex> lock(sacn_->mutex);
      deadlineUs = std::min(deadlineUs, sacn_->input.deadlineUs());
    }
    if (artnet_) {
      waits.push_back({artnet_->socket.handle(), true, false, false});
      std::lock_guard<std::mutex> lock(artnet_->mutex);
      deadlineUs = std::min(deadlineUs, artnet_->input.deadlineUs());
    }
    waitForSockets(waits, deadlineUs == INT64_MAX ? kForeverUs
                                                   : std::max<std::int64_t>(0, deadlineUs - monotonicUs()));
    if (stopping_)
      return;
    if (waits[0].ready)
      wake_.drain();
    const std::int64_t nowUs = monotonicUs();
    if (sacn_) {
      receiveSacn(nowUs);
      expire(*sacn_, nowUs);
    }
    if (artnet_) {
      receiveArtnet(nowUs);
      expire(*artnet_, nowUs);
    }
  }
}

void ConsoleFrontEnd::receiveSacn(std::int64_t nowUs) {
  std::uint8_t buffer[1024];
  std::size_t size = 0;
  std::uint32_t from = 0;
  std::uint16_t port = 0;
  for (int turn = 0; turn < kTurnDatagrams && sacn_->socket.receive(buffer, sizeof buffer, size, from, port);
       ++turn) {
    {
      std::lock_guard<std::mutex> lock(sacn_->mutex);
      if (const SacnUniverse* changed = sacn_->input.receive(buffer, size, from, nowUs, changes_))
        sacn_->feed.changes(changed->number(), changed->levels(), changed->coveredSlots(), commands_);
    }
    settle(*sacn_);
  }
}

void ConsoleFrontEnd::receiveArtnet(std::int64_t nowUs) {
  std::uint8_t buffer[1024];
  std::size_t size = 0;
  std::uint32_t from = 0;
  std::uint16_t port = 0;
  for (int turn = 0; turn < kTurnDatagrams && artnet_->socket.receive(buffer, sizeof buffer, size, from, port);
       ++turn) {
    ArtnetInput::Received received;
    {
      std::lock_guard<std::mutex> lock(artnet_->mutex);
      received = artnet_->input.receive(buffer, size, from, nowUs, changes_);
      if (received.changed != nullptr)
        artnet_->feed.changes(received.changed->number(), received.changed->levels(),
                              received.changed->coveredSlots(), commands_);
    }
    settle(*artnet_);
    if (!received.poll)
      continue;
    // Answered to the poller's address, from the address that faces it.
    ArtnetNode node;
    node.address = artnet_->settings.listen != 0 ? artnet_->settings.listen : localAddressFacing(from);
    node.shortName = "vantreld";
    node.longName = "vantreld: " + std::to_string(service_.file().units.size()) + " units from " +
                    service_.file().path;
    node.portAddresses = artnet_->input.portAddresses();
    for (const auto& reply : artPollReplies(node))
      artnet_->socket.send(reply.data(), reply.size(), from, kArtnetPort);
  }
}

template <typename Input>
void ConsoleFrontEnd::expire(Side<Input>& side, std::int64_t nowUs) {
  {
    std::lock_guard<std::mutex> lock(side.mutex);
    if (side.input.deadlineUs() > nowUs)
      return;
    side.input.expire(nowUs, changes_);
    // A lower priority, or the other Art-Net source, may drive now.
    for (const SourceChange& change : changes_)
      if (!change.lastOfUniverse)
        if (const auto* universe = side.input.find(change.universe))
          side.feed.changes(universe->number(), universe->levels(), universe->coveredSlots(), commands_);
  }
  settle(side);
}

template <typename Input>
void ConsoleFrontEnd::settle(Side<Input>& side) {
  if (!commands_.empty()) {
    service_.submit(channelLevels(commands_, side.settings.raw));
    commands_.clear();
  }
  for (const SourceChange& change : changes_) {
    if (verbose_)
      log(side.name, change);
    if (!change.lastOfUniverse)
      continue;
    const std::vector<int> units = side.feed.forget(change.universe);
    std::string done;
    switch (side.settings.onLoss) {
      case ConsoleInputSettings::OnLoss::Hold:
        done = "hold: the units keep their levels";
        break;
      case ConsoleInputSettings::OnLoss::Off: {
        std::vector<std::pair<int, int>> off;
        for (const int unit : units)
          off.emplace_back(unit, 0);
        service_.submit(channelLevels(off, false));
        done = "off: its units set to 0";
        break;
      }
      case ConsoleInputSettings::OnLoss::Scene:
        UnitCommand scene;
        scene.scene = side.settings.scene;
        scene.from = kFrom;
        service_.submit(std::move(scene));
        done = "scene \"" + service_.file().scenes[static_cast<std::size_t>(side.settings.scene)].name +
               "\" recalled";
        break;
    }
    if (verbose_) {
      std::printf("vantreld: %s: %s %d has no source left: on_loss %s\n", side.name, side.universeWord,
                  change.universe, done.c_str());
      std::fflush(stdout);
    }
  }
  changes_.clear();
}

void ConsoleFrontEnd::log(const char* input, const SourceChange& change) const {
  const char* what = change.kind == SourceChange::Kind::Found ? "found"
                     : change.kind == SourceChange::Kind::Lost ? "lost"
                                                               : "lost (stream terminated)";
  const ConsoleSource& source = change.source;
  if (source.cid.empty())
    std::printf("vantreld: artnet: source %s: %s on port-address %d\n", what,
                formatIPv4(source.address).c_str(), change.universe);
  else
    std::printf("vantreld: %s: source %s: %s cid %s \"%s\" priority %d on universe %d\n", input, what,
                formatIPv4(source.address).c_str(), source.cid.c_str(), oneLine(source.name).c_str(),
                source.priority, change.universe);
  std::fflush(stdout);
}

FrontEndReader consoleFrontEnd(bool verbose) {
  return [verbose](const UnitsFile& file, FileProblems& problems) -> FrontEndMaker {
    ConsoleSettings settings;
    if (!readConsoleSettings(file, settings, problems))
      return {};
    return [settings, verbose](UnitsService& service) {
      return std::make_unique<ConsoleFrontEnd>(service, settings, verbose);
    };
  };
}
