#include "varlume/configuration.h"

#include <climits>
#include <cstdint>

#include "foundation/query_string.h"
#include "foundation/strings.h"
#include "platform/file_modes.h"
#include "platform/files.h"
#include "varlume/cache_bound.h"
#include "varlume/settings.h"
#include "varlume/startup_folders.h"

namespace {

// At most kConfigurationReadLimit bytes, up to the first zero byte.
bool readConfigurationFile(const std::string& path, std::string& text) {
  platform::File file;
  if (!file.open(path, platform::File::Read)) return false;
  text.clear();
  char buffer[kConfigurationReadLimit];
  while (text.size() < kConfigurationReadLimit) {
    long got = file.read(buffer, kConfigurationReadLimit - text.size());
    if (got < 0) return false;
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return true;
}

std::string withLineEnd(const char* text) { return std::string(text) + "\r\n"; }

std::string sum(int a, int b) {
  // Wraps like the 32-bit arithmetic of the file's readers instead of
  // overflowing.
  return intToString(static_cast<std::int32_t>(static_cast<std::int64_t>(a) + b));
}

}  // namespace


void parseConfiguration(const std::string& text) {
  listeningPort = readDecimal(queryValue("varlume", text));
  proxyPort = readDecimal(queryValue("proxyport", text));
  proxyHost = queryValue("proxyhost", text);
  servicesPort = readDecimal(queryValue("varlumeservices", text));
  internalRange = readDecimal(queryValue("range", text));
  internalPort = readDecimal(queryValue("varlumeinternal", text));
  cacheBoundBytes = cacheBoundFromValue(queryValue(kCacheBoundKey, text));
}

std::string nextUserConfiguration(const std::string& text) {
  std::string next = setQueryValue("varlume", sum(listeningPort, 1), text);
  next = setQueryValue("varlumeservices", sum(servicesPort, 20), next);
  return setQueryValue("varlumeinternal", sum(internalPort, internalRange), next);
}

std::string firstStartText(const std::string& allUsersText, bool othersMayChange) {
  if (!othersMayChange) return allUsersText;
  // Another user's upstream proxy would see every request of this user.
  auto number = [&](const char* key) { return intToString(readDecimal(queryValue(key, allUsersText))); };
  return "varlume=" + number("varlume") + "&proxyport=0&proxyhost=&varlumeservices=" +
         number("varlumeservices") + "&varlumeinternal=" + number("varlumeinternal") +
         "&range=" + number("range") + "\r\n";
}

bool loadConfiguration(const std::string& userFolder, const std::string& allUsersFolder,
                       std::string& failureLine, std::string* parsedText) {
  const std::string userFile = userFolder + kConfigurationFileName;
  const std::string allUsersFile = allUsersFolder + kConfigurationFileName;

  auto readUserFile = [&]() {
    std::string text;
    if (!readConfigurationFile(userFile, text)) {
      failureLine = "Varlume failed to open file [" + userFile + "]. Varlume aborting.";
      return false;
    }
    parseConfiguration(text);
    if (parsedText != nullptr) *parsedText = text;
    // Part files and request bodies need the folder even when it went missing.
    makeFolderPath(tempPath);
    return true;
  };
  auto userFileExists = [&]() {
    return platform::isDirectory(userFolder) && platform::isRegularFile(userFile);
  };

  if (userFileExists()) return readUserFile();

  // A first start for this user. Without the lock (a folder that cannot hold
  // the lock file) the start goes on unguarded.
  platform::FileLock allUsersLock;
  allUsersLock.lock(allUsersFolder + kAllUsersLockName);
  if (userFileExists()) return readUserFile();  // made meanwhile by a start of this user

  if (!platform::isDirectory(userFolder) && !makeFolderPath(userFolder)) {
    failureLine = "Failed to create directory [" + userFolder + "]. Varlume aborting.";
    return false;
  }
  if (!platform::isDirectory(tempPath) && !makeFolderPath(tempPath)) {
    failureLine = "Failed to create directory [" + tempPath + "]. Varlume aborting.";
    return false;
  }

  if (!platform::isRegularFile(allUsersFile)) {
    // The first user of this machine keeps the first set; the all-users file
    // holds the second for the next user.
    if (!platform::writeFileAtomic(allUsersFile, withLineEnd(kSecondPortSet))) {
      failureLine = "Failed to open or create file [" + allUsersFile + "]. Varlume aborting.";
      return false;
    }
    platform::writeFileAtomic(userFile, withLineEnd(kFirstPortSet));
    parseConfiguration(kFirstPortSet);
    if (parsedText != nullptr) *parsedText = kFirstPortSet;
    return true;
  }

  std::string text;
  if (!readConfigurationFile(allUsersFile, text)) {
    failureLine = "Failed to open file [" + allUsersFile + "]. Varlume aborting.";
    return false;
  }
  const std::string userText = firstStartText(text, platform::othersMayChange(allUsersFile));
  if (!platform::writeFileAtomic(userFile, userText)) {
    failureLine = "Varlume failed to create file [" + userFile + "]. Varlume aborting.";
    return false;
  }
  parseConfiguration(userText);
  if (parsedText != nullptr) *parsedText = userText;
  if (!platform::writeFileAtomic(allUsersFile, nextUserConfiguration(text))) {
    failureLine = "Varlume failed to create file [" + allUsersFile + "]. Varlume aborting.";
    return false;
  }
  return true;
}

std::vector<std::string> activeConfigurationLines() {
  return {
      kListeningPortLabel + std::to_string(listeningPort),
      "  Internal Port:      " + std::to_string(internalPort),
      "  Internal Range:     " + std::to_string(internalRange),
      "  Base Services Port: " + std::to_string(servicesPort),
      "  Proxy Host:         " + proxyHost,
      "  Proxy Port:         " + std::to_string(proxyPort),
      "  Base Path:          " + basePath,
      "  Temp Path:          " + tempPath,
  };
}
