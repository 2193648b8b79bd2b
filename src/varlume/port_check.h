// Whether the ports of a start can be used, once the options are applied:
// the listening port, the services' ports (base + 0 to base + 5) and the
// notification ports (base to base + range - 1) must all lie in 1 to 65535,
// and the range must hold at least one port. A missing key or a value
// without digits reads as 0, so an empty or damaged varlume.config fails
// here instead of leaving a proxy on a port nobody knows.
#pragma once
#include <optional>
#include <string>

struct VLPortSources {
  std::string configurationFile;  // the file the settings were read from ("\" form)
  std::string configurationText;  // the text that was parsed
  std::optional<std::string> listeningOption;  // the value of the last -p, when given
};

// Checks listeningPort, servicesPort, internalPort and internalRange. Empty
// when they can be used; otherwise the one log line that ends start-up,
// naming the first setting that does not fit, the value read and where it
// came from.
std::string portSettingsProblem(const VLPortSources& sources);
