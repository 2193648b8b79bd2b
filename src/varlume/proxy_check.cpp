#include "varlume/proxy_check.h"

#include "platform/sockets.h"
#include "varlume/settings.h"
#include "varlume/startup_log.h"

namespace {

// The entry for a failed look-up of this machine's own name; empty for codes
// without a text.
std::string ownNameFailure(int error) {
  switch (error) {
    case platform::kErrHostNotFound:
      return "This (v)machine is unknown as a host. Cannot continue. Varlume aborting.";
    case platform::kErrTryAgain:
      return "A temporary error occurred on an authoritative name server while trying to identify "
             "the name of this (v)machine. Cannot continue. Try again later. Varlume aborting.";
    case platform::kErrNoRecovery:
      return "A non-recoverable name server error occurred while trying to identify the name of "
             "this (v)machine. Cannot continue. Varlume aborting.";
    case platform::kErrNoData:
      return "The name of this (v)machine is valid but it does not have an IP address. Cannot "
             "continue. Varlume aborting.";
    default:
      return std::string();
  }
}

// The description in the entry for a failed look-up of the proxy host.
std::string proxyNameFailure(int error, const std::string& host) {
  switch (error) {
    case platform::kErrHostNotFound:
      return host + " is unknown as a host. Cannot continue.\n";
    case platform::kErrNoData:
      return host + "is a valid proxy name but it does not have an IP address. Cannot continue.\n";
    case platform::kErrNoRecovery:
      return "A non-recoverable name server error occurred while trying to identify the host name "
             "of " + host + ". Cannot continue.\n";
    case platform::kErrTryAgain:
      return "A temporary error occurred on an authoritative name server while trying to identify "
             "the host name of " + host + ". Cannot continue. Try again later.\n";
    default:
      return std::string();
  }
}

}  // namespace

VLResolver systemResolver() {
  VLResolver resolver;
  resolver.localHostName = [](std::string& name) { return platform::localHostName(name); };
  resolver.officialHostName = [](const std::string& host, std::string& officialName) {
    return platform::officialHostName(host, officialName);
  };
  return resolver;
}

bool checkProxySettings(const std::string& usage, const VLResolver& resolver) {
  if (!proxyHost.empty() && proxyPort == -1) {
    writeStartupFailure(usage);
    writeStartupFailure("Proxy specified but no port on proxy specified. Varlume aborting.");
    return false;
  }
  if (proxyHost.empty() && proxyPort > 0) {
    writeStartupFailure(usage);
    writeStartupFailure("Proxy not specified but proxy port specified. Varlume aborting.");
    return false;
  }
  if (proxyHost.empty() || proxyPort != listeningPort) return true;

  // The same port: the upstream proxy must not be this very program.
  std::string machineName;
  if (!resolver.localHostName(machineName)) {
    writeStartupFailure("Failed to find the host name of this (v)machine. Varlume aborting.");
    return false;
  }
  std::string machineOfficialName;
  int error = resolver.officialHostName(machineName, machineOfficialName);
  if (error != 0) {
    std::string entry = ownNameFailure(error);
    if (!entry.empty()) writeStartupFailure(entry);
    return false;
  }
  std::string proxyOfficialName;
  error = resolver.officialHostName(proxyHost, proxyOfficialName);
  if (error != 0) {
    writeStartupFailure("\n " + proxyNameFailure(error, proxyHost) + "Varlume aborting.");
    return false;
  }
  if (machineOfficialName == proxyOfficialName) {
    writeStartupFailure(
        "A proxy hosted on the same (v)machine as varlume cannot listen on the same port as "
        "varlume. Cannot continue.");
    return false;
  }
  return true;
}
