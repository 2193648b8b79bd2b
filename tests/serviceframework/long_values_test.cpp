// Long parameter values (longer than one 64 KiB piece) stay in the request's
// body file, yet every lookup gives what the rule of queryValue gives over the
// whole parameter text: form bodies and multipart fields, keys across piece
// edges, keys inside long values, NUL ends, and long values with "&" inside.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/query_string.h"
#include "test_service.h"

namespace sftest {
namespace {

const std::string kBoundary = "----VLLongValues";

struct LongCase {
  const char* name;
  std::string query;
  std::string body;  // a form body, or the multipart fields below
  std::vector<std::pair<std::string, std::string>> fields;
  std::vector<std::string> keys;
};

std::string run(std::size_t length, char c) { return std::string(length, c); }

// The text the parameters stand for: the query, then the body up to its
// first NUL or the fields' pairs.
std::string wholeText(const LongCase& c) {
  std::string text = c.query;
  auto add = [&](const std::string& part) {
    if (part.empty()) return;
    if (!text.empty()) text += '&';
    text += part;
  };
  if (c.fields.empty()) {
    add(c.body.substr(0, c.body.find('\0')));
  } else {
    for (const auto& [name, value] : c.fields) add(name + "=" + value.substr(0, value.find('\0')));
  }
  return text;
}

std::string requestFor(const LongCase& c) {
  std::string target = "/look/";
  for (const std::string& key : c.keys) target += (target.size() > 6 ? "," : "") + key;
  if (!c.query.empty()) target += "?" + c.query;
  std::string head = "POST " + target + " HTTP/1.1\r\nHost: site.example\r\n";
  std::string body = c.body;
  if (!c.fields.empty()) {
    head += "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n";
    for (const auto& [name, value] : c.fields) {
      body += "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
    }
    body += "--" + kBoundary + "--\r\n";
  }
  return head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

TEST(LongValues, LookUpsSeeTheWholeText) {
  const std::size_t piece = 65536;
  const std::vector<LongCase> cases = {
      {"a long value between short ones", "q=1", "Path=p&Data=" + run(200000, 'd') + "&Encoding=x", {},
       {"q", "Path", "Data", "Encoding", "Missing"}},
      {"the query wins over the body", "Data=short", "Data=" + run(100000, 'd'), {}, {"Data"}},
      {"a key inside a long value is found there",
       "", "A=" + run(100000, 'x') + "Key=inner" + run(100000, 'y') + "&Key=outer", {}, {"Key", "A"}},
      {"a key across a piece edge", "", "A=" + run(piece - 5, 'x') + "Needle=found&B=" + run(piece * 2, 'b'), {},
       {"Needle", "A", "B"}},
      {"a long value ends at the first NUL", "", "D=" + run(100000, 'd') + std::string(1, '\0') + "&E=1", {},
       {"D", "E"}},
      {"a long pair without an early =", "", run(100000, 'k') + "=v&X=1", {}, {"X", "k"}},
      {"a long value at the end", "", "Z=" + run(300000, 'z'), {}, {"Z"}},
      {"an empty long key", "", "=" + run(70000, 'e') + "&F=2", {}, {"F"}},
      {"multipart: a long field with & and = inside", "q=0", "",
       {{"note", run(100000, 'n') + "&Inner=1" + run(100000, 'i')}, {"after", "a"}},
       {"note", "Inner", "after", "q"}},
      {"multipart: a long field cut at its NUL", "", "",
       {{"cut", run(80000, 'c') + std::string(1, '\0') + "rest"}, {"next", "n"}}, {"cut", "next"}},
  };
  auto running = startServer<EchoHandler>(5000);
  for (const LongCase& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackClient client(running.port);
    HttpResponse response;
    ASSERT_TRUE(client.send(requestFor(c)));
    ASSERT_TRUE(client.readResponse(response, false, 20000));
    EchoReport report;
    ASSERT_TRUE(parseEcho(response.body, report));
    const std::string whole = wholeText(c);
    EXPECT_TRUE(report["params"] == whole) << "the whole text differs: " << report["params"].size() << " bytes, expected " << whole.size();
    for (const std::string& key : c.keys) {
      EXPECT_TRUE(report["value " + key] == queryValue(key, whole))
          << key << ": " << report["value " + key].size() << " bytes, expected " << queryValue(key, whole).size();
      EXPECT_EQ(report["looked up " + key], "same") << key;
    }
  }
  EXPECT_TRUE(tempFolderEmptied());
}

}  // namespace
}  // namespace sftest
