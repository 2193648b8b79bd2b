#include "varlume/startup.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/app.h"
#include "foundation/base_name.h"
#include "foundation/decimal.h"
#include "foundation/strings.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "varlume/all_users_copy.h"
#include "varlume/browser_scripts.h"
#include "varlume/cache_bound.h"
#include "varlume/command_options.h"
#include "varlume/configuration.h"
#include "varlume/default_files.h"
#include "varlume/instance_lock.h"
#include "varlume/port_check.h"
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
constexpr char kPortalPageName[] = "varlumeportal.html";
constexpr std::size_t kPortDigits = 5;
constexpr std::size_t kLoggedPortReadLimit = 65536;

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

// The user's copy of each rule file, else the all-users copy (or the
// shipped one where another user may change it); neither leaves the
// built-in policy, with a warning line in the log.
void loadCacheRules(VLServer& server, const VLStartupFolders& folders) {
  auto missing = [&](const char* name) {
    writeStartupLog(std::string("Warning: the cache rule file ") + name + " is missing from [" +
                    folders.userFolder + "] and [" + folders.allUsersFolder +
                    "]: the built-in cache rules apply. Start-up goes on.");
  };
  if (!server.loadCacheTypes(folders.userFolder + "CacheTypes.txt") &&
      !server.loadCacheTypes(cacheRuleFileToRead(folders.allUsersFolder, "CacheTypes.txt"))) {
    missing("CacheTypes.txt");
  }
  if (!server.loadCacheDomains(folders.userFolder + "CacheDomains.txt") &&
      !server.loadCacheDomains(cacheRuleFileToRead(folders.allUsersFolder, "CacheDomains.txt"))) {
    missing("CacheDomains.txt");
  }
}

// The listener: create it, load the cache rules (the user folder's copy
// first, else the all-users copy) and open the listening socket; only then
// log the completed start-up and serve on this thread; the orderly end
// follows if serving ever returns. A listener that cannot be opened adds one
// line to the log, stops the services this start began and ends the
// process (1).
int serveBrowsers(const VLStartupFolders& folders, bool ownsUserFolder,
                  const VLStartedServices& services) {
  VLServer* server = new VLServer(0);
  loadCacheRules(*server, folders);
  if (!server->openListener(listeningPort)) {
    writeStartupFailure("Could not listen for browser connections on 127.0.0.1 port " +
                        intToString(listeningPort) + ". Varlume aborting.");
    stopServicePrograms(services);
    abortStartup(1);
  }
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

// The listening port that the running instance of this user logged, or -1
// while its log shows none.
int loggedListeningPort(const std::string& logPath) {
  std::string log;
  if (!platform::readFile(logPath, log, kLoggedPortReadLimit)) return -1;
  const std::string label = "\n" + std::string(kListeningPortLabel);
  const std::size_t at = log.find(label);
  if (at == std::string::npos) return -1;
  return readDecimal(log.substr(at + label.size(), kPortDigits));
}

// The instance of this user that already runs keeps its log and its
// services; this start only says so on standard error and ends (1).
[[noreturn]] void endAsSecondInstance(const std::string& logPath) {
  const int port = loggedListeningPort(logPath);
  std::string text = "Varlume is already running for this user";
  if (port > 0) text += ", listening on 127.0.0.1 port " + intToString(port);
  text += ". This start ends; the running instance is left as it is.\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::exit(1);
}

// One warning line for each default file and service program the system
// needs that this start did not find; start-up goes on.
void warnOfMissingPortal(const VLStartupFolders& folders) {
  const std::string portal = folders.privilegedFolder + kPortalPageName;
  if (!platform::isRegularFile(portal)) {
    writeStartupLog("Warning: the portal page [" + portal +
                    "] is missing: a site that cannot be reached gets no portal page. Start-up goes on.");
  }
}

void warnOfMissingServices(const VLStartupFolders& folders, const VLStartedServices& services) {
  for (const std::string& name : services.missing) {
    writeStartupLog("Warning: the service program " + name + " is missing from [" +
                    folders.programFolder + "]: pages get no answer from its service. Start-up goes on.");
  }
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
  const std::string logPath = startupLogPath(folders.documents);
  // A user folder that does not exist yet holds no running instance; its
  // lock is then taken once the configuration has made the folder.
  platform::FileLock instanceLock;
  VLInstanceClaim claim = VLInstanceClaim::NotTried;
  if (platform::isDirectory(folders.userFolder)) {
    claim = claimInstance(instanceLock, folders.userFolder);
    if (claim == VLInstanceClaim::HeldByAnother) endAsSecondInstance(logPath);
  }

  openStartupLog(logPath);
  writeStartupLog("Varlume startup log.");

  if (!loadPublicKey()) {
    writeStartupFailure("Failed to load the mandatory cryptography strings. Varlume aborting.");
    closeStartupLog();
    std::exit(1);
  }

  int grantedVersion = 0;
  if (platform::socketsStartup(kSocketsVersion, &grantedVersion) != 0) {
    writeStartupFailure("Could not load Winsock library. Varlume aborting.");
    closeStartupLog();
    std::exit(1);
  }
  if (grantedVersion != kSocketsVersion) {
    writeStartupFailure("Could not find a suitable Winsock library. Varlume aborting.");
    abortStartup(1);
  }

  tempPath = folders.userFolder + "Temp\\";
  std::string failureLine;
  VLPortSources portSources;
  portSources.configurationFile = folders.userFolder + kConfigurationFileName;
  if (!loadConfiguration(folders.userFolder, folders.allUsersFolder, failureLine,
                         &portSources.configurationText)) {
    writeStartupFailure(failureLine);
    abortStartup(1);
  }
  if (claim == VLInstanceClaim::NotTried) {
    claim = claimInstance(instanceLock, folders.userFolder);
    if (claim == VLInstanceClaim::HeldByAnother) {
      closeStartupLog();
      endAsSecondInstance(logPath);
    }
  }

  // The browser-configuration scripts run here, with the configured port.
  runBrowserScripts(folders.userFolder, folders.allUsersFolder);

  basePath = folders.dataRoot;
  setAppName(argc > 0 && argv[0] != nullptr ? std::string(baseName(argv[0])) : std::string());
  const std::string usage = usageText(getAppName(), getAppVersion());
  if (!applyOptions(argc, argv, usage, &portSources.listeningOption)) return returnFromStartup(1);
  const std::string portProblem = portSettingsProblem(portSources);
  if (!portProblem.empty()) {
    writeStartupFailure(portProblem);
    return returnFromStartup(1);
  }
  if (!checkProxySettings(usage, systemResolver())) return returnFromStartup(1);

  warnOfMissingPortal(folders);
  // Without a lock (a user folder that cannot hold the lock file) the start
  // goes on unguarded, but starts no services and leaves the temporary
  // folder and the cache's unfinished copies alone, which another instance
  // may be using.
  const bool ownsUserFolder = claim == VLInstanceClaim::Taken;
  VLStartedServices services;
  if (ownsUserFolder) {
    services = startServicePrograms(folders.programFolder);
    warnOfMissingServices(folders, services);
    clearTempDirectory();
    sweepCacheFolder();
  }

  return serveBrowsers(folders, ownsUserFolder, services);
}
