#include "platform/local_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace platform {

bool isThisMachine(std::uint32_t address) {
  const std::uint32_t network = address >> 24;
  if (network == 127 || network == 0) return true;
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return false;
  bool found = false;
  for (const ifaddrs* entry = interfaces; entry != nullptr && !found; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in own;
    std::memcpy(&own, entry->ifa_addr, sizeof own);
    found = ntohl(own.sin_addr.s_addr) == address;
  }
  ::freeifaddrs(interfaces);
  return found;
}

}  // namespace platform
