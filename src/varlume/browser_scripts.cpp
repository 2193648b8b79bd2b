#include "varlume/browser_scripts.h"

#include <memory>
#include <string>
#include <vector>

#include "foundation/directory.h"
#include "foundation/signature.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "varlume/all_users_copy.h"
#include "varlume/configuration.h"
#include "varlume/script_actions.h"
#include "varlume/script_lines.h"
#include "varlume/settings.h"
#include "varlume/startup.h"
#include "varlume/startup_log.h"

namespace {

constexpr char kScriptMark[] = ".browser";
constexpr char kSignatureMark[] = ".browser.sig";

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> namesIn(const std::string& folder) {
  VLDirectory directory;
  directory.listDirectory(folder);
  std::vector<std::string> names;
  for (int i = 0; i < directory.entryCount(); ++i) names.push_back(directory.entryAt(i).name());
  return names;
}

// The scripts to run, in name order: names with ".browser" but not
// ".browser.sig" that the user folder holds no copy of. A name with "\"
// would leave both folders here and is passed over.
std::vector<std::string> selectScripts(const std::string& userFolder,
                                       const std::string& allUsersFolder) {
  std::vector<std::string> done;
  for (const std::string& name : namesIn(userFolder)) {
    if (contains(name, kScriptMark)) done.push_back(name);
  }
  std::vector<std::string> selected;
  for (const std::string& name : namesIn(allUsersFolder)) {
    if (!contains(name, kScriptMark) || contains(name, kSignatureMark)) continue;
    if (contains(name, "\\")) continue;
    bool isDone = false;
    for (const std::string& doneName : done) isDone = isDone || doneName == name;
    if (!isDone) selected.push_back(name);
  }
  return selected;
}

// Reads the script once and checks those very bytes, under the all-users
// lock that an installing start holds while it copies a script and its
// ".sig".
bool readVerifiedScript(const std::string& allUsersFolder, const std::string& path,
                        std::string& bytes) {
  platform::FileLock allUsersLock;
  allUsersLock.lock(allUsersFolder + kAllUsersLockName);
  return readVerifiedFile(path, bytes, signatureContext(), publicKey);
}

}  // namespace

bool runScriptLines(const std::vector<std::string>& lines, VLScriptRun& run) {
  for (const std::string& line : lines) {
    VLLineResult result = VLLineResult::Next;
    switch (lineKind(line)) {
      case VLLineKind::File: result = runFileLine(line, run); break;
      case VLLineKind::Registry: result = runRegistryLine(line, run); break;
      case VLLineKind::Comment:
      case VLLineKind::Ignored: break;
    }
    if (result == VLLineResult::Stop) return false;
  }
  return true;
}

void runBrowserScripts(const std::string& userFolder, const std::string& allUsersFolder) {
  platform::FileLock scriptsLock;
  scriptsLock.lock(userFolder + kScriptsLockName);

  auto registry = std::make_unique<platform::RegistryStore>(
      userFolder + platform::kRegistryStoreName, allUsersFolder + platform::kRegistryStoreName);
  for (const std::string& name : selectScripts(userFolder, allUsersFolder)) {
    const std::string path = browserScriptToRun(allUsersFolder, name);
    if (path.empty()) continue;
    std::string bytes;
    if (!readVerifiedScript(allUsersFolder, path, bytes)) {
      registry.reset();
      writeStartupFailure("The anti-tamper security signature for file [" + path +
                          "] indicates that the file has been tampered with. Varlume aborting.");
      abortStartup(1);
    }
    const std::string text = scriptText(bytes);
    VLScriptRun run;
    run.port = listeningPort;
    run.registry = registry.get();
    if (runScriptLines(scriptLines(text), run) && !run.failureMark) {
      // Written whole or not at all: a cut copy must never mark it done.
      platform::writeFileAtomic(userFolder + name, text);
    }
  }
}
