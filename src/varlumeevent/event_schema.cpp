#include "varlumeevent/event_schema.h"

#include <utility>

namespace {

// The objects the statements make, with the statements' "IF NOT EXISTS "
// left out as the catalogue keeps them; `names` pairs each statement's
// object with its table.
std::vector<VLSchemaObject> objectsOf(const std::vector<std::string>& statements,
                                      const std::vector<std::pair<const char*, const char*>>& names) {
  static const std::string kIfNotExists = "IF NOT EXISTS ";
  std::vector<VLSchemaObject> objects;
  for (std::size_t i = 0; i < statements.size() && i < names.size(); ++i) {
    std::string sql = statements[i];
    const std::size_t at = sql.find(kIfNotExists);
    if (at != std::string::npos) sql.erase(at, kIfNotExists.size());
    objects.push_back({names[i].first, names[i].second, sql});
  }
  return objects;
}

}  // namespace

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

const std::vector<VLSchemaObject>& domainObjects() {
  static const std::vector<VLSchemaObject> objects =
      objectsOf(domainStatements(), {{"WebDrive", "WebDrive"},
                                     {"WebDriveIndex", "WebDrive"},
                                     {"DragDropWeb", "DragDropWeb"},
                                     {"DragDropWebInclude", "DragDropWebInclude"},
                                     {"WebDriveShare", "WebDriveShare"},
                                     {"WebDriveFiles", "WebDriveFiles"},
                                     {"WebDriveFilesUniqueIndex", "WebDriveFiles"},
                                     {"WebDriveFilesIndex", "WebDriveFiles"},
                                     {"ServerEvent", "ServerEvent"},
                                     {"ServerEventIndex", "ServerEvent"}});
  return objects;
}

const std::vector<VLSchemaObject>& privilegedObjects() {
  static const std::vector<VLSchemaObject> objects =
      objectsOf(privilegedStatements(), {{"CrossSiteUser", "CrossSiteUser"},
                                         {"CrossSiteUserUniqueIndex", "CrossSiteUser"},
                                         {"CrossSiteUserIndex", "CrossSiteUser"},
                                         {"CrossSiteSite", "CrossSiteSite"},
                                         {"CrossSiteSiteIndex", "CrossSiteSite"}});
  return objects;
}
