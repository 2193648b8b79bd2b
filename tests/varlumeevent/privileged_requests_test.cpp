// Which requests of the privileged host the event service answers: only its
// pages' script's, but for the look-up, which makes and changes nothing.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "varlumeevent/privileged_requests.h"

namespace {

struct RequestCase {
  const char* name;
  const char* host;
  const char* command;
  bool pageScript;
  bool refused;
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class PrivilegedRequests : public ::testing::TestWithParam<RequestCase> {};

TEST_P(PrivilegedRequests, Decides) {
  const RequestCase& c = GetParam();
  EXPECT_EQ(privilegedRequestRefused(c.host, c.command, c.pageScript), c.refused);
}

const RequestCase kRequestCases[] = {
    {"AGrantByNavigation", "varlume.internal", "/ADDCROSSSITEUSER", false, true},
    {"AGrantByScript", "varlume.internal", "/ADDCROSSSITEUSER", true, false},
    {"AnUpdateByNavigation", "varlume.internal", "/UPDATECROSSSITEUSER", false, true},
    {"APatternByNavigation", "varlume.internal", "/ADDCROSSSITESITE", false, true},
    {"APatternRemovedByNavigation", "varlume.internal", "/DELETECROSSSITESITE", false, true},
    {"AnEventOfThePrivilegedDatabaseByNavigation", "varlume.internal", "/ADDSERVEREVENT", false, true},
    {"AWebDriveOfThePrivilegedDatabaseByNavigation", "varlume.internal", "/ADDWEBDRIVE", false, true},
    {"TheVersionByNavigationWouldMakeTables", "varlume.internal", "/GETVERSION", false, true},
    {"TheLookUpByNavigation", "varlume.internal", "/GETEVENT", false, false},
    {"AnUnknownPathByNavigation", "varlume.internal", "/X", false, true},
    {"ASiteAddsItsEvent", "site.example", "/ADDSERVEREVENT", false, false},
    {"ASiteAsksAGrant", "site.example", "/ADDCROSSSITEUSER", false, false},
    {"AnEscapedPrivilegedHostByNavigation", "varlume%2Einternal", "/ADDSERVEREVENT", false, true},
    {"APrivilegedLookAlike", "varlume.internal.example", "/ADDSERVEREVENT", false, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, PrivilegedRequests, ::testing::ValuesIn(kRequestCases),
                         [](const ::testing::TestParamInfo<RequestCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
