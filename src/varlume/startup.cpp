#include "varlume/startup.h"

#include <openssl/evp.h>

#include <cstdlib>
#include <string>

#include "foundation/app.h"
#include "foundation/base_name.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "varlume/browser_scripts.h"
#include "varlume/command_options.h"
#include "varlume/configuration.h"
#include "varlume/default_files.h"
#include "varlume/instance_lock.h"
#include "varlume/proxy_check.h"
#include "varlume/public_key.h"
#include "varlume/server.h"
#include "varlume/service_programs.h"
#include "varlume/settings.h"
#include "varlume/startup_folders.h"
#include "varlume/startup_log.h"
#include "varlume/temp_folder.h"

namespace {

constexpr int kSocketsVersion = 0x0202;

// The orderly end after serving: sockets, key and (for the user's one
// instance) the temporary folder.
int endInOrder(bool ownsUserFolder) {
  platform::socketsCleanup();
  EVP_PKEY_free(publicKey);
  publicKey = nullptr;
  if (ownsUserFolder) clearTempDirectory();
  return 0;
}

// The last entries of a start that reached the listener; closes the log.
void logStartupComplete() {
  writeStartupLog("Varlume initialisation complete. Listening for browser connections.");
  writeStartupLog("Active configuration is:");
  for (const std::string& line : activeConfigurationLines()) writeStartupLog(line);
  closeStartupLog();
}

// The user's copy of each rule file, else the all-users copy; neither
// leaves the built-in policy. Nothing is logged.
void loadCacheRules(VLServer& server, const VLStartupFolders& folders) {
  if (!server.loadCacheTypes(folders.userFolder + "CacheTypes.txt")) {
    server.loadCacheTypes(folders.allUsersFolder + "CacheTypes.txt");
  }
  if (!server.loadCacheDomains(folders.userFolder + "CacheDomains.txt")) {
    server.loadCacheDomains(folders.allUsersFolder + "CacheDomains.txt");
  }
}

// The listener: create it, load the cache rules (the user folder's copy
// first, else the all-users copy), log the completed start-up and serve on
// this thread; the orderly end follows if serving ever returns. A listener
// that cannot be opened adds one line to the log and ends the process (1).
int serveBrowsers(const VLStartupFolders& folders, bool ownsUserFolder) {
  VLServer* server = new VLServer(0);
  loadCacheRules(*server, folders);
  logStartupComplete();
  server->serve(listeningPort, internalPort);
  delete server;
  return endInOrder(ownsUserFolder);
}

// Closes the log and cleans up sockets before `main` returns `status`.
int returnFromStartup(int status) {
  closeStartupLog();
  platform::socketsCleanup();
  return status;
}

}  // namespace

void abortStartup(int status) {
  closeStartupLog();
  platform::socketsCleanup();
  std::exit(status);
}

int VLApp::main(int argc, char** argv) {
  setAppVersion(kVarlumeVersion);
  installDefaultFiles();

  VLStartupFolders folders = workOutFolders();
  openStartupLog(startupLogPath(folders.documents));
  writeStartupLog("Varlume startup log.");

  if (!loadPublicKey()) {
    writeStartupLog("Failed to load the mandatory cryptography strings. Varlume aborting.");
    closeStartupLog();
    std::exit(1);
  }

  int grantedVersion = 0;
  if (platform::socketsStartup(kSocketsVersion, &grantedVersion) != 0) {
    writeStartupLog("Could not load Winsock library. Varlume aborting.");
    closeStartupLog();
    std::exit(0);
  }
  if (grantedVersion != kSocketsVersion) {
    writeStartupLog("Could not find a suitable Winsock library. Varlume aborting.");
    abortStartup(0);
  }

  tempPath = folders.userFolder + "Temp\\";
  std::string failureLine;
  if (!loadConfiguration(folders.userFolder, folders.allUsersFolder, failureLine)) {
    writeStartupLog(failureLine);
    abortStartup(0);
  }

  // The browser-configuration scripts run here, with the configured port.
  runBrowserScripts(folders.userFolder, folders.allUsersFolder);

  basePath = folders.dataRoot;
  setAppName(argc > 0 && argv[0] != nullptr ? std::string(baseName(argv[0])) : std::string());
  const std::string usage = usageText(getAppName(), getAppVersion());
  if (!applyOptions(argc, argv, usage)) return returnFromStartup(1);
  if (!checkProxySettings(usage, systemResolver())) return returnFromStartup(1);

  // A second instance of this user goes on (and fails at its listener) but
  // starts no services and leaves the running instance's part files alone.
  platform::FileLock instanceLock;
  const bool ownsUserFolder = takeInstanceLock(instanceLock, folders.userFolder);
  if (ownsUserFolder) {
    startServicePrograms(folders.programFolder);
    clearTempDirectory();
  }

  return serveBrowsers(folders, ownsUserFolder);
}
