#ifndef VANTREL_LOCAL_SOCKET_LOCAL_FRONT_END_HPP
#define VANTREL_LOCAL_SOCKET_LOCAL_FRONT_END_HPP

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "link/socket_wait.hpp"
#include "service/front_end.hpp"
#include "service/units_service.hpp"

/// The local socket through which vantrel and vantrel-fade hand their
/// commands to the service (vantreld(8), LOCAL SOCKET), served on a thread
/// of its own: at most kMostClients at once, each line read up to
/// kLocalLineBytes, and a client that stops reading delays no unit and no
/// other client. Always on: vantreld opens it before any other front end.
class LocalFrontEnd final : public FrontEnd {
 public:
  static constexpr std::size_t kMostClients = 64;

  explicit LocalFrontEnd(UnitsService& service);
  ~LocalFrontEnd() override;  ///< as stop()
  LocalFrontEnd(const LocalFrontEnd&) = delete;
  LocalFrontEnd& operator=(const LocalFrontEnd&) = delete;

  /// Makes the socket at the first of socketPlaces() that takes it. False
  /// with `problem`, one line: absent() when no place would take it (the
  /// other front ends serve without it), else another service holds it, or
  /// worse.
  bool open(std::string& problem) override;
  bool absent() const override { return absent_; }
  /// Where it listens, once open.
  const std::string& path() const { return path_; }
  /// Starts serving, once the service takes commands.
  bool start(std::string& problem) override;
  /// Stops the fades of the clients that wait for theirs, closes every
  /// connection and removes the socket; before the service stops.
  void stop() override;
  /// "the tools reach it at PATH".
  std::string servingNote() const override;
  // Each client's command tells its own follower; the rest it need not hear.
  void unitChanged(int, const UnitState&, bool) override {}
  void groupChanged(int, int, bool) override {}

 private:
  struct Client;
  void serve();
  void accept();
  /// False when the client is done with.
  bool readFrom(Client& client);
  void take(Client& client, const std::string& line);
  bool writeTo(Client& client);
  void drop(Client& client);

  UnitsService& service_;
  std::string path_;
  bool absent_ = false;
  int listener_ = -1;
  std::shared_ptr<WakeUp> wake_;
  std::atomic<bool> stopping_{false};
  std::vector<std::unique_ptr<Client>> clients_;  ///< the thread's own
  std::thread thread_;
};

/// The local socket's maker, whatever the units file says: it owns no
/// table.
FrontEndReader localFrontEnd();

#endif
