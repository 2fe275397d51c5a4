#include "web/web_front_end.hpp"

#include <chrono>
#include <cstdio>
#include <cstring>

#include <microhttpd.h>

#include "common/files.hpp"
#include "light_json/submit_command.hpp"
#include "service/secret_file.hpp"
#include "web/api_json.hpp"
#include "web/page_files.hpp"
#include "web/server_calls.hpp"

namespace {

constexpr unsigned kMaxConnections = 64;
// One address holds a quarter of the places at most, event streams
// included, so that a client that keeps its places, or an address that
// opens many streams, leaves room for everyone else.
constexpr unsigned kMaxPerAddress = 16;
constexpr unsigned kTimeoutSeconds = 30;
constexpr std::size_t kMaxBody = 4096;
constexpr std::size_t kMaxUrl = 2048;
// The title in index.html, until a [web] title replaces it.
const char kDefaultTitle[] = "Vantrel lights";

// This origin alone, no inline script or style, in no frame.
const char kSecurityPolicy[] =
    "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; "
    "connect-src 'self'; object-src 'none'; base-uri 'none'; form-action 'none'; "
    "frame-ancestors 'none'";

enum class Target { None, Page, State, Events, Unit, Group, Scene, SavedScene, SavedScenes, Schedule };

std::int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

const char* header(MHD_Connection* connection, const char* name) {
  return MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
}

std::string clientAddress(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info =
      MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  return clientAddressText(info == nullptr ? nullptr : info->client_addr);
}

void secure(MHD_Response* response, bool api) {
  MHD_add_response_header(response, "Content-Security-Policy", kSecurityPolicy);
  MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
  MHD_add_response_header(response, "Cache-Control", api ? "no-store" : "no-cache");
}

std::string htmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
      case '&': escaped += "&amp;"; break;
      case '<': escaped += "&lt;"; break;
      case '>': escaped += "&gt;"; break;
      case '"': escaped += "&quot;"; break;
      case '\'': escaped += "&#39;"; break;
      default: escaped += c;
    }
  }
  return escaped;
}

// The page with the configured title in its <title> and heading, so that a
// browser's tab and history say it before the script has run.
std::string titledPage(const PageFile& page, const std::string& title) {
  std::string text(reinterpret_cast<const char*>(page.data), page.size);
  if (title.empty())
    return text;
  const std::string escaped = htmlEscaped(title);
  for (const char* around : {"<title>%</title>", "<h1 id=\"title\">%</h1>"}) {
    const std::string pattern(around);
    const std::size_t hole = pattern.find('%');
    const std::string old = pattern.substr(0, hole) + kDefaultTitle + pattern.substr(hole + 1);
    const std::size_t at = text.find(old);
    if (at != std::string::npos)
      text.replace(at + hole, old.size() - pattern.size() + 1, escaped);
  }
  return text;
}

}  // namespace

struct WebFrontEnd::Request {
  std::size_t uriLength = 0;
  bool begun = false;
  Target target = Target::None;
  int index = -1;       ///< of the unit, group, scene or schedule
  std::string saved;    ///< the saved scene's name
  int status = 0;       ///< a refusal, when not 0
  std::string problem;  ///< its words
  const char* allow = nullptr;  ///< for a 405
  const PageFile* page = nullptr;
  std::string body;
};

struct WebFrontEnd::Callbacks {
  static void* begin(void*, const char* uri, MHD_Connection*) {
    // The server's thread is libmicrohttpd's: this is its first call there.
    static thread_local bool yielding = false;
    if (!yielding) {
      yieldToTheUnits();
      yielding = true;
    }
    auto* request = new Request;
    request->uriLength = std::strlen(uri);
    return request;
  }

  static void end(void* cls, MHD_Connection* connection, void** request,
                  MHD_RequestTerminationCode) {
    delete static_cast<Request*>(*request);
    *request = nullptr;
    static_cast<WebFrontEnd*>(cls)->deadlines_.answered(connection);
  }

  static void connection(void* cls, MHD_Connection* connection, void**,
                         MHD_ConnectionNotificationCode code) {
    RequestDeadlines& deadlines = static_cast<WebFrontEnd*>(cls)->deadlines_;
    if (code == MHD_CONNECTION_NOTIFY_STARTED) {
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      if (info != nullptr)
        deadlines.opened(connection, info->connect_fd);
    } else {
      deadlines.closed(connection);
    }
  }

