#include "varlume/local_target.h"

#include "foundation/strings.h"
#include "platform/local_addresses.h"
#include "platform/sockets.h"
#include "varlume/cross_site_check.h"
#include "varlume/settings.h"

namespace {

constexpr int kServicePorts = 6;  // file, database, image, event, security, plug-in

}  // namespace

bool isOwnPort(int port) {
  if (port <= 0) return false;
  if (port == listeningPort) return true;
  if (servicesPort > 0 && port >= servicesPort && port < servicesPort + kServicePorts) return true;
  return internalPort > 0 && port >= internalPort && port <= internalPort + (internalRange > 0 ? internalRange : 0);
}

VLLocalRefusal localTargetRefusal(bool onThisMachine, int port, bool mayReachThisMachine) {
  if (!onThisMachine) return VLLocalRefusal::None;
  if (isOwnPort(port)) return VLLocalRefusal::OwnPort;
  return mayReachThisMachine ? VLLocalRefusal::None : VLLocalRefusal::Undeclared;
}

bool namesThisMachine(const std::string& hostText) {
  std::string host = toLower(trim(hostText, true));
  if (isLoopbackTarget(host)) return true;
  const std::size_t colon = host.find(':');
  if (colon != std::string::npos) host.erase(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  std::uint32_t address = 0;
  if (platform::numericIPv4(host, address)) return platform::isThisMachine(address);
  std::string own;
  return !host.empty() && platform::localHostName(own) && toLower(own) == host;
}
