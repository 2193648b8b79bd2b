// Who may run a file service command: the privileged host's own commands
// and its changing ones, by the facts of the request.
#include <gtest/gtest.h>

#include <ostream>

#include "varlumefile/command_gate.h"

namespace {

constexpr VLCommandKind kReads{};
constexpr VLCommandKind kChanges{false, true};
constexpr VLCommandKind kPrivilegedRead{true, false};
constexpr VLCommandKind kSettings{true, true};

struct GateCase {
  const char* name;
  VLCommandKind command;
  VLCommandCaller caller;  // privileged host, its folder, page script, another site's page
  VLCommandDecision decision;
};

void PrintTo(const GateCase& c, std::ostream* os) { *os << c.name; }

class CommandGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(CommandGate, Decides) {
  EXPECT_EQ(decideCommand(GetParam().command, GetParam().caller), GetParam().decision);
}

const GateCase kGateCases[] = {
    {"ASiteReads", kReads, {false, false, false, false}, VLCommandDecision::Run},
    {"ASiteChangesItsOwnFiles", kChanges, {false, false, false, false}, VLCommandDecision::Run},
    {"ThePrivilegedHostReadsByNavigation", kReads, {true, true, false, false}, VLCommandDecision::Run},
    {"ASiteListsNoCache", kPrivilegedRead, {false, false, true, false}, VLCommandDecision::NotPrivilegedHost},
    {"ASiteSetsNoProxy", kSettings, {false, false, true, false}, VLCommandDecision::NotPrivilegedHost},
    {"TheCacheListingByNavigation", kPrivilegedRead, {true, true, false, false}, VLCommandDecision::NotPageScript},
    {"TheCacheListingByScript", kPrivilegedRead, {true, true, true, false}, VLCommandDecision::Run},
    {"APrivilegedFileChangedByNavigation", kChanges, {true, true, false, false}, VLCommandDecision::NotPageScript},
    {"APrivilegedFileChangedByScript", kChanges, {true, true, true, false}, VLCommandDecision::Run},
    {"TheSettingsByNavigation", kSettings, {true, true, false, false}, VLCommandDecision::NotPageScript},
    {"TheSettingsByScript", kSettings, {true, true, true, false}, VLCommandDecision::Run},
    {"TheSettingsFromAnotherSitesPage", kSettings, {true, true, true, true}, VLCommandDecision::OtherSitePage},
    {"APrivilegedFileFromAnotherSitesPage", kChanges, {true, true, true, true}, VLCommandDecision::OtherSitePage},
    {"ThePrivilegedHostReadsFromAnotherSitesPage", kReads, {true, true, false, true}, VLCommandDecision::Run},
    {"TheFolderByAnEscapedHostByNavigation", kChanges, {false, true, false, false}, VLCommandDecision::NotPageScript},
    {"TheFolderByAnEscapedHostByScript", kChanges, {false, true, true, false}, VLCommandDecision::Run},
    {"NoSettingsByAnEscapedHost", kSettings, {false, true, true, false}, VLCommandDecision::NotPrivilegedHost},
};

INSTANTIATE_TEST_SUITE_P(Cases, CommandGate, ::testing::ValuesIn(kGateCases),
                         [](const ::testing::TestParamInfo<GateCase>& info) { return std::string(info.param.name); });

}  // namespace