  // Called once the headers are in, once per piece of the body, and once at
  // the end; refusals are decided from the headers and answered at the end,
  // so that a client that sends its body is not cut off while it does.
  static MHD_Result handle(void* cls, MHD_Connection* connection, const char* url,
                           const char* method, const char*, const char* upload,
                           std::size_t* uploadSize, void** context) {
    auto& front = *static_cast<WebFrontEnd*>(cls);
    Request& request = *static_cast<Request*>(*context);
    if (!request.begun) {
      request.begun = true;
      front.judge(connection, url, method, request);
      // A body known to be too large is not read at all.
      if (request.status == MHD_HTTP_CONTENT_TOO_LARGE)
        return front.answer(connection, request) ? MHD_YES : MHD_NO;
      return MHD_YES;
    }
    if (*uploadSize != 0) {
      if (request.status == 0 && request.body.size() + *uploadSize > kMaxBody) {
        request.status = MHD_HTTP_CONTENT_TOO_LARGE;
        request.problem = "the body is over 4 KiB";
        request.body.clear();
      } else if (request.status == 0) {
        request.body.append(upload, *uploadSize);
      }
      *uploadSize = 0;
      return MHD_YES;
    }
    return front.answer(connection, request) ? MHD_YES : MHD_NO;
  }
};

WebFrontEnd::WebFrontEnd(UnitsService& service, const WebSettings& settings)
    : service_(service), settings_(settings), index_(titledPage(*findPageFile("/"), settings.title)) {}

WebFrontEnd::~WebFrontEnd() {
  stop();
}

bool WebFrontEnd::open(std::string& problem) {
  if (!settings_.passwordFile.empty()) {
    std::string warning;
    if (!readSecretFile(settings_.passwordFile, password_, problem, warning))
      return false;
    if (!warning.empty())
      std::fprintf(stderr, "vantreld: warning: %s\n", warning.c_str());
  }
  if (!settings_.tlsCertFile.empty()) {
    if (MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES) {
      problem = "cannot serve HTTPS: this libmicrohttpd was built without TLS";
      return false;
    }
    FileError error;
    if (readWholeFile(settings_.tlsCertFile, certificate_, error) != ReadOutcome::Read ||
        readWholeFile(settings_.tlsKeyFile, key_, error) != ReadOutcome::Read) {
      problem = describe(error);
      return false;
    }
  }
  listener_ = openListener(settings_.address, settings_.port, problem);
  return listener_ >= 0;
}

bool WebFrontEnd::start(std::string& problem) {
  const bool tls = !certificate_.empty();
  // poll(), not the edge-triggered epoll that libmicrohttpd would choose: with
  // epoll, a connection whose request and end came before it was accepted
  // is read once and its end never seen, so it keeps its place until its
  // time-out. poll() tells again that it is readable, and its end is read.
  unsigned flags = MHD_USE_POLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME;
  if (tls)
    flags |= MHD_USE_TLS;
  // TLS options come last: without TLS the list ends before them.
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Callbacks::handle, this,
      MHD_OPTION_LISTEN_SOCKET, listener_,
      MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, kMaxPerAddress,
      MHD_OPTION_CONNECTION_TIMEOUT, kTimeoutSeconds,
      MHD_OPTION_URI_LOG_CALLBACK, &Callbacks::begin, this,
      MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::end, this,
      MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connection, this,
      tls ? MHD_OPTION_HTTPS_MEM_CERT : MHD_OPTION_END, certificate_.c_str(),
      MHD_OPTION_HTTPS_MEM_KEY, key_.c_str(),
      MHD_OPTION_END);
  if (daemon_ == nullptr) {
    problem = "cannot serve the control page on " + listenText(settings_.address, settings_.port) +
              (tls ? ": " + settings_.tlsCertFile + " and " + settings_.tlsKeyFile +
                         " are not a certificate and its key"
                   : "");
    return false;
  }
  listener_ = -1;  // the server's now, closed when it stops
  streams_.start();
  deadlines_.start();
  return true;
}

