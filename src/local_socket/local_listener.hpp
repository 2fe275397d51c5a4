#ifndef VANTREL_LOCAL_SOCKET_LOCAL_LISTENER_HPP
#define VANTREL_LOCAL_SOCKET_LOCAL_LISTENER_HPP

#include <cstddef>
#include <string>

#include "service_link/socket_place.hpp"

/// vantreld's end of the local socket: the platform's calls, POSIX only.

/// How listening at a place went.
enum class Listening {
  Yes,
  NoPlace,  ///< its folder is missing or not writable: try the next place
  Taken,    ///< a live service answers there; it is left alone
  Failed,
};

/// Listens at `place`, not blocking: a stale socket there (nobody answers)
/// is replaced, a live one never. The socket is made 0660 in the system's
/// place, 0600 elsewhere. On anything but Yes, `problem` says why in one
/// line that names the path.
Listening listenAt(const SocketPlace& place, int& socket, std::string& problem);

/// Closes the listening socket and removes its file, unless another
/// service has put its own there since.
void stopListening(int socket, const std::string& path);

/// A new client, not blocking, or -1 when none waits.
int acceptClient(int listener);

/// What there is to read, up to `size` bytes: the count; 0 when the client
/// has closed; -1 when nothing waits now; -2 when the connection failed.
long readClient(int socket, char* buffer, std::size_t size);
/// As many of `size` bytes as go now: the count, or -1 when the connection
/// failed.
long writeClient(int socket, const char* bytes, std::size_t size);
void closeClient(int socket);

#endif
