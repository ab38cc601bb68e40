#pragma once

#include <sys/socket.h>

#include <string>
#include <vector>

#include "base/deadline.hpp"

namespace bm {

// One address to connect to, as the socket calls take it.
struct SocketAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;

  int family() const { return storage.ss_family; }
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
  // The address and port alone, an IPv4-mapped IPv6 address as its IPv4 one: two spellings of
  // one peer ("[::ffff:127.0.0.1]", "2130706433", "127.0.0.1") give the same identity.
  std::string identity() const;
};

// The addresses of a server name or address literal for TCP on port, in the order to try them.
// Literals in any form the C library reads ("127.0.0.1", "2130706433", "::1", "fe80::1%eth0")
// are taken as they are; names are looked up in /etc/hosts and DNS as /etc/resolv.conf and the
// hosts line of /etc/nsswitch.conf say, and the lookup ends at the deadline whatever the name
// servers do. Fails with Delivery, as a refused connection does.
std::vector<SocketAddress> resolveAddresses(const std::string& host, int port,
                                            const Deadline& deadline);

}  // namespace bm