void WebFrontEnd::stop() {
  streams_.close();
  deadlines_.stop();
  if (daemon_ != nullptr)
    MHD_stop_daemon(daemon_);
  daemon_ = nullptr;
  closeListener(listener_);
  listener_ = -1;
}

void WebFrontEnd::unitChanged(int unit, const UnitState& state, bool) {
  streams_.post([this, unit, state] {
    const Unit& named = service_.file().units[static_cast<std::size_t>(unit)];
    return "event: unit\ndata: " + unitJson(named, state) + "\n\n";
  });
}

void WebFrontEnd::groupChanged(int group, int level, bool) {
  streams_.post([this, group, level] {
    return "event: group\ndata: " + groupJson(service_.file(), group, level) + "\n\n";
  });
}

void WebFrontEnd::scheduleChanged(int, const ServiceSnapshot::Schedule& state) {
  streams_.post([state] { return "event: schedule\ndata: " + scheduleJson(state) + "\n\n"; });
}

void WebFrontEnd::levelsFileChanged(const LevelsFileState& state) {
  streams_.post([state] { return "event: levels_file\ndata: " + levelsFileJson(state) + "\n\n"; });
}

// Every safety rule that the headers decide, in the order that tells a
// client the least: a refused address learns nothing else, a client without
// the password nothing of the names.
void WebFrontEnd::judge(MHD_Connection* connection, const std::string& url,
                        const std::string& method, Request& request) {
  auto refuse = [&](int status, const char* problem) {
    request.status = status;
    request.problem = problem;
  };
  const std::string address = clientAddress(connection);
  if (!password_.empty()) {
    if (guard_.refused(address, nowMs()))
      return refuse(MHD_HTTP_TOO_MANY_REQUESTS, "too many wrong passwords: try again later");
    char* given = nullptr;
    char* user = MHD_basic_auth_get_username_password(connection, &given);
    const bool asked = user != nullptr;
    const bool right = asked && given != nullptr && sameSecret(given, password_);
    MHD_free(user);
    MHD_free(given);
    if (!asked)
      return refuse(MHD_HTTP_UNAUTHORIZED, "this page needs the password");
    if (!right) {
      std::fprintf(stderr, "vantreld: control page: wrong password from %s\n", address.c_str());
      // The tenth is answered as the others; the requests after it are refused.
      if (guard_.failed(address, nowMs()))
        std::fprintf(stderr, "vantreld: control page: %s refused for a minute after %d wrong passwords\n",
                     address.c_str(), PasswordGuard::kLimit);
      return refuse(MHD_HTTP_UNAUTHORIZED, "wrong password");
    }
  } else {
    const char* host = header(connection, MHD_HTTP_HEADER_HOST);
    if (host == nullptr || !isLoopbackHost(host, settings_.port))
      return refuse(MHD_HTTP_MISDIRECTED_REQUEST,
                    "without a password this page answers only to localhost, 127.0.0.1 or [::1]");
  }
  if (request.uriLength > kMaxUrl)
    return refuse(MHD_HTTP_URI_TOO_LONG, "the URL is over 2 KiB");
  route(url, method, request);
  if (request.status != 0)
    return;
  const bool command = request.target == Target::Unit || request.target == Target::Group ||
                       request.target == Target::Scene || request.target == Target::SavedScene ||
                       request.target == Target::SavedScenes || request.target == Target::Schedule;
  if (!command)
    return;
  const char* origin = header(connection, MHD_HTTP_HEADER_ORIGIN);
  const char* host = header(connection, MHD_HTTP_HEADER_HOST);
  if (origin != nullptr && (host == nullptr || !originMatchesHost(origin, host, !certificate_.empty())))
    return refuse(MHD_HTTP_FORBIDDEN, "a command must come from this page's own origin");
  const char* type = header(connection, MHD_HTTP_HEADER_CONTENT_TYPE);
  if (type == nullptr || !isJsonContentType(type))
    return refuse(MHD_HTTP_UNSUPPORTED_MEDIA_TYPE, "a command must be sent as application/json");
  const char* length = header(connection, MHD_HTTP_HEADER_CONTENT_LENGTH);
  if (length != nullptr && std::strtoull(length, nullptr, 10) > kMaxBody)
    return refuse(MHD_HTTP_CONTENT_TOO_LARGE, "the body is over 4 KiB");
}

