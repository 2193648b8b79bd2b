// The event service's per-request dispatcher: the site's database path, the
// refusals that come before any disk access (a refused Host or home, a
// command of the privileged host that is not its pages' script's), the two
// databases opened with their objects in place, the command table, and both
// databases closed.
#include "varlumeevent/event_handler.h"

#include "foundation/privileged_host.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "platform/files.h"
#include "serviceframework/service_settings.h"
#include "varlumeevent/privileged_requests.h"
#include "varlumeevent/schema_check.h"

namespace {

constexpr char kDatabaseName[] = "EventDatabase.db";

// A folder under the data root with its host and home part %XX-decoded once;
// the data root itself is used as it is (its own name may hold "%").
std::string decodedBelowRoot(const std::string& folder) {
  if (folder.compare(0, storageRoot.size(), storageRoot) != 0) return folder;
  return storageRoot + urlDecode(folder.substr(storageRoot.size()));
}

std::string databasePathIn(std::string folder) {
  ensureTrailingSlash(folder);
  folder += kDatabaseName;
  replaceAll("/", "\\", folder);
  return folder;
}

}  // namespace

void VLEventHandler::serviceRequest() {
  const std::string command = toUpper(getPath());
  const bool refused = isSiteFolderRefused();
  siteFolder = refused ? std::string() : decodedBelowRoot(domainHomeDirectory());
  domainDatabasePath = databasePathIn(siteFolder);

  rowXml.clear();
  rowCount = 0;
  mLineResults.clear();

  // Nor is a database opened through a link: it would be another folder's.
  if (refused || !platform::isLinkFreeBelow(storageRoot, domainDatabasePath)) {
    // Nothing of a refused Host or home may reach the disk.
    if (command == "/GETEVENT") {
      answerNoEvent();
    } else {
      replyError(14, "Cannot open domain database " + domainDatabasePath);
    }
  } else if (privilegedRequestRefused(getHost(), command, sentByPageScript())) {
    // Answered like a privileged command of another host; nothing is opened.
    replyError(1, "Command not recognised by varlumeevent.");
  } else {
    newDomainDatabase = !platform::isRegularFile(domainDatabasePath);
    if (newDomainDatabase && command == "/GETEVENT") {
      answerNoEvent();
    } else if (openDatabases(command)) {
      dispatch(command);
    }
  }
  domainDatabase.close();
  privilegedDatabase.close();
  mLineResults.clear();
  reset();
}

bool VLEventHandler::openDatabases(const std::string& command) {
  std::string message;
  directory.makePath(siteFolder, 0777, message);
  // The proxy takes any 200 answer to /GETEVENT as a follow-up target: it
  // never gets an envelope, only the 500 of no event.
  const bool lookUp = command == "/GETEVENT";
  auto cannotOpen = [&](const std::string& reason) {
    if (lookUp) {
      answerNoEvent();
    } else {
      replyError(14, reason);
    }
    return false;
  };
  if (!domainDatabase.open(domainDatabasePath)) {
    return cannotOpen("Cannot open domain database " + domainDatabasePath);
  }
  const std::string privilegedFolder = decodedBelowRoot(privilegedDataDirectory());
  privilegedDatabasePath = databasePathIn(privilegedFolder);
  if (!platform::isLinkFreeBelow(storageRoot, privilegedDatabasePath)) {
    return cannotOpen("Cannot open varlume database " + privilegedDatabasePath);
  }
  directory.makePath(privilegedFolder, 0777, message);
  if (!privilegedDatabase.open(privilegedDatabasePath)) {
    return cannotOpen("Cannot open varlume database " + privilegedDatabasePath);
  }
  // What a file holds is checked before any command uses it: a page can
  // put any file in its site's place (and the file service can delete the
  // privileged one). /GETEVENT only reads the site's ServerEvent, through
  // its unique index, and makes nothing. Every other command gets the
  // objects made again whenever one is missing (a creation at start can
  // fail, and a site's file can be new, empty or lack a table), unless the
  // file holds what is not the service's own or lacks an index over rows
  // already stored.
  if (lookUp) {
    const VLSchemaCheck site = checkSchema(domainDatabase, domainObjects());
    if (site.readable && (site.foreign || !site.holds("ServerEventIndex"))) {
      answerNoEvent();
      return false;
    }
    return true;
  }
  const VLSchemaCheck privileged = checkSchema(privilegedDatabase, privilegedObjects());
  if (!privileged.usable()) return cannotOpen("Cannot open varlume database " + privilegedDatabasePath);
  if (!privileged.readable || !privileged.missing.empty()) createPrivilegedTables();
  const VLSchemaCheck site = checkSchema(domainDatabase, domainObjects());
  if (!site.usable()) return cannotOpen("Cannot open domain database " + domainDatabasePath);
  if (newDomainDatabase || !site.readable || !site.missing.empty()) createDomainTables();
  return true;
}

