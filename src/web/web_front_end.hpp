#ifndef VANTREL_WEB_WEB_FRONT_END_HPP
#define VANTREL_WEB_WEB_FRONT_END_HPP

#include <cstddef>
#include <string>

#include "service/front_end.hpp"
#include "web/event_streams.hpp"
#include "web/request_deadlines.hpp"
#include "web/request_rules.hpp"
#include "web/web_settings.hpp"

struct MHD_Connection;
struct MHD_Daemon;

/// The control page and its API (vantreld(8), CONTROL PAGE), served by
/// libmicrohttpd on a thread of its own, which hands commands to the
/// service and hears its changes as a listener.
class WebFrontEnd final : public FrontEnd {
 public:
  WebFrontEnd(UnitsService& service, const WebSettings& settings);
  ~WebFrontEnd() override;  ///< as stop()
  WebFrontEnd(const WebFrontEnd&) = delete;
  WebFrontEnd& operator=(const WebFrontEnd&) = delete;

  /// Reads the password and TLS files and takes the listening address, so
  /// that a port already taken ends vantreld before any unit hears from
  /// it. False with `problem`, one line; a password file that everyone may
  /// read is a warning on standard error.
  bool open(std::string& problem) override;
  /// Starts serving, once the service takes commands.
  bool start(std::string& problem) override;
  /// Ends the event streams and stops serving; before the service stops.
  void stop() override;

  void unitChanged(int unit, const UnitState& state, bool commandEnded) override;
  void groupChanged(int group, int level, bool commandEnded) override;
  void levelsFileChanged(const LevelsFileState& state) override;
  void savedScenesChanged(const std::vector<std::string>& saved) override;
  void scheduleChanged(int schedule, const ServiceSnapshot::Schedule& state) override;
  /// The consoles' inputs, which the state shows.
  void showInputs(const std::vector<const InputView*>& inputs) override { inputs_ = inputs; }

 private:
  struct Request;
  struct Callbacks;  ///< libmicrohttpd's, in its own types
  friend struct Callbacks;
  void judge(MHD_Connection* connection, const std::string& url, const std::string& method,
             Request& request);
  void route(const std::string& url, const std::string& method, Request& request);
  bool answer(MHD_Connection* connection, Request& request);
  int answerApi(Request& request, std::string& body);
  int answerSavedScenes(Request& request, std::string& body);
  /// stateJson() of the service and the inputs, now.
  std::string state() const;

  UnitsService& service_;
  const WebSettings settings_;
  std::vector<const InputView*> inputs_;  ///< set before start()
  std::string password_;
  std::string certificate_;
  std::string key_;
  int listener_ = -1;
  MHD_Daemon* daemon_ = nullptr;
  EventStreams streams_;
  RequestDeadlines deadlines_;
  PasswordGuard guard_;  ///< the server thread's own
  std::string index_;    ///< the page, with the configured title, made once
};

/// The control page's front end, on when the units file has a [web] table.
FrontEndReader webFrontEnd();

#endif
