#ifndef VANTREL_SERVICE_LINK_SOCKET_PLACE_HPP
#define VANTREL_SERVICE_LINK_SOCKET_PLACE_HPP

#include <string>
#include <vector>

/// A place for vantreld's local socket.
struct SocketPlace {
  std::string path;
  /// The system's place, where the packaged service serves the group
  /// vantrel (mode 0660); elsewhere the socket is its user's alone (0600).
  bool system = false;
};

/// Where vantreld makes its local socket and where the tools look for it,
/// first place first: $VANTREL_SOCKET alone when it is set and not empty;
/// else $XDG_RUNTIME_DIR/vantreld.sock (when that is set and absolute), then
/// the system's place, /run/vantreld/vantreld.sock. The service takes the
/// first place it can make its socket in; a tool, the first that exists.
std::vector<SocketPlace> socketPlaces();

#endif