void VLEventHandler::dispatch(const std::string& command) {
  using Operation = void (VLEventHandler::*)();
  struct Row {
    const char* path;
    bool privileged;
    Operation operation;
  };
  static const Row kCommands[] = {
      {"/GETEVENT", false, &VLEventHandler::getEvent},
      {"/CROSSSITESCRIPT", false, nullptr},
      {"/ADDWEBDRIVE", false, &VLEventHandler::addWebDrive},
      {"/DELETEWEBDRIVE", false, &VLEventHandler::deleteWebDrive},
      {"/ADDWEBDRIVESHARE", false, &VLEventHandler::addWebDriveShare},
      {"/DELETEWEBDRIVESHARE", false, &VLEventHandler::deleteWebDriveShare},
      {"/ADDCROSSSITEUSER", true, &VLEventHandler::addCrossSiteUser},
      {"/UPDATECROSSSITEUSER", true, &VLEventHandler::updateCrossSiteUser},
      {"/ADDCROSSSITESITE", true, &VLEventHandler::addCrossSiteSite},
      {"/DELETECROSSSITESITE", true, &VLEventHandler::deleteCrossSiteSite},
      {"/ADDDRAGDROPWEB", false, &VLEventHandler::addDragDropWeb},
      {"/DELETEDRAGDROPWEB", false, &VLEventHandler::deleteDragDropWeb},
      {"/ADDDRAGDROPWEBINCLUDE", false, &VLEventHandler::addDragDropWebInclude},
      {"/DELETEDRAGDROPWEBINCLUDE", false, &VLEventHandler::deleteDragDropWebInclude},
      {"/ADDSERVEREVENT", false, &VLEventHandler::addServerEvent},
      {"/DELETESERVEREVENT", false, &VLEventHandler::deleteServerEvent},
      {"/GETVERSION", false, &VLEventHandler::replyVersion},
  };
  const bool fromPrivilegedHost = getHost() == kPrivilegedHost;
  for (const Row& row : kCommands) {
    if (command != row.path) continue;
    // The privileged condition belongs to the row: from another host the
    // path goes on down the table.
    if (row.privileged && !fromPrivilegedHost) continue;
    if (row.operation == nullptr) {
      replySuccess();
    } else {
      (this->*row.operation)();
    }
    return;
  }
  replyError(1, "Command not recognised by varlumeevent.");
}

void VLEventHandler::answerNoEvent() {
  responseHeader(500, "Internal server error", "text/plain");
  sendEmptyResponse();
  reset();
}

std::string VLEventHandler::trimmedParameter(const std::string& name) const {
  return trim(getParameter(name), true);
}

bool VLEventHandler::storeInDomain(const std::string& statement) {
  return store(domainDatabase, statement, "Cannot write domain database " + domainDatabasePath);
}

bool VLEventHandler::storeInPrivileged(const std::string& statement) {
  return store(privilegedDatabase, statement, "Cannot write varlume database " + privilegedDatabasePath);
}

bool VLEventHandler::store(VLEventConnection& connection, const std::string& statement,
                           const std::string& failureReason) {
  int failure = 0;
  executeStatements(connection, {statement}, &failure);
  // A duplicate refused by a unique index is the intended outcome; anything
  // else (disk full, I/O error, no database, still locked) lost the write.
  if (failure == SQLITE_OK || (failure & 0xFF) == SQLITE_CONSTRAINT) return true;
  replyError(14, failureReason);
  return false;
}
