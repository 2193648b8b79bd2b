#include "varlumeevent/event_schema.h"

const char* const kDomainObjects[10] = {
    "WebDrive",      "WebDriveIndex",            "DragDropWeb",         "DragDropWebInclude", "WebDriveShare",
    "WebDriveFiles", "WebDriveFilesUniqueIndex", "WebDriveFilesIndex", "ServerEvent",        "ServerEventIndex",
};

const char* const kPrivilegedObjects[5] = {
    "CrossSiteUser", "CrossSiteUserUniqueIndex", "CrossSiteUserIndex", "CrossSiteSite", "CrossSiteSiteIndex",
};

const std::vector<std::string>& domainStatements() {
  static const std::vector<std::string> statements = {
      "CREATE TABLE IF NOT EXISTS WebDrive ('LocalDir', 'Check', 'CheckParams', 'Up', 'UpParams', "
      "'UpTransferEncoding', 'Down', 'DownParams', 'Delete', 'DeleteParams', 'IntervalSeconds')",
      "CREATE UNIQUE INDEX IF NOT EXISTS WebDriveIndex ON WebDrive ('LocalDir')",
      "CREATE TABLE IF NOT EXISTS DragDropWeb ('LocalDir', 'Action', 'ActionParams', 'ActionSequence')",
      "CREATE TABLE IF NOT EXISTS DragDropWebInclude ('LocalDir', 'FileExtension')",
      "CREATE TABLE IF NOT EXISTS WebDriveShare ('LocalDir', 'Group', 'User', 'Permission')",
      "CREATE TABLE IF NOT EXISTS WebDriveFiles ('LocalDir', 'Filename', 'RemoteVersion', 'LocalBaseVersion', "
      "'LocalModifiedTime')",
      "CREATE UNIQUE INDEX IF NOT EXISTS WebDriveFilesUniqueIndex On WebDriveFiles ('LocalDir', 'Filename')",
      "CREATE INDEX IF NOT EXISTS WebDriveFilesIndex ON WebDriveFiles ('LocalDir', 'Filename', 'RemoteVersion', "
      "'LocalBaseVersion', 'LocalModifiedTime')",
      "CREATE TABLE IF NOT EXISTS ServerEvent ('Path', 'Event', 'Action', 'ActionParams')",
      "CREATE UNIQUE INDEX IF NOT EXISTS ServerEventIndex ON ServerEvent ('Path', 'Event')",
  };
  return statements;
}

const std::vector<std::string>& privilegedStatements() {
  static const std::vector<std::string> statements = {
      "CREATE TABLE IF NOT EXISTS CrossSiteUser ('DomainName', 'CrossDomain', 'Permission')",
      "CREATE UNIQUE INDEX IF NOT EXISTS CrossSiteUserUniqueIndex ON CrossSiteUser ('DomainName', 'CrossDomain')",
      "CREATE INDEX IF NOT EXISTS CrossSiteUserIndex ON CrossSiteUser ('DomainName', 'CrossDomain', 'Permission')",
      "CREATE TABLE IF NOT EXISTS CrossSiteSite ('DomainName', 'CrossDomain', 'Permission', 'PathWild')",
      "CREATE INDEX IF NOT EXISTS CrossSiteSiteIndex ON CrossSiteSite ('DomainName', 'CrossDomain', 'Permission', "
      "'PathWild')",
  };
  return statements;
}
