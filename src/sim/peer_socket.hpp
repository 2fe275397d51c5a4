#ifndef VANTREL_SIM_PEER_SOCKET_HPP
#define VANTREL_SIM_PEER_SOCKET_HPP

#include <cstddef>
#include <cstdint>
#include <string>

/// The platform's socket calls as the simulated unit needs them, one file per
/// platform; what the unit does with them is the same everywhere and lives
/// in unit_peer.cpp. Addresses and ports are in host byte order.
namespace peer_socket {

/// Wide enough for a socket handle of either platform.
using Handle = std::uintptr_t;

/// No socket: what a failed call of either platform hands back, as a Handle.
constexpr Handle kNoSocket = ~Handle{0};

/// Starts the network stack. On failure returns false and sets `error` to
/// the reason.
bool startup(std::string& error);

/// Undoes a successful `startup`.
void cleanup();

/// The reason the last failed call of these failed, as text.
std::string lastError();

/// Creates an IPv4 TCP stream socket, or returns kNoSocket.
Handle createSocket();

/// Binds `listener` to address:port, refusing a port that another socket
/// listens on, starts listening and reports the port bound (port 0 takes a
/// free one).
bool bindAndListen(Handle listener, std::uint32_t address, std::uint16_t port,
                   std::uint16_t& boundPort);

enum class Readiness {
  Ready,        ///< something to read or accept, or the wait failed: the next call tells
  TimedOut,     ///< `ms` passed
  Interrupted,  ///< a signal, or the stop handle, cut the wait short
};

/// Waits up to `ms` (-1: no limit) for `handle` to have something to read
/// or, for a listener, a connection to accept, and for `stop` (a
/// stopHandle(), or kNoSocket for none) to be signalled.
Readiness waitReadable(Handle handle, int ms, Handle stop = kNoSocket);

/// Accepts a connection and reports the client's address and port; kNoSocket
/// when the accept failed.
Handle acceptClient(Handle listener, std::uint32_t& address, std::uint16_t& port);

/// One receive of at most `length` bytes. Returns the count received; 0 when
/// the client closed or the connection failed (a reset is the usual end of a
/// client that leaves a reply unread); -1 when a signal cut it short.
long receiveSome(Handle connection, std::uint8_t* buffer, std::size_t length);

/// One send. Returns the count sent, or -1; a connection the client has
/// gone from gives -1 rather than ending the process.
long sendSome(Handle connection, const std::uint8_t* bytes, std::size_t length);

/// Makes the next close of `connection` reset it (RST) instead of ending it
/// in order.
void resetOnClose(Handle connection);

void closeSocket(Handle handle);

}  // namespace peer_socket

#endif
