#include "varlume/port_check.h"

#include <cstdint>

#include "foundation/query_string.h"
#include "foundation/strings.h"
#include "varlume/settings.h"

namespace {

constexpr std::int64_t kLowestPort = 1;
constexpr std::int64_t kHighestPort = 65535;
// The services take the base port and the five above it (FILE to PLUGIN).
constexpr std::int64_t kServicePortsAbove = 5;

bool fits(std::int64_t first, std::int64_t last) { return first >= kLowestPort && last <= kHighestPort; }

std::string decimal(std::int64_t value) { return std::to_string(value); }

// "The setting key=value in [file]" or, for a missing key, "The setting key
// (missing) in [file]"; the value as read, without the line end that may
// follow the last key.
std::string settingText(const std::string& key, const VLPortSources& sources) {
  const bool present = sources.configurationText.find(key + "=") != std::string::npos;
  const std::string value = trim(queryValue(key, sources.configurationText), true);
  return "The setting " + key + (present ? "=" + value : " (missing)") + " in [" +
         sources.configurationFile + "]";
}

std::string aborting(const std::string& text) { return text + ". Varlume aborting."; }

}  // namespace

std::string portSettingsProblem(const VLPortSources& sources) {
  const std::int64_t listening = listeningPort;
  if (!fits(listening, listening)) {
    const std::string origin = sources.listeningOption
                                   ? "The option -p " + *sources.listeningOption + " on the command line"
                                   : settingText("varlume", sources);
    return aborting(origin + " gives the listening port " + decimal(listening) +
                    "; it must be 1 to 65535");
  }
  const std::int64_t services = servicesPort;
  if (!fits(services, services + kServicePortsAbove)) {
    return aborting(settingText("varlumeservices", sources) + " gives the service ports " +
                    decimal(services) + " to " + decimal(services + kServicePortsAbove) +
                    "; they must be 1 to 65535");
  }
  const std::int64_t range = internalRange;
  if (range < 1) {
    return aborting(settingText("range", sources) + " gives " + decimal(range) +
                    " notification ports; it must be 1 or more");
  }
  const std::int64_t internal = internalPort;
  if (!fits(internal, internal + range - 1)) {
    return aborting(settingText("varlumeinternal", sources) + " gives, with range " + decimal(range) +
                    ", the notification ports " + decimal(internal) + " to " +
                    decimal(internal + range - 1) + "; they must be 1 to 65535");
  }
  return std::string();
}
