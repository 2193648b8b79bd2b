// The event service program: the user's configuration and folders, the
// options, then the server on varlumeservices + 3 until the process ends.
#include <sqlite3.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "foundation/app.h"
#include "foundation/base_name.h"
#include "foundation/decimal.h"
#include "foundation/options.h"
#include "foundation/query_string.h"
#include "foundation/strings.h"
#include "foundation/varlume_folder.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/sockets.h"
#include "serviceframework/diagnostic_output.h"
#include "serviceframework/service_options.h"
#include "serviceframework/service_settings.h"
#include "varlumeevent/event_handler.h"
#include "varlumeevent/event_server.h"

namespace {

constexpr int kSocketsVersion = 0x0202;
constexpr int kPortOffset = 3;
constexpr int kShownDefaultPort = 45003;
constexpr std::size_t kConfigurationBytes = 4096;

constexpr char kUsageFormat[] =
    "\n%s: %s\nusage: %s\n-p port        - the port on which to listen, default %d\n-l             - increase the "
    "loglevel, default is 0\n-h             - display this usage help\n";

std::string wellKnownFolder(platform::ShellFolder which) { return varlumeFolderIn(platform::shellFolder(which)); }

// A port as the listener takes it: port 0 (any free port, where no caller
// would find the service) and values beyond int are given as INT_MAX, which
// the listener refuses.
int listenablePort(std::int64_t port) { return port == 0 || port > INT_MAX ? INT_MAX : static_cast<int>(port); }

// The configured base plus the offset.
int servicePort(int base) { return listenablePort(static_cast<std::int64_t>(base) + kPortOffset); }

}  // namespace

int VLApp::main(int argc, char** argv) {
  setAppVersion(VLEventHandler::kVersionText);
  // Fifty handlers allocate through SQLite at once: no process-wide
  // allocation statistics, whose mutex every allocation would take.
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

  int grantedVersion = 0;
  if (platform::socketsStartup(kSocketsVersion, &grantedVersion) != 0) {
    writeDiagnosticLine("Could not find a suitable Winsock library.");
    std::exit(0);
  }
  if (grantedVersion != kSocketsVersion) {
    writeDiagnosticLine("Could not find a suitable Winsock library.");
    platform::socketsCleanup();
    std::exit(0);
  }

  const std::string baseFolder = wellKnownFolder(platform::ShellFolder::LocalAppData);
  tempDirectory = baseFolder + "Temp\\";
  const std::string configurationPath = baseFolder + "varlume.config";
  std::string configuration;
  if (!platform::isRegularFile(configurationPath) ||
      !platform::readFile(configurationPath, configuration, kConfigurationBytes)) {
    platform::socketsCleanup();
    std::exit(0);
  }
  const int base = readDecimal(queryValue("varlumeservices", configuration));
  int listenPort = servicePort(base);

  storageRoot = wellKnownFolder(platform::ShellFolder::Documents);
  writeDiagnosticLine(storageRoot);

  const std::string programName(argc > 0 && argv[0] != nullptr ? baseName(argv[0]) : std::string_view());
  char usage[kFormatTextSize];
  formatText(usage, kUsageFormat, programName.c_str(), getAppVersion().c_str(), programName.c_str(),
             kShownDefaultPort);

  bool portFromOption = false;
  for (int letter; (letter = getServiceOption(argc, argv, "lh?p:")) != -1;) {
    if (letter == 'l') continue;
    if (letter == 'p') {
      listenPort = listenablePort(readDecimal(optionValue));
      portFromOption = true;
      continue;
    }
    writeDiagnosticLine(usage);
    return 1;
  }

  // A base that is no port (a missing key reads as 0) gives a port nobody
  // would look for: end as on a port that cannot be used. An option's port
  // is refused by the listener.
  if (!portFromOption && !isUsableServicePort(base)) {
    writeDiagnosticLine("varlumeevent: " + configurationPath + " names varlumeservices=" +
                        trim(queryValue("varlumeservices", configuration), true) + ", which gives the base port " +
                        std::to_string(base) + "; a port must be 1 to 65535.");
    platform::socketsCleanup();
    return 1;
  }

  VLEventServer* server = new VLEventServer();
  server->serve(listenPort);
}