void WebFrontEnd::route(const std::string& url, const std::string& method, Request& request) {
  static const std::string kApi = "/api/";
  const bool get = method == MHD_HTTP_METHOD_GET || method == MHD_HTTP_METHOD_HEAD;
  const UnitsFile& file = service_.file();
  auto named = [&](const char* prefix, Target target, int index, const char* kind) {
    request.target = target;
    request.index = index;
    if (index < 0) {
      request.status = MHD_HTTP_NOT_FOUND;
      request.problem = std::string("no ") + kind + " named " + url.substr(std::strlen(prefix));
    } else if (method != MHD_HTTP_METHOD_POST) {
      request.status = MHD_HTTP_METHOD_NOT_ALLOWED;
      request.allow = "POST";
    }
  };
  auto prefixed = [&](const char* prefix) {
    return url.compare(0, std::strlen(prefix), prefix) == 0 && url.size() > std::strlen(prefix);
  };
  auto rest = [&](const char* prefix) { return std::string_view(url).substr(std::strlen(prefix)); };
  if (url.compare(0, kApi.size(), kApi) != 0)
    request.page = findPageFile(url);
  if (url == "/api/state" || url == "/api/events" || request.page != nullptr) {
    request.target = url == "/api/state" ? Target::State
                     : url == "/api/events" ? Target::Events
                                            : Target::Page;
    if (!get) {
      request.status = MHD_HTTP_METHOD_NOT_ALLOWED;
      request.allow = "GET, HEAD";
    }
  } else if (prefixed("/api/units/")) {
    named("/api/units/", Target::Unit, file.findUnit(rest("/api/units/")), "unit");
  } else if (prefixed("/api/groups/")) {
    named("/api/groups/", Target::Group, file.findGroup(rest("/api/groups/")), "group");
  } else if (prefixed("/api/scenes/")) {
    const std::string name(rest("/api/scenes/"));
    SavedScene saved;
    if (file.findScene(name) < 0 && service_.findSavedScene(name, saved)) {
      named("/api/scenes/", Target::SavedScene, 0, "scene");
      request.saved = name;
    } else {
      named("/api/scenes/", Target::Scene, file.findScene(name), "scene");
    }
  } else if (url == "/api/scenes") {
    request.target = Target::SavedScenes;
    if (method != MHD_HTTP_METHOD_POST) {
      request.status = MHD_HTTP_METHOD_NOT_ALLOWED;
      request.allow = "POST";
    }
  } else if (prefixed("/api/schedules/")) {
    named("/api/schedules/", Target::Schedule, file.findSchedule(rest("/api/schedules/")), "schedule");
  } else {
    request.status = MHD_HTTP_NOT_FOUND;
    request.problem = "nothing here";
  }
  if (request.status == MHD_HTTP_METHOD_NOT_ALLOWED)
    request.problem = "method not allowed: use " + std::string(request.allow);
}

bool WebFrontEnd::answer(MHD_Connection* connection, Request& request) {
  int status = request.status;
  MHD_Response* response = nullptr;
  if (status == 0 && request.target == Target::Page) {
    status = MHD_HTTP_OK;
    const bool index = std::strcmp(request.page->path, "/") == 0;
    response = index ? MHD_create_response_from_buffer(index_.size(), index_.data(),
                                                       MHD_RESPMEM_PERSISTENT)
                     : MHD_create_response_from_buffer(request.page->size,
                                                       const_cast<unsigned char*>(request.page->data),
                                                       MHD_RESPMEM_PERSISTENT);
    if (response == nullptr)
      return false;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, request.page->type);
    secure(response, false);
  } else if (status == 0 && request.target == Target::Events) {
    response = streams_.open(connection, [this] {
      return "event: state\ndata: " + state() + "\n\n";
    });
    if (response == nullptr) {
      status = MHD_HTTP_SERVICE_UNAVAILABLE;
      request.problem = "too many event streams: at most 32";
    } else {
      status = MHD_HTTP_OK;
      MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
      secure(response, true);
      // A stream waits for events as long as there are none.
      MHD_set_connection_option(connection, MHD_CONNECTION_OPTION_TIMEOUT, 0u);
      deadlines_.streaming(connection);
    }
  }
  if (response == nullptr) {
    std::string body;
    if (status == 0)
      status = answerApi(request, body);
    else
      body = errorJson(request.problem);
    response = MHD_create_response_from_buffer(body.size(), body.data(), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
      return false;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "application/json");
    // A client told that the page is full gives its place back at once,
    // rather than keeping the connection alive for another try.
    if (status == MHD_HTTP_SERVICE_UNAVAILABLE)
      MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (request.allow != nullptr)
      MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, request.allow);
    secure(response, true);
  }
  const MHD_Result queued =
      status == MHD_HTTP_UNAUTHORIZED
          ? MHD_queue_basic_auth_fail_response(connection, "vantreld", response)
          : MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued == MHD_YES;
}

