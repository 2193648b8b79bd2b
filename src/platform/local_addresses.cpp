#include "platform/local_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace platform {

namespace {

bool isLoopbackOrAny(std::uint32_t address) {
  const std::uint32_t network = address >> 24;
  return network == 127 || network == 0;
}

// ::ffff:a.b.c.d as a.b.c.d; every other address as it is.
HostAddress unmapped(const HostAddress& address) {
  const auto& b = address.v6Bytes;
  if (!address.v6 || !std::all_of(b.begin(), b.begin() + 10, [](std::uint8_t v) { return v == 0; }) ||
      b[10] != 0xff || b[11] != 0xff) {
    return address;
  }
  return HostAddress::ipv4((std::uint32_t{b[12]} << 24) | (std::uint32_t{b[13]} << 16) |
                           (std::uint32_t{b[14]} << 8) | b[15]);
}

// The system's list, read now.
std::vector<HostAddress> readInterfaces() {
  std::vector<HostAddress> found;
  ifaddrs* interfaces = nullptr;
  if (::getifaddrs(&interfaces) != 0) return found;
  for (const ifaddrs* entry = interfaces; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr) continue;
    if (entry->ifa_addr->sa_family == AF_INET) {
      sockaddr_in own;
      std::memcpy(&own, entry->ifa_addr, sizeof own);
      found.push_back(HostAddress::ipv4(ntohl(own.sin_addr.s_addr)));
    } else if (entry->ifa_addr->sa_family == AF_INET6) {
      sockaddr_in6 own;
      std::memcpy(&own, entry->ifa_addr, sizeof own);
      std::array<std::uint8_t, 16> bytes;
      std::memcpy(bytes.data(), &own.sin6_addr, bytes.size());
      found.push_back(HostAddress::ipv6(bytes));
    }
  }
  ::freeifaddrs(interfaces);
  return found;
}

// The interface list as last read, and the subscription to the system's
// announcements of address changes that tells when it is stale. Without a
// subscription the list is read at every question.
class InterfaceList {
 public:
  std::vector<HostAddress> current() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!tried_) subscribe();
    if (!fresh_ || changed()) {
      addresses_ = readInterfaces();
      fresh_ = notices_ >= 0;
    }
    return addresses_;
  }

 private:
  void subscribe() {
    tried_ = true;
    notices_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (notices_ < 0) return;
    sockaddr_nl local;
    std::memset(&local, 0, sizeof local);
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(notices_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(notices_);
      notices_ = -1;
    }
  }

  // Takes every announcement waiting; true when there was one, or when
  // some were lost (the list may have changed either way).
  bool changed() {
    if (notices_ < 0) return true;
    bool any = false;
    char buffer[8192];
    for (;;) {
      const ssize_t got = ::recv(notices_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) {
        any = true;
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return any;
      return true;  // lost announcements (ENOBUFS) or a broken subscription
    }
  }

  std::mutex mutex_;
  int notices_ = -1;
  bool tried_ = false;
  bool fresh_ = false;
  std::vector<HostAddress> addresses_;
};

InterfaceList& interfaceList() {
  static InterfaceList* list = new InterfaceList();  // lives as long as the process
  return *list;
}

}  // namespace

HostAddress HostAddress::ipv4(std::uint32_t address) {
  HostAddress result;
  result.v4 = address;
  return result;
}

HostAddress HostAddress::ipv6(const std::array<std::uint8_t, 16>& bytes) {
  HostAddress result;
  result.v6 = true;
  result.v6Bytes = bytes;
  return result;
}

bool addressIsThisMachine(const HostAddress& address, const std::vector<HostAddress>& interfaces) {
  const HostAddress own = unmapped(address);
  if (own.v6) {
    const auto& b = own.v6Bytes;
    if (std::all_of(b.begin(), b.begin() + 15, [](std::uint8_t v) { return v == 0; }) && b[15] <= 1) {
      return true;  // :: and ::1
    }
  } else if (isLoopbackOrAny(own.v4)) {
    return true;
  }
  return std::find(interfaces.begin(), interfaces.end(), own) != interfaces.end();
}

std::vector<HostAddress> interfaceAddresses() { return interfaceList().current(); }

bool isThisMachine(std::uint32_t address) { return isThisMachine(HostAddress::ipv4(address)); }

bool isThisMachine(const HostAddress& address) {
  // Loopback, "any" and their IPv6 forms need no interface list.
  return addressIsThisMachine(address, {}) || addressIsThisMachine(address, interfaceAddresses());
}

}  // namespace platform
