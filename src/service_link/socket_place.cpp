#include "service_link/socket_place.hpp"

#include "common/files.hpp"

namespace {

const char kSystemPath[] = "/run/vantreld/vantreld.sock";

}  // namespace

std::vector<SocketPlace> socketPlaces() {
  const std::string chosen = environmentValue("VANTREL_SOCKET");
  if (!chosen.empty())
    return {{chosen, chosen == kSystemPath}};
  std::vector<SocketPlace> places;
  const std::string runtime = environmentValue("XDG_RUNTIME_DIR");
  if (!runtime.empty() && runtime[0] == '/')
    places.push_back({runtime + "/vantreld.sock", false});
  places.push_back({kSystemPath, true});
  return places;
}
