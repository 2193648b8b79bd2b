#include "support/event_service.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/proxy_process.h"

namespace eventtest {

namespace {

Rows schemaTexts(const std::vector<std::pair<const char*, const char*>>& objects) {
  Rows rows;
  for (const auto& [name, sql] : objects) rows.push_back({name, sql});
  return rows;
}

}  // namespace

std::string errorBody(int code, const std::string& reason) {
  return "<Varlume><ErrorCode>" + std::to_string(code) + "</ErrorCode><ErrorReason>" + reason +
         "</ErrorReason><VarlumeEvent></VarlumeEvent></Varlume>";
}

bool readRows(const std::string& path, const std::string& sql, Rows& rows) {
  rows.clear();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 5000);
  sqlite3_stmt* statement = nullptr;
  bool ok = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK;
  while (ok) {
    const int step = sqlite3_step(statement);
    if (step == SQLITE_DONE) break;
    if (step != SQLITE_ROW) {
      ok = false;
      break;
    }
    std::vector<std::string> row;
    for (int i = 0; i < sqlite3_column_count(statement); ++i) {
      const unsigned char* text = sqlite3_column_text(statement, i);
      row.push_back(text ? std::string(reinterpret_cast<const char*>(text),
                                       static_cast<std::size_t>(sqlite3_column_bytes(statement, i)))
                         : std::string("<null>"));
    }
    rows.push_back(row);
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return ok;
}

bool executeSql(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  sqlite3_busy_timeout(db, 5000);
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

bool writeDatabase(const std::string& path, const std::string& sql) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return false;
  }
  char* message = nullptr;
  const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
  if (!ok) ADD_FAILURE() << path << ": " << (message ? message : "") << "\n" << sql;
  sqlite3_free(message);
  sqlite3_close(db);
  return ok;
}

long peakResidentKb(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return 0;
}

Rows rowsOf(const std::string& path, const std::string& sql) {
  Rows rows;
  EXPECT_TRUE(readRows(path, sql, rows)) << path << ": " << sql;
  return rows;
}

Rows schemaOf(const std::string& path) { return rowsOf(path, "SELECT name, sql FROM sqlite_master ORDER BY rowid"); }

Rows domainSchema() {
  return schemaTexts({
      {"WebDrive",
       "CREATE TABLE WebDrive ('LocalDir', 'Check', 'CheckParams', 'Up', 'UpParams', 'UpTransferEncoding', 'Down', "
       "'DownParams', 'Delete', 'DeleteParams', 'IntervalSeconds')"},
      {"WebDriveIndex", "CREATE UNIQUE INDEX WebDriveIndex ON WebDrive ('LocalDir')"},
      {"DragDropWeb", "CREATE TABLE DragDropWeb ('LocalDir', 'Action', 'ActionParams', 'ActionSequence')"},
      {"DragDropWebInclude", "CREATE TABLE DragDropWebInclude ('LocalDir', 'FileExtension')"},
      {"WebDriveShare", "CREATE TABLE WebDriveShare ('LocalDir', 'Group', 'User', 'Permission')"},
      {"WebDriveFiles",
       "CREATE TABLE WebDriveFiles ('LocalDir', 'Filename', 'RemoteVersion', 'LocalBaseVersion', "
       "'LocalModifiedTime')"},
      {"WebDriveFilesUniqueIndex", "CREATE UNIQUE INDEX WebDriveFilesUniqueIndex On WebDriveFiles ('LocalDir', 'Filename')"},
      {"WebDriveFilesIndex",
       "CREATE INDEX WebDriveFilesIndex ON WebDriveFiles ('LocalDir', 'Filename', 'RemoteVersion', "
       "'LocalBaseVersion', 'LocalModifiedTime')"},
      {"ServerEvent", "CREATE TABLE ServerEvent ('Path', 'Event', 'Action', 'ActionParams')"},
      {"ServerEventIndex", "CREATE UNIQUE INDEX ServerEventIndex ON ServerEvent ('Path', 'Event')"},
  });
}

std::string domainSchemaSql(const std::vector<std::string>& leftOut) {
  std::string sql;
  for (const auto& object : domainSchema()) {
    if (std::find(leftOut.begin(), leftOut.end(), object[0]) != leftOut.end()) continue;
    sql += object[1] + ";\n";
  }
  return sql;
}

Rows privilegedSchema() {
  return schemaTexts({
      {"CrossSiteUser", "CREATE TABLE CrossSiteUser ('DomainName', 'CrossDomain', 'Permission')"},
      {"CrossSiteUserUniqueIndex",
       "CREATE UNIQUE INDEX CrossSiteUserUniqueIndex ON CrossSiteUser ('DomainName', 'CrossDomain')"},
      {"CrossSiteUserIndex",
       "CREATE INDEX CrossSiteUserIndex ON CrossSiteUser ('DomainName', 'CrossDomain', 'Permission')"},
      {"CrossSiteSite", "CREATE TABLE CrossSiteSite ('DomainName', 'CrossDomain', 'Permission', 'PathWild')"},
      {"CrossSiteSiteIndex",
       "CREATE INDEX CrossSiteSiteIndex ON CrossSiteSite ('DomainName', 'CrossDomain', 'Permission', 'PathWild')"},
  });
}

bool exchange(int port, const std::string& request, HttpResponse& response) {
  testsupport::LoopbackClient client(port);
  if (!client.connected() || !client.send(request)) return false;
  return client.readResponse(response, request.compare(0, 5, "HEAD ") == 0, 10000);
}

bool VLEventService::start(const std::vector<std::string>& arguments) {
  base = proxytest::freeServicesBase({3});
  if (base <= 0) return false;
  port = base + 3;
  return service.start(box, "varlumeevent", base, port, arguments);
}

HttpResponse VLEventService::get(const std::string& target, const char* host, const std::string& headers) {
  std::string request = "GET " + target + " HTTP/1.1\r\n";
  if (host != nullptr) request += std::string("Host: ") + host + "\r\n";
  request += headers + "\r\n";
  HttpResponse response;
  EXPECT_TRUE(exchange(port, request, response)) << target;
  return response;
}

HttpResponse VLEventService::post(const std::string& path, const std::string& body, const char* host,
                                  const std::string& headers) {
  const std::string request = "POST " + path + " HTTP/1.1\r\nHost: " + host +
                              "\r\nContent-Type: application/x-www-form-urlencoded\r\n" + headers +
                              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  HttpResponse response;
  EXPECT_TRUE(exchange(port, request, response)) << path << " " << body;
  return response;
}

std::string VLEventService::dataRoot() { return box.user(0).documents + "/Varlume"; }

std::string VLEventService::siteDatabase(const std::string& folder) {
  return dataRoot() + "/" + folder + "/EventDatabase.db";
}

std::string VLEventService::dataRootAsShown() { return sandbox::programsForm(dataRoot()) + "\\"; }

}  // namespace eventtest
