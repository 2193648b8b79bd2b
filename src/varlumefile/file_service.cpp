// VLApp::main of the file service: the user's configuration, the folders,
// the options and the server on 127.0.0.1 at varlumeservices + 0.
#include <cstdio>
#include <optional>
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
#include "varlumefile/file_server.h"
#include "varlumefile/file_settings.h"

int listenPort = 0;
std::string configurationPath;

namespace {

constexpr std::size_t kConfigurationBytes = 4096;
constexpr int kDefaultPortShown = 45000;
constexpr char kUsageFormat[] =
    "\n%s: %s\nusage: %s\n-p port        - the port on which to listen, default %d\n-d path        - the "
    "full path to local varlume storage, default %s\n-l             - increase the loglevel, default is "
    "0\n-h             - display this usage help\n";

int endQuietly(int status) {
  std::fflush(stdout);
  platform::socketsCleanup();
  return status;
}

}  // namespace

int VLApp::main(int argc, char** argv) {
  setAppVersion(kFileServiceVersion);
  int granted = 0;
  if (platform::socketsStartup(0x0202, &granted) != 0) return endQuietly(0);
  if (granted != 0x0202) return endQuietly(0);

  const std::string product = varlumeFolderIn(platform::shellFolder(platform::ShellFolder::LocalAppData));
  tempDirectory = product + "Temp\\";
  configurationPath = product + "varlume.config";
  std::string text;
  if (!platform::isRegularFile(configurationPath) ||
      !platform::readFile(configurationPath, text, kConfigurationBytes)) {
    return endQuietly(0);
  }
  text = text.substr(0, text.find('\0'));
  listenPort = readDecimal(queryValue("varlumeservices", text));

  const std::string documents = platform::shellFolder(platform::ShellFolder::Documents);
  storageRoot = varlumeFolderIn(documents);

  char usage[kFormatTextSize];
  const std::string program(baseName(std::string_view(argv[0])));
  formatText(usage, kUsageFormat, program.c_str(), getAppVersion().c_str(), program.c_str(),
             kDefaultPortShown, documents.c_str());

  std::optional<std::string> portOption;
  for (int letter = getServiceOption(argc, argv, "lh?p:d:"); letter != -1;
       letter = getServiceOption(argc, argv, "lh?p:d:")) {
    if (letter == 'd') {
      storageRoot = optionValue;
    } else if (letter == 'p') {
      listenPort = readDecimal(optionValue);
      portOption = std::string(optionValue);
    } else if (letter != 'l') {
      std::fputs(usage, stdout);
      return endQuietly(1);
    }
  }
  if (!isUsableServicePort(listenPort)) {
    // A port nobody would look for: end as on a port that cannot be used.
    const std::string origin = portOption ? "the option p " + *portOption
                                          : configurationPath + " names varlumeservices=" +
                                                trim(queryValue("varlumeservices", text), true);
    writeDiagnosticLine("varlumefile: " + origin + ", which gives the port " + intToString(listenPort) +
                        "; a port must be 1 to 65535.");
    return endQuietly(1);
  }
  std::fflush(stdout);

  VLFileServer server;
  server.serve(listenPort);
}