// Answers a state request, or submits a command whose headers passed, with
// its body: the status, and the JSON to answer.
std::string WebFrontEnd::state() const {
  std::vector<InputState> inputs;
  for (const InputView* input : inputs_)
    inputs.push_back(input->inputState());
  return stateJson(service_.snapshot(), inputs, settings_.title);
}

int WebFrontEnd::answerApi(Request& request, std::string& body) {
  std::string problem;
  if (request.target == Target::State) {
    body = state();
    return MHD_HTTP_OK;
  }
  if (request.target == Target::SavedScenes)
    return answerSavedScenes(request, body);
  if (request.target == Target::SavedScene) {
    if (!submitJsonSavedScene(service_, "the control page", request.saved, request.body, 0, problem)) {
      body = errorJson(problem);
      return MHD_HTTP_BAD_REQUEST;
    }
    body = "{\"accepted\": true}";
    return MHD_HTTP_ACCEPTED;
  }
  if (request.target == Target::Schedule) {
    bool on = true;
    if (!readScheduleSwitch(request.body, on, problem)) {
      body = errorJson(problem);
      return MHD_HTTP_BAD_REQUEST;
    }
    service_.switchSchedule(request.index, on);
    body = "{\"accepted\": true}";
    return MHD_HTTP_ACCEPTED;
  }
  const UnitsService::Target target = request.target == Target::Unit    ? UnitsService::Target::Unit
                                     : request.target == Target::Group ? UnitsService::Target::Group
                                                                       : UnitsService::Target::Scene;
  // Without a transition the page's commands are carried out at once.
  if (!submitJsonCommand(service_, "the control page", target, request.index, request.body, 0, problem)) {
    body = errorJson(problem);
    return MHD_HTTP_BAD_REQUEST;
  }
  body = "{\"accepted\": true}";
  return MHD_HTTP_ACCEPTED;
}

// POST /api/scenes: a save or a removal, as on MQTT; a refusal is a 400 or, for a name the units
// file writes, a 409; a save that cannot be written, a 500.
int WebFrontEnd::answerSavedScenes(Request& request, std::string& body) {
  SavedSceneAnswer answer;
  if (carryOutSavedSceneRequest(service_, request.body, answer)) {
    body = answer.request.remove ? removedJson(answer.request.name) : savedJson(answer.saving);
    return MHD_HTTP_OK;
  }
  body = errorJson(answer.problem);
  if (answer.saving.refusal == SceneSaving::Refusal::Written ||
      answer.removal == UnitsService::Removal::Written)
    return MHD_HTTP_CONFLICT;
  return answer.notWritten() ? MHD_HTTP_INTERNAL_SERVER_ERROR : MHD_HTTP_BAD_REQUEST;
}

void WebFrontEnd::savedScenesChanged(const std::vector<std::string>&) {
  // The page rebuilds its scene buttons from a whole state.
  streams_.post([this] { return "event: state\ndata: " + state() + "\n\n"; });
}

FrontEndReader webFrontEnd() {
  return [](const UnitsFile& file, FileProblems& problems) -> FrontEndMaker {
    const SettingEntry* table = file.frontEndTable("web");
    if (table == nullptr)
      return {};
    WebSettings settings;
    readWebSettings(*table, settings, problems);
    return [settings](UnitsService& service) { return std::make_unique<WebFrontEnd>(service, settings); };
  };
}
