#include "varlume/command_options.h"

#include <cstdio>

#include "foundation/app.h"
#include "foundation/options.h"
#include "varlume/configuration.h"
#include "varlume/settings.h"
#include "varlume/startup_log.h"

namespace {

constexpr std::size_t kUsageTextSize = 4096;
constexpr int kShownDefaultPort = 8080;

constexpr char kUsageFormat[] =
    "\n"
    "%s: %s\n"
    "usage: %s\n"
    "-p port        - the port on which to listen, default %d\n"
    "-x proxy       - the URI or IP address of the proxy to use\n"
    "-y port        - the port on the proxy to connect to\n"
    "-l             - increase the loglevel, default is 0\n"
    "-h             - display this usage help\n";

}  // namespace

std::string usageText(const std::string& appName, const std::string& version) {
  char text[kUsageTextSize];
  // Cut at the buffer's end, never beyond it.
  std::snprintf(text, sizeof text, kUsageFormat, appName.c_str(), version.c_str(),
                appName.c_str(), kShownDefaultPort);
  return text;
}

bool applyOptions(int argc, char** argv, const std::string& usage,
                  std::optional<std::string>* listeningOption) {
  for (;;) {
    int option = getOption(argc, argv, kOptionString);
    switch (option) {
      case -1:
        return true;
      case 'p':
        listeningPort = readDecimal(optionValue);
        if (listeningOption != nullptr) *listeningOption = std::string(optionValue);
        break;
      case 'x':
        proxyHost = optionValue;
        break;
      case 'y':
        proxyPort = readDecimal(optionValue);
        break;
      case 'l':
        vlApp.setLogLevel(vlApp.getLogLevel() + 1);
        break;
      default:
        writeStartupFailure(usage);
        return false;
    }
  }
}
