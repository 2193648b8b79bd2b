// Cross-site permissions over HTTP: the four privileged commands and what
// they store or refuse, and the permission levels as the commands that
// consult them see them (a server event refused at 0, an upload stored only
// at 3), https URLs included.
#include <gtest/gtest.h>

#include <string>

#include "support/event_service.h"

namespace {

using eventtest::errorBody;
using eventtest::kOk;
using eventtest::Rows;

constexpr char kUserNotSaved[] =
    "One or more of Domain, CrossDomain or Permission are blank or invalid. User cross-site scripting permissions "
    "not saved.";
constexpr char kUserNotUpdated[] =
    "One or more of Domain, CrossDomain or Permission are blank or invalid. User cross-site scripting permissions "
    "not updated.";
constexpr char kSiteNotSaved[] =
    "One or more of Domain, CrossDomain, Permission or Path are blank or invalid. Site cross-site scripting "
    "permissions not saved.";
constexpr char kSiteNotDeleted[] =
    "One or more of Domain or CrossDomain are blank or invalid. User cross-site scripting permissions not updated.";
constexpr char kUploadRefused[] =
    "User ALWAYS permission required to support cross site scripted DragDropWeb. Parameter=ActionParams.  "
    "DragDropWeb not created.";

class EventCrossSite : public eventtest::VLEventService {
 protected:
  Rows users() { return eventtest::rowsOf(privilegedDatabase(), "SELECT * FROM CrossSiteUser ORDER BY rowid"); }
  Rows sites() { return eventtest::rowsOf(privilegedDatabase(), "SELECT * FROM CrossSiteSite ORDER BY rowid"); }
  void grant(const std::string& query) { ASSERT_EQ(privileged(query).body, kOk) << query; }

