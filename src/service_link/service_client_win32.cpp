#include "service_link/service_client.hpp"

// Windows runs no vantreld: its tools always drive the units themselves.

const char kNoWaitWithoutService[] = "--no-wait needs a running vantreld, and Windows has no units service";

struct ServiceClient::Link {};

ServiceClient::ServiceClient(const char* program) : program_(program) {}

ServiceClient::~ServiceClient() = default;

ServiceClient::Reach ServiceClient::reach(std::string&) { return Reach::Direct; }

bool ServiceClient::levels(const std::vector<UnitKey>&, std::vector<RememberedLevel>&,
                           std::vector<LocalNotKnown>&, std::string&) {
  return false;
}

bool ServiceClient::submit(const LocalFade&, std::vector<int>&, std::string&) { return false; }

bool ServiceClient::saveScene(const std::string&, const std::vector<SavedUnit>&, LocalReply&,
                              std::string&) {
  return false;
}

bool ServiceClient::removeScene(const std::string&, LocalReply&, std::string&) { return false; }

bool ServiceClient::savedScenes(LocalReply&, std::string&) { return false; }

bool ServiceClient::follow(int, EngineListener&, const std::atomic<bool>&, std::string&) {
  return false;
}
