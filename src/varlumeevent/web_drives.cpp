// Web drives and their shares: a folder of the site's home tied to four URLs
// (/ADDWEBDRIVE, /DELETEWEBDRIVE) and the groups and users it is shared with
// (/ADDWEBDRIVESHARE, /DELETEWEBDRIVESHARE).
#include "foundation/strings.h"
#include "varlumeevent/command_path.h"
#include "varlumeevent/event_handler.h"
#include "varlumeevent/sql_literal.h"

std::string VLEventHandler::localDirFor(const std::string& pathParameter) const {
  std::string path = trim(pathParameter, true);
  if (!path.empty()) path = cleanCommandPath(path);
  std::string localDir = siteFolder;
  ensureTrailingSlash(localDir);
  if (!path.empty()) localDir += path.front() == '/' ? path.substr(1) : path;
  return localDir;
}

void VLEventHandler::addWebDrive() {
  static const char* const kColumns[] = {"Check",    "CheckParams", "Up",     "UpParams",     "UpTransferEncoding",
                                         "Down",     "DownParams",  "Delete", "DeleteParams", "IntervalSeconds"};
  static const int kUrlColumns[] = {0, 2, 5, 7};  // Check, Up, Down, Delete
  const std::string localDir = localDirFor(getParameter("Path"));
  std::vector<std::string> values;
  for (const char* column : kColumns) values.push_back(trimmedParameter(column));

  for (int index : kUrlColumns) {
    if (values[index].empty()) {
      replyError(3020, std::string("Path for ") + kColumns[index] + " parameter is blank. WebDrive not created.");
      return;
    }
  }
  for (int index : kUrlColumns) {
    if (crossSitePermission(values[index]) != 3) {
      replyError(3000, std::string("User ALWAYS permission required to support cross site scripted WebDrive. "
                                   "Parameter=") +
                           kColumns[index] + ".  WebDrive not created.");
      return;
    }
  }
  std::string statement = "INSERT INTO WebDrive VALUES (" + sqlLiteral(localDir);
  for (const std::string& value : values) statement += ", " + sqlLiteral(value);
  statement += ")";
  if (storeInDomain(statement)) replySuccess();
}

void VLEventHandler::deleteWebDrive() {
  if (storeInDomain("DELETE FROM WebDrive WHERE LocalDir = " + sqlLiteral(localDirFor(getParameter("Path"))))) {
    replySuccess();
  }
}

void VLEventHandler::addWebDriveShare() {
  const std::string localDir = localDirFor(getParameter("Path"));
  if (storeInDomain("INSERT INTO WebDriveShare VALUES (" + sqlLiteral(localDir) + ", " +
                    sqlLiteral(trimmedParameter("Group")) + ", " + sqlLiteral(trimmedParameter("User")) + ", " +
                    sqlLiteral(trimmedParameter("Permission")) + ")")) {
    replySuccess();
  }
}

void VLEventHandler::deleteWebDriveShare() {
  const std::string group = trimmedParameter("Group");
  const std::string user = trimmedParameter("User");
  // GROUP is a keyword of SQL: the column is named as a quoted identifier.
  std::string statement = "DELETE FROM WebDriveShare WHERE LocalDir = " + sqlLiteral(localDirFor(getParameter("Path")));
  if (!group.empty()) statement += " AND \"Group\" = " + sqlLiteral(group);
  if (!user.empty()) statement += " AND User = " + sqlLiteral(user);
  if (storeInDomain(statement)) replySuccess();
}
