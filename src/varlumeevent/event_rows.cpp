// Running SQL texts on the event databases and collecting their result rows
// for the handler that ran them; the slot set-up with the privileged tables.
#include <algorithm>
#include <memory>

#include "foundation/query_string.h"
#include "foundation/strings.h"
#include "foundation/url_escape.h"
#include "platform/files.h"
#include "serviceframework/diagnostic_output.h"
#include "serviceframework/service_settings.h"
#include "varlumeevent/event_handler.h"
#include "varlumeevent/event_schema.h"

namespace {

bool slotsInitialised = false;

// SQLite hands the running handler back as the callback's user data.
int slotRowCallback(void* handler, int argc, char** values, char** names) {
  return static_cast<VLEventHandler*>(handler)->rowCallback(argc, values, names);
}

// urlEncode of a column value, into a buffer of the size the value needs
// (its escaped form is at most three bytes a byte) and never more than the
// 65,536 bytes urlEncode uses: the same text without zero-filling 64 KB for
// every column of every row.
std::string encodedColumn(const std::string& value) {
  constexpr std::size_t kMaxEncoded = 65536;
  const std::size_t size = std::min(kMaxEncoded, 3 * value.size() + 3);
  std::vector<char> buffer(size);
  urlEncodeInto(value.c_str(), buffer.data(), buffer.size());
  return std::string(buffer.data());
}

struct MessageFree {
  void operator()(char* text) const { sqlite3_free(text); }
};

}  // namespace

void VLEventHandler::initSlot(int i) {
  if (!slotsInitialised) {
    const std::string folder = privilegedDataDirectory();
    std::string path = folder;
    ensureTrailingSlash(path);
    path += "EventDatabase.db";
    // Never through a link: the tables would be made in another folder's file.
    if (platform::isLinkFreeBelow(storageRoot, path)) {
      std::string message;
      directory.makePath(folder, 0777, message);
      if (privilegedDatabase.open(path)) createPrivilegedTables();
      privilegedDatabase.close();
    }
  }
  slotIndex = i;
  slotsInitialised = true;
}

std::string VLEventHandler::executeStatements(VLEventConnection& connection,
                                              const std::vector<std::string>& statements, int* failure) {
  if (failure != nullptr) *failure = SQLITE_OK;
  rowCount = 0;
  rowXml.clear();
  if (statements.empty()) return std::string();
  mLineResults.clear();
  std::string result;
  for (const std::string& statement : statements) {
    rowCount = 0;
    rowXml.clear();
    writeDiagnosticLine(statement);
    if (statement.empty()) continue;
    char* rawMessage = nullptr;
    const int code = connection.isOpen()
                         ? sqlite3_exec(connection.handle(), statement.c_str(), slotRowCallback, this, &rawMessage)
                         : SQLITE_MISUSE;
    std::unique_ptr<char, MessageFree> message(rawMessage);
    if (code != SQLITE_OK) {
      writeDiagnosticLine(std::to_string(code) + " " +
                          (message ? std::string(message.get()) : std::string(sqlite3_errstr(code))));
      if (failure != nullptr && *failure == SQLITE_OK) *failure = code;
    }
    result += rowXml;
  }
  return result;
}

int VLEventHandler::rowCallback(int argc, char** values, char** names) {
  std::string xml = "<Row>";
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string name = names != nullptr && names[i] != nullptr ? names[i] : "";
    const std::string value = values != nullptr && values[i] != nullptr ? values[i] : "";
    xml += "<Column Name=" + name + ">" + encodedColumn(value) + "</Column>";
    if (i > 0) line += '&';
    line += name + "=" + value;
  }
  mLineResults.push_back(line);
  xml += "</Row>";
  rowXml += xml;
  ++rowCount;
  return 0;
}

int VLEventHandler::visitRows(VLEventConnection& connection, const std::string& query, const RowVisitor& visit) {
  writeDiagnosticLine(query);
  if (query.empty()) return 0;
  auto report = [](int code, const char* text) {
    writeDiagnosticLine(std::to_string(code) + " " + (text != nullptr ? text : sqlite3_errstr(code)));
  };
  if (!connection.isOpen()) {
    report(SQLITE_MISUSE, nullptr);
    return 0;
  }
  sqlite3_stmt* raw = nullptr;
  if (const int code = sqlite3_prepare_v2(connection.handle(), query.c_str(), -1, &raw, nullptr); code != SQLITE_OK) {
    report(code, sqlite3_errmsg(connection.handle()));
    sqlite3_finalize(raw);
    return 0;
  }
  std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  int rows = 0;
  std::vector<std::string> values;
  std::string line;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(statement.get())) == SQLITE_ROW) {
    values.clear();
    line.clear();
    const int columns = sqlite3_column_count(statement.get());
    for (int i = 0; i < columns; ++i) {
      const char* name = sqlite3_column_name(statement.get(), i);
      const unsigned char* text = sqlite3_column_text(statement.get(), i);
      values.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
      if (i > 0) line += '&';
      line += (name != nullptr ? name : "") + std::string("=") + values.back();
    }
    ++rows;
    if (!visit(values, line)) return rows;
  }
  if (step != SQLITE_DONE) report(step, sqlite3_errmsg(connection.handle()));
  return rows;
}

std::string VLEventHandler::rowField(const std::string& name, const std::string& line) {
  return queryValue(name, line);
}

void VLEventHandler::createDomainTables() { executeStatements(domainDatabase, domainStatements()); }

void VLEventHandler::createPrivilegedTables() { executeStatements(privilegedDatabase, privilegedStatements()); }
