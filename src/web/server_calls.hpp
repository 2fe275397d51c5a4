#ifndef VANTREL_WEB_SERVER_CALLS_HPP
#define VANTREL_WEB_SERVER_CALLS_HPP

#include <cstdint>
#include <string>

struct sockaddr;

/// The platform calls of the control page's server: its listening socket,
/// a client's address, and the threads' priority.

/// "ADDRESS:PORT", with an IPv6 address in brackets, as the [web] table's
/// listen says it.
std::string listenText(const std::string& address, std::uint16_t port);

/// A socket listening on `address` (dotted IPv4, or IPv6 without brackets)
/// and `port`, or -1 with `problem`: one line naming the address and the
/// platform's reason.
int openListener(const std::string& address, std::uint16_t port, std::string& problem);

void closeListener(int socket);

/// A client's address as text, without its port; "" when not known.
std::string clientAddressText(const sockaddr* address);

/// Ends both ways of a connection that another thread serves: that thread
/// reads its end as the client's and closes it.
void dropConnection(int socket);

/// Makes the calling thread yield the processor to the service's thread,
/// whose fades keep time, when both want it: the server's threads work for
/// clients, who can wait a little.
void yieldToTheUnits();

#endif
