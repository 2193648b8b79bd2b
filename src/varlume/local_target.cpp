#include "varlume/local_target.h"

#include <algorithm>
#include <atomic>

#include "foundation/strings.h"
#include "platform/name_lookup.h"
#include "platform/sockets.h"
#include "varlume/cross_site_check.h"
#include "varlume/settings.h"

namespace {

constexpr int kServicePorts = 6;  // file, database, image, event, security, plug-in

// The notification port a listener took past the range; 0 while none did.
std::atomic<int> noticePortPastRange{0};

// The host of a target text: lower case, without port and final dots.
std::string bareHost(const std::string& hostText) {
  std::string host = toLower(trim(hostText, true));
  const std::size_t colon = host.find(':');
  if (colon != std::string::npos) host.erase(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  return host;
}

// What the text alone tells: a loopback name or address, this machine's
// name, or an address of this machine.
bool textNamesThisMachine(const std::string& hostText, const std::string& host, const std::string& machineName,
                          const std::vector<platform::HostAddress>& interfaces) {
  if (isLoopbackTarget(hostText)) return true;
  if (!host.empty() && !machineName.empty() && bareHost(machineName) == host) return true;
  std::uint32_t address = 0;
  return platform::numericIPv4(host, address) &&
         platform::addressIsThisMachine(platform::HostAddress::ipv4(address), interfaces);
}

}  // namespace

bool isOwnPort(int port) {
  if (port <= 0) return false;
  if (port == listeningPort) return true;
  if (servicesPort > 0 && port >= servicesPort && port < servicesPort + kServicePorts) return true;
  // The notification ports: the base and the range - 1 above it.
  if (internalPort > 0 && port >= internalPort && port < internalPort + std::max(internalRange, 1)) return true;
  return port == noticePortPastRange.load();
}

void noteNoticePort(int port) {
  if (port > 0 && (port < internalPort || port >= internalPort + std::max(internalRange, 1))) {
    noticePortPastRange = port;
  }
}

VLLocalRefusal localTargetRefusal(bool onThisMachine, int port, bool mayReachThisMachine) {
  if (!onThisMachine) return VLLocalRefusal::None;
  if (isOwnPort(port)) return VLLocalRefusal::OwnPort;
  return mayReachThisMachine ? VLLocalRefusal::None : VLLocalRefusal::Undeclared;
}

bool nameIsThisMachine(const std::string& hostText, const VLNameFacts& facts) {
  const std::string host = bareHost(hostText);
  if (textNamesThisMachine(hostText, host, facts.machineName, facts.interfaces)) return true;
  for (const platform::HostAddress& address : facts.resolved) {
    if (platform::addressIsThisMachine(address, facts.interfaces)) return true;
  }
  return false;
}

bool namesThisMachine(const std::string& hostText) {
  VLNameFacts facts;
  platform::localHostName(facts.machineName);
  facts.interfaces = platform::interfaceAddresses();
  if (nameIsThisMachine(hostText, facts)) return true;  // the text tells
  const std::string host = bareHost(hostText);
  std::uint32_t address = 0;
  if (platform::numericIPv4(host, address)) return false;  // an address elsewhere: nothing to look up
  facts.resolved = platform::resolveHost(host);
  return nameIsThisMachine(hostText, facts);
}