  // The level site.example has for `url`, as the commands tell it apart:
  // 0 (a server event refused), 3 (an upload stored) or 1 for the rest.
  int level(const std::string& url) {
    const bool eventStored = get("/ADDSERVEREVENT?Path=/probe&Event=NOWEB&Action=/VARLUME/WEB" + url).body == kOk;
    get("/DELETESERVEREVENT?Path=/probe");
    const std::string upload = get("/ADDDRAGDROPWEB?Path=/probe&Action=upload&ActionParams=" + url).body;
    get("/DELETEDRAGDROPWEB?Path=/probe");
    EXPECT_TRUE(upload == kOk || upload == errorBody(3000, kUploadRefused)) << upload;
    if (!eventStored) {
      EXPECT_NE(upload, kOk) << url;
      return 0;
    }
    return upload == kOk ? 3 : 1;
  }
};

TEST_F(EventCrossSite, UserCommandsStoreOrRefuse) {
  const struct {
    const char* query;
    const char* body;
  } adds[] = {
      {"Domain=site.example&CrossDomain=a.example&Permission=3x", kOk},
      {"Domain=site.example&CrossDomain=b.example&Permission=abc", kOk},
      {"Domain=%20Site.Example%20&CrossDomain=c.example&Permission=%202", kOk},  // "%202" reads as 0
      {"Domain=site.example&CrossDomain=a.example&Permission=1", kOk},  // the pair exists: unchanged
      {"Domain=x&CrossDomain=x&Permission=1", nullptr},
      {"Domain=x&CrossDomain=y&Permission=4", nullptr},
      {"Domain=x&CrossDomain=y&Permission=-1", nullptr},
      {"Domain=x&CrossDomain=y&Permission=4294967299", nullptr},
      {"Domain=x&CrossDomain=y", nullptr},
      {"Domain=x&Permission=1", nullptr},
      {"CrossDomain=b&Domain=a&Permission=1", nullptr},  // "Domain=" is found inside "CrossDomain="
  };
  for (const auto& c : adds) {
    EXPECT_EQ(privileged(std::string("/ADDCROSSSITEUSER?") + c.query).body,
              c.body ? std::string(c.body) : errorBody(3030, kUserNotSaved))
        << c.query;
  }
  EXPECT_EQ(users(), (Rows{{"site.example", "a.example", "3"},
                           {"site.example", "b.example", "0"},
                           {"%20Site.Example%20", "c.example", "0"}}));

  EXPECT_EQ(privileged("/UPDATECROSSSITEUSER?Domain=site.example&CrossDomain=a.example&Permission=02").body, kOk);
  EXPECT_EQ(privileged("/UPDATECROSSSITEUSER?Domain=site.example&CrossDomain=none&Permission=1").body, kOk);
  for (const char* query : {"Domain=site.example&CrossDomain=a.example&Permission=9",
                            "Domain=site.example&CrossDomain=a.example&Permission=4294967299",
                            "Domain=a&CrossDomain=a&Permission=1", "Domain=site.example&CrossDomain=a.example"}) {
    EXPECT_EQ(privileged(std::string("/UPDATECROSSSITEUSER?") + query).body, errorBody(3030, kUserNotUpdated))
        << query;
  }
  EXPECT_EQ(users()[0], (std::vector<std::string>{"site.example", "a.example", "02"}));
  EXPECT_EQ(users().size(), 3u);
}

TEST_F(EventCrossSite, SiteCommandsStoreOrRefuse) {
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=a.example&Permission=deny&Path=/x*");
  grant("/ADDCROSSSITESITE?Domain=same&CrossDomain=same&Permission=Allow&Path=/a/../b");
  for (const char* query : {"Domain=a&CrossDomain=b&Permission=MAYBE&Path=*", "Domain=a&CrossDomain=b&Permission=ALLOW",
                            "Domain=a&Permission=ALLOW&Path=*", "CrossDomain=&Permission=DENY&Path=*"}) {
    EXPECT_EQ(privileged(std::string("/ADDCROSSSITESITE?") + query).body, errorBody(3030, kSiteNotSaved)) << query;
  }
  EXPECT_EQ(sites(), (Rows{{"site.example", "a.example", "DENY", "/x*"}, {"same", "same", "ALLOW", "/a/../b"}}));

  EXPECT_EQ(privileged("/DELETECROSSSITESITE?Domain=same&CrossDomain=same").body, errorBody(3030, kSiteNotDeleted));
  EXPECT_EQ(privileged("/DELETECROSSSITESITE?Domain=site.example").body, errorBody(3030, kSiteNotDeleted));
  EXPECT_EQ(privileged("/DELETECROSSSITESITE?Domain=site.example&CrossDomain=a.example").body, kOk);
  EXPECT_EQ(sites(), (Rows{{"same", "same", "ALLOW", "/a/../b"}}));
}

TEST_F(EventCrossSite, LevelsAsTheCommandsSeeThem) {
  // Without rows, own and relative URLs are ALWAYS, another site's gets 1.
  EXPECT_EQ(level(""), 3);
  EXPECT_EQ(level("/relative"), 3);
  EXPECT_EQ(level("http://SITE.example/x"), 3);
  EXPECT_EQ(level("https://site.EXAMPLE"), 3);
  EXPECT_EQ(level("http://other.example/x"), 1);

  // A stored 0 refuses only with a DENY row of the pair.
  grant("/ADDCROSSSITEUSER?Domain=site.example&CrossDomain=zero.example&Permission=0");
  EXPECT_EQ(level("http://zero.example/x"), 1);
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=zero.example&Permission=DENY&Path=/elsewhere");
  EXPECT_EQ(level("http://zero.example/x"), 0);
  EXPECT_EQ(level("https://zero.example/x"), 0);
  EXPECT_EQ(level("HTTPS://zero.example"), 0);

  // DENY "*" with ALLOW "/open*": the stored level on /open..., 0 elsewhere.
  grant("/ADDCROSSSITEUSER?Domain=site.example&CrossDomain=three.example&Permission=3");
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=three.example&Permission=DENY&Path=*");
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=three.example&Permission=ALLOW&Path=/open*");
  EXPECT_EQ(level("http://three.example/open/file?x=1"), 3);
  EXPECT_EQ(level("https://three.example/opening"), 3);
  EXPECT_EQ(level("http://three.example/closed"), 0);
  EXPECT_EQ(level("http://three.example?open"), 0);  // the path is "/"

  grant("/ADDCROSSSITEUSER?Domain=site.example&CrossDomain=two.example&Permission=2");
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=two.example&Permission=DENY&Path=/a*");
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=two.example&Permission=ALLOW&Path=/a/b");
  EXPECT_EQ(level("http://two.example/a/b"), 1);  // level 2: passes events, fails ALWAYS
  EXPECT_EQ(level("http://two.example/a/c"), 0);
  EXPECT_EQ(level("http://two.example/b"), 1);  // no DENY covers it

  // A level text beyond the int range never reads as ALWAYS.
  grant("/ADDCROSSSITEUSER?Domain=site.example&CrossDomain=big.example&Permission=3");
  grant("/UPDATECROSSSITEUSER?Domain=site.example&CrossDomain=big.example&Permission=3");
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=big.example&Permission=DENY&Path=*");
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=big.example&Permission=ALLOW&Path=*");
  EXPECT_EQ(level("http://big.example/x"), 3);

  // Rows stored with capitals are never found.
  grant("/ADDCROSSSITEUSER?Domain=site.example&CrossDomain=Upper.example&Permission=0");
  grant("/ADDCROSSSITESITE?Domain=site.example&CrossDomain=Upper.example&Permission=DENY&Path=*");
  EXPECT_EQ(level("http://upper.example/x"), 1);
}

TEST_F(EventCrossSite, APathWildCannotPoseAsTheLevel) {
  grant("/ADDCROSSSITEUSER?Domain=site.example&CrossDomain=w.example&Permission=1");
  // No request can store an "&"; a database a page replaced can hold one.
  ASSERT_TRUE(eventtest::executeSql(privilegedDatabase(),
                                    "INSERT INTO CrossSiteSite VALUES ('site.example', 'w.example', 'DENY', "
                                    "'*&Permission=3'), ('site.example', 'w.example', 'ALLOW', '*&Permission=3')"));
  EXPECT_EQ(level("http://w.example/x"), 1);
}

}  // namespace
