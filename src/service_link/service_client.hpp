#ifndef VANTREL_SERVICE_LINK_SERVICE_CLIENT_HPP
#define VANTREL_SERVICE_LINK_SERVICE_CLIENT_HPP

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "engine/fade_engine.hpp"
#include "service_link/local_protocol.hpp"
#include "units/remembered_levels.hpp"

/// How vantrel and vantrel-fade hand their commands to a running vantreld,
/// so that one owner drives the units. The service's answers come to the
/// same EngineListener as the engine's when the tool runs direct, so that
/// the tool says the same either way. On Windows no service runs: reach()
/// says Direct.
class ServiceClient {
 public:
  /// `program` names the tool in the service's words ("vantrel").
  explicit ServiceClient(const char* program);
  ~ServiceClient();
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  enum class Reach {
    Direct,   ///< no service answers: go to the units directly
    Service,  ///< connected and greeted: send the command through it
    Refused,  ///< a service runs that cannot be used: `problem` says why
  };
  /// Looks for the service in socketPlaces(), at once: a missing socket, or
  /// one that nobody listens on, is Direct without a wait.
  Reach reach(std::string& problem);
  /// The socket it reached.
  const std::string& path() const { return path_; }

  /// The levels the service knows of `keys`, in order (level -1: none),
  /// and beside each, whether it drives a unit whose level it does not
  /// know and what it remembers of it.
  bool levels(const std::vector<UnitKey>& keys, std::vector<RememberedLevel>& levels,
              std::vector<LocalNotKnown>& notKnown, std::string& problem);
  /// After levels(): the levels file the service said it keeps, or empty.
  const std::string& serviceLevelsFile() const { return levelsFile_; }
  /// Hands over `fade`; on success `known` holds each unit's level as the
  /// service knew it before (-1: not known).
  bool submit(const LocalFade& fade, std::vector<int>& known, std::string& problem);
  /// Asks the service to save scene `name` of `units` (by key, each at no level yet), to remove
  /// the saved scene `name`, or for its saved scenes, and reads the one answer: Saved, Removed,
  /// Scenes or Refused.
  bool saveScene(const std::string& name, const std::vector<SavedUnit>& units, LocalReply& reply,
                 std::string& problem);
  bool removeScene(const std::string& name, LocalReply& reply, std::string& problem);
  bool savedScenes(LocalReply& reply, std::string& problem);
  /// Tells `listener` of each command and each unit's end, in `fade`'s unit
  /// indices, until every one of `units` has ended. Once `stop` turns true
  /// the service stops them (within 100 ms) and their ends still come.
  /// False, with `problem`, when the service went away first.
  bool follow(int units, EngineListener& listener, const std::atomic<bool>& stop,
              std::string& problem);

 private:
  bool askScenes(const std::string& request, LocalReply& reply, std::string& problem);
  struct Link;
  std::string program_;
  std::string path_;
  std::string levelsFile_;
  std::unique_ptr<Link> link_;
};

/// The usage error of --no-wait when no service runs.
extern const char kNoWaitWithoutService[];

#endif
