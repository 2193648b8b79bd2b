// The real varlumeevent for the system tests: a fixture that starts it in a
// sandbox on a free services base port and talks to it over loopback, the
// envelopes it answers with, and the rows of its databases read back through
// SQLite's own API.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/loopback_client.h"
#include "support/sandbox.h"
#include "support/script_line.h"
#include "support/service_process.h"

namespace eventtest {

using testsupport::HttpResponse;
using Rows = std::vector<std::vector<std::string>>;

inline constexpr char kOk[] =
    "<Varlume><ErrorCode> 0 </ErrorCode><ErrorReason>Success</ErrorReason><VarlumeEvent></VarlumeEvent></Varlume>";
inline constexpr char kUnknown[] =
    "<Varlume><ErrorCode>1</ErrorCode><ErrorReason>Command not recognised by varlumeevent.</ErrorReason>"
    "<VarlumeEvent></VarlumeEvent></Varlume>";
inline constexpr char kNoEventHead[] = "HTTP/1.1 500 Internal server error\r\n";
using servicetest::kScriptLine;

std::string errorBody(int code, const std::string& reason);

// The rows `sql` gives on the database file at `path` (system form); false
// when the file cannot be opened read-only or the query fails.
bool readRows(const std::string& path, const std::string& sql, Rows& rows);
Rows rowsOf(const std::string& path, const std::string& sql);
// Runs `sql` on the database file at `path` (system form).
bool executeSql(const std::string& path, const std::string& sql);
// name and sql of every object in sqlite_master, in creation order.
Rows schemaOf(const std::string& path);
// A new database file at `path` (system form; any file there is replaced)
// made by running `sql` on it.
bool writeDatabase(const std::string& path, const std::string& sql);
// The most memory the process has had resident so far, in KB (0 when it
// cannot be read).
long peakResidentKb(int pid);

// The statements the schema keeps, in creation order: the created texts
// without "IF NOT EXISTS".
Rows domainSchema();
Rows privilegedSchema();
// The statements that make the site schema, joined into one SQL text,
// without the objects named in `left out`.
std::string domainSchemaSql(const std::vector<std::string>& leftOut = {});

// A request of raw bytes on a new connection; false when no answer came.
bool exchange(int port, const std::string& request, HttpResponse& response);

class VLEventService : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(start()); }

  bool start(const std::vector<std::string>& arguments = {});
  // "GET <target>" with a Host line (none when host is null) and `headers`.
  HttpResponse get(const std::string& target, const char* host = "site.example", const std::string& headers = "");
  // A form POST of `body` to `path`, with `headers`.
  HttpResponse post(const std::string& path, const std::string& body, const char* host = "site.example",
                    const std::string& headers = "");
  // A command of the privileged host as its pages' script sends it.
  HttpResponse privileged(const std::string& target) { return get(target, "varlume.internal", kScriptLine); }
  HttpResponse privilegedPost(const std::string& path, const std::string& body) {
    return post(path, body, "varlume.internal", kScriptLine);
  }

  // System paths under the sandbox's data root.
  std::string dataRoot();
  std::string siteDatabase(const std::string& folder = "site.example");
  std::string privilegedDatabase() { return siteDatabase("varlume.internal"); }
  // The data root in the service's own "\" form, ending "\".
  std::string dataRootAsShown();

  sandbox::VLSandbox box;
  servicetest::VLServiceProcess service;
  int base = 0;
  int port = 0;
};

}  // namespace eventtest
