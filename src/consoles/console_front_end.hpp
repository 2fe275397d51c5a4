#ifndef VANTREL_CONSOLES_CONSOLE_FRONT_END_HPP
#define VANTREL_CONSOLES_CONSOLE_FRONT_END_HPP

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "consoles/artnet_input.hpp"
#include "consoles/console_settings.hpp"
#include "consoles/console_socket.hpp"
#include "consoles/sacn_input.hpp"
#include "consoles/unit_feed.hpp"
#include "link/socket_wait.hpp"
#include "service/front_end.hpp"
#include "service/input_view.hpp"
#include "service/units_service.hpp"

/// The lighting consoles' front end: an sACN input, an Art-Net input or
/// both, on a thread of their own that waits on their sockets and on the
/// next source's loss deadline. A channel value that changes is a command
/// to its units at once; a universe whose last source is lost gets its
/// input's on_loss.
class ConsoleFrontEnd final : public FrontEnd {
 public:
  ConsoleFrontEnd(UnitsService& service, const ConsoleSettings& settings, bool verbose);
  ~ConsoleFrontEnd() override;  ///< as stop()
  ConsoleFrontEnd(const ConsoleFrontEnd&) = delete;
  ConsoleFrontEnd& operator=(const ConsoleFrontEnd&) = delete;

  /// Opens the sockets and joins the universes' groups. False with
  /// `problem`.
  bool open(std::string& problem) override;
  /// The sACN input's and the Art-Net input's, as the file has them.
  std::vector<const InputView*> inputViews() const override;
  /// Starts receiving, once the service takes commands.
  bool start(std::string& problem) override;
  /// Stops receiving and joins the thread; nothing is submitted after.
  void stop() override;
  /// The units' levels are no business of the consoles'.
  void unitChanged(int, const UnitState&, bool) override {}
  void groupChanged(int, int, bool) override {}

 private:
  /// One protocol's input: its socket, its sources and the units it drives.
  template <typename Input>
  struct Side final : InputView {
    Side(const char* name, const char* universeWord, const ConsoleInputSettings& settings, Input input,
         const std::vector<std::optional<ConsoleChannel>>& channels)
        : name(name), universeWord(universeWord), settings(settings), input(std::move(input)),
          feed(channels) {}
    InputState inputState() const override;

    const char* name;          ///< "sacn" or "artnet", as the log and the state say it
    const char* universeWord;  ///< "universe" or "port-address"
    ConsoleInputSettings settings;
    ConsoleSocket socket;
    mutable std::mutex mutex;  ///< guards input, for inputState()
    Input input;
    UnitFeed feed;
  };

  void run();
  void receiveSacn(std::int64_t nowUs);
  void receiveArtnet(std::int64_t nowUs);
  template <typename Input>
  void expire(Side<Input>& side, std::int64_t nowUs);
  /// Submits the commands gathered, then tells of the changes gathered and
  /// applies on_loss where a universe lost its last source.
  template <typename Input>
  void settle(Side<Input>& side);
  void log(const char* input, const SourceChange& change) const;

  UnitsService& service_;
  bool verbose_;
  std::unique_ptr<Side<SacnInput>> sacn_;
  std::unique_ptr<Side<ArtnetInput>> artnet_;
  std::vector<std::pair<int, int>> commands_;  // the thread's own, kept for its capacity
  std::vector<SourceChange> changes_;
  WakeUp wake_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

/// The consoles' front end, on when the units file has an [sacn] or an
/// [artnet] table.
FrontEndReader consoleFrontEnd(bool verbose);

#endif
