#include "consoles/console_socket.hpp"

#include "common/ipv4_address.hpp"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

sockaddr_in socketAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_addr.s_addr = htonl(address);
  where.sin_port = htons(port);
  return where;
}

// The index of the interface that holds `address`, or 0 when none does.
int interfaceOf(std::uint32_t address) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0)
    return 0;
  int index = 0;
  for (const ifaddrs* entry = list; entry != nullptr && index == 0; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET)
      continue;
    if (ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr) == address)
      index = static_cast<int>(if_nametoindex(entry->ifa_name));
  }
  freeifaddrs(list);
  return index;
}

// One IPv4 address of each interface that is up and takes multicast, as
// getifaddrs gives the interfaces' flags with their addresses.
std::vector<std::uint32_t> multicastInterfaces() {
  std::vector<std::uint32_t> addresses;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0)
    return addresses;
  std::vector<std::string> seen;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
        (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_MULTICAST) == 0)
      continue;
    if (std::find(seen.begin(), seen.end(), entry->ifa_name) != seen.end())
      continue;
    seen.emplace_back(entry->ifa_name);
    addresses.push_back(ntohl(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr));
  }
  freeifaddrs(list);
  return addresses;
}

}  // namespace

ConsoleSocket::~ConsoleSocket() {
  if (fd_ >= 0)
    close(fd_);
}

bool ConsoleSocket::open(std::uint16_t port, std::uint32_t listen, std::string& problem) {
  listen_ = listen;
  if (listen != 0) {
    listenIndex_ = interfaceOf(listen);
    if (listenIndex_ == 0) {
      problem = formatIPv4(listen) + " is not an address of this machine";
      return false;
    }
  }
  fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const int on = 1, off = 0;
  const sockaddr_in any = socketAddress(INADDR_ANY, port);
  // Other receivers of the same port on this machine (a console's own
  // monitor, a second service) share it rather than lock each other out;
  // only the groups joined here are delivered here. That last is a
  // refinement, as the universes are checked anyway: an emulator that does
  // not pass the option on (qemu-user) still receives.
  if (fd_ < 0 || setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
      (setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0 && errno != ENOPROTOOPT) ||
      bind(fd_, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) {
    problem = "cannot receive on UDP port " + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ConsoleSocket::join(std::uint32_t group, std::string& problem) {
  std::vector<std::uint32_t> interfaces{listen_};
  if (listen_ == 0)
    interfaces = multicastInterfaces();
  // 0 leaves the choice to the routes, whose refusal then names the cause.
  if (interfaces.empty())
    interfaces.push_back(0);
  bool joined = false;
  int cause = 0;
  for (const std::uint32_t address : interfaces) {
    // By an address of the interface, which names it as well as an index
    // would; the plainer ip_mreq is also the form that emulators such as
    // qemu-user pass on intact. An interface already joined under another
    // of its names (an alias) counts as joined.
    ip_mreq request{};
    request.imr_multiaddr.s_addr = htonl(group);
    request.imr_interface.s_addr = htonl(address);
    if (setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 || errno == EADDRINUSE)
      joined = true;
    else
      cause = errno;
  }
  if (!joined)
    problem = std::strerror(cause);
  return joined;
}

bool ConsoleSocket::receive(std::uint8_t* buffer, std::size_t capacity, std::size_t& size,
                            std::uint32_t& from, std::uint16_t& fromPort) {
  for (;;) {
    sockaddr_in sender{};
    iovec part{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(fd_, &message, 0);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return false;
    if (listenIndex_ != 0) {
      int arrivedOn = 0;
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
          arrivedOn = reinterpret_cast<const in_pktinfo*>(CMSG_DATA(c))->ipi_ifindex;
      if (arrivedOn != listenIndex_)
        continue;
    }
    // A datagram longer than the buffer is cut short: its size then shows
    // it for the malformed packet it is.
    size = (message.msg_flags & MSG_TRUNC) != 0 ? capacity : static_cast<std::size_t>(got);
    from = ntohl(sender.sin_addr.s_addr);
    fromPort = ntohs(sender.sin_port);
    return true;
  }
}

void ConsoleSocket::send(const std::uint8_t* bytes, std::size_t size, std::uint32_t to,
                         std::uint16_t port) {
  const sockaddr_in where = socketAddress(to, port);
  (void)sendto(fd_, bytes, size, 0, reinterpret_cast<const sockaddr*>(&where), sizeof where);
}

std::uint32_t localAddressFacing(std::uint32_t peer) {
  // connect() on a UDP socket only picks the route and the source address.
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return 0;
  const sockaddr_in where = socketAddress(peer, 9);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  std::uint32_t address = 0;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
    address = ntohl(local.sin_addr.s_addr);
  close(fd);
  return address;
}
