#include "platform/name_lookup.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace platform {

std::vector<HostAddress> resolveHost(const std::string& host) {
  std::vector<HostAddress> found;
  if (host.empty() || host.find('\0') != std::string::npos) return found;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0) return found;
  for (const addrinfo* item = list; item != nullptr; item = item->ai_next) {
    HostAddress address;
    if (item->ai_family == AF_INET && item->ai_addrlen >= sizeof(sockaddr_in)) {
      sockaddr_in v4;
      std::memcpy(&v4, item->ai_addr, sizeof v4);
      address = HostAddress::ipv4(ntohl(v4.sin_addr.s_addr));
    } else if (item->ai_family == AF_INET6 && item->ai_addrlen >= sizeof(sockaddr_in6)) {
      sockaddr_in6 v6;
      std::memcpy(&v6, item->ai_addr, sizeof v6);
      std::array<std::uint8_t, 16> bytes;
      std::memcpy(bytes.data(), &v6.sin6_addr, bytes.size());
      address = HostAddress::ipv6(bytes);
    } else {
      continue;
    }
    if (std::find(found.begin(), found.end(), address) == found.end()) found.push_back(address);
  }
  ::freeaddrinfo(list);
  return found;
}

}  // namespace platform
