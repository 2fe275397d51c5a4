#ifndef VANTREL_LINK_SOCKET_HANDLE_HPP
#define VANTREL_LINK_SOCKET_HANDLE_HPP

#include <cstdint>

/// Wide enough for a socket handle of either platform.
using SocketHandle = std::uintptr_t;

/// Why a call on a socket failed, in the terms a caller reports it in.
enum class LinkFailure { None, Refused, Unreachable, TimedOut, Stopped, Reset, Other };

#endif
