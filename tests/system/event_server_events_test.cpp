// Server events over HTTP: what /ADDSERVEREVENT stores and refuses, what
// /DELETESERVEREVENT removes, and the /GETEVENT answer the proxy reads: the
// row rules, the target, decoded parameters and no control byte.
#include <gtest/gtest.h>

#include <string>

#include "support/event_service.h"

namespace {

using eventtest::errorBody;
using eventtest::HttpResponse;
using eventtest::kOk;
using eventtest::Rows;

constexpr char kEventRefused[] = "Event parameter is blank or invalid. Server event not installed.";
constexpr char kActionRefused[] =
    "Action parameter is blank or invalid or cross site scripting is not permitted for the target of Action. "
    "Server event not installed.";

class EventServerEvents : public eventtest::VLEventService {
 protected:
  void add(const std::string& query) { ASSERT_EQ(get("/ADDSERVEREVENT?" + query).body, kOk) << query; }
  // The body of a 200 answer, or "500" for the empty 500 answer.
  std::string lookUp(const std::string& path, const std::string& event = "NOWEB") {
    const HttpResponse response = get("/GETEVENT?Path=" + path + "&Event=" + event);
    if (response.head.compare(0, 36, eventtest::kNoEventHead) == 0) {
      EXPECT_EQ(response.body, "");
      EXPECT_NE(response.head.find("\r\nContent-Type: text/plain\r\n"), std::string::npos);
      return "500";
    }
    EXPECT_EQ(response.head.compare(0, 22, "HTTP/1.1 200 Success\r\n"), 0) << response.head;
    EXPECT_NE(response.head.find("\r\nContent-Type: text/plain\r\n"), std::string::npos);
    return response.body;
  }
  Rows events() { return eventtest::rowsOf(siteDatabase(), "SELECT * FROM ServerEvent ORDER BY rowid"); }
};

TEST_F(EventServerEvents, StoresTrimmedCleanedValues) {
  add("Path=%20/a/../b%20&Event=NOWEB&Action=/varlume/web/site.example/x&ActionParams=a%3D1");
  post("/ADDSERVEREVENT", "Path=\t/c//d \r\n&Event= nocrossscript &Action= /t* &ActionParams= ");
  EXPECT_EQ(events(), (Rows{{"%20/ab%20", "NOWEB", "/varlume/web/site.example/x", "a%3D1"},
                            {"/cd", "nocrossscript", "/t*", ""}}));
  // A second add of the same Path and Event answers OK and keeps the first row.
  add("Path=/cd&Event=nocrossscript&Action=/other");
  EXPECT_EQ(events().size(), 2u);
  EXPECT_EQ(events()[1][2], "/t*");
}

TEST_F(EventServerEvents, RefusalsStoreNothing) {
  const struct {
    const char* query;
    const char* reason;
  } cases[] = {
      {"Path=/a&Action=/t", kEventRefused},
      {"Path=/a&Event=NOWEB", kActionRefused},
      {"Path=/a&Event=NOWEB&Action=http://other.example/x", kActionRefused},
      {"Path=/a&Event=NOWEB&Action=hTtP://site.example/x", kActionRefused},
      {"Path=/a&Action=http://other.example/x", kEventRefused},
  };
  get("/GETVERSION");
  for (const auto& c : cases) {
    EXPECT_EQ(get(std::string("/ADDSERVEREVENT?") + c.query).body, errorBody(3040, c.reason)) << c.query;
  }
  EXPECT_EQ(post("/ADDSERVEREVENT", "Path=/a&Event= \t\r\n&Action=/t").body, errorBody(3040, kEventRefused));
  EXPECT_EQ(errorBody(3040, kEventRefused).size(), 166u);
  // https Actions and short ones are accepted.
  add("Path=/h&Event=NOWEB&Action=https://other.example/x");
  add("Path=/s&Event=NOWEB&Action=/varlume/we");
  EXPECT_EQ(events().size(), 2u);
}

TEST_F(EventServerEvents, LooksUpExactStarAndPathStarRows) {
  EXPECT_EQ(lookUp("/a"), "500");  // no database yet
  add("Path=*&Event=NOWEB&Action=/star&ActionParams=s=1");
  EXPECT_EQ(lookUp("/anything"), "/star?s=1");
  EXPECT_EQ(lookUp("/anything", "noweb"), "500");
  EXPECT_EQ(lookUp("/anything", "NOCROSSSCRIPT"), "500");

  add("Path=/a*&Event=NOWEB&Action=/pathstar");
  EXPECT_EQ(lookUp("/a"), "/pathstar?");
  EXPECT_EQ(lookUp("/ab"), "/star?s=1");  // "/a*" is no prefix pattern

  add("Path=/a&Event=NOWEB&Action=/exact");
  const std::string both = lookUp("/a");
  EXPECT_TRUE(both == "/exact?" || both == "/pathstar?") << both;  // equal lengths: the first returned

  add("Path=/x&Event=NOCROSSSCRIPT&Action=/t/**&ActionParams=q%3D%2Fv");
  EXPECT_EQ(lookUp("/x", "NOCROSSSCRIPT"), "/t/x?q=/v");
  add("Path=/y&Event=NOWEB&Action=/t**");
  EXPECT_EQ(lookUp("/y"), "/t/y?");
  // The Path ends at the first "&" of the request; E is the first "Event=".
  EXPECT_EQ(lookUp("/y&q=1"), "/t/y?");
  EXPECT_EQ(get("/GETEVENT?Path=/y?Event=NOWEB&Event=other").body, "/star?s=1");
}

TEST_F(EventServerEvents, AnswersHoldNoControlByte) {
  add("Path=/n&Event=NOWEB&Action=/t&ActionParams=x%0D%0Ay%00z");
  EXPECT_EQ(lookUp("/n"), "/t?x%0D%0Ay%00z");
  post("/ADDSERVEREVENT", "Path=/r&Event=NOWEB&Action=/t\r\nInjected: 1\x01*&ActionParams=%0a%7f");
  EXPECT_EQ(lookUp("/r"), "/t%0D%0AInjected: 1%01/r?%0A%7F");
  for (const std::string& body : {lookUp("/n"), lookUp("/r")}) {
    for (char c : body) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) << body;
  }
}

TEST_F(EventServerEvents, DeletesByPathAndEvent) {
  add("Path=/a&Event=NOWEB&Action=/1");
  add("Path=/a&Event=NOCROSSSCRIPT&Action=/2");
  add("Path=/b&Event=NOWEB&Action=/3");
  add("Event=NOWEB&Action=/blank");
  EXPECT_EQ(get("/DELETESERVEREVENT?Path=/a/..&Event=NOCROSSSCRIPT").body, kOk);  // "/a/.." is "/a/"
  EXPECT_EQ(events().size(), 4u);
  EXPECT_EQ(get("/DELETESERVEREVENT?Path=/a&Event=NOCROSSSCRIPT").body, kOk);
  EXPECT_EQ(events().size(), 3u);
  EXPECT_EQ(get("/DELETESERVEREVENT?Path=/b").body, kOk);
  EXPECT_EQ(get("/DELETESERVEREVENT").body, kOk);
  EXPECT_EQ(events(), (Rows{{"/a", "NOWEB", "/1", ""}}));
}

}  // namespace
