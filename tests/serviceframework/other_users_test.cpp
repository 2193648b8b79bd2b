// The accept loop serves only this user: another user's connection is
// closed at once and never given a handler. Needs root to try.
#include <gtest/gtest.h>

#include <unistd.h>

#include "support/other_user.h"
#include "test_service.h"

namespace sftest {
namespace {

using testsupport::requestAsUser;

TEST(OtherUsers, TheAcceptLoopServesOnlyItsOwnUser) {
  if (!testsupport::canActAsOtherUser()) GTEST_SKIP() << "connecting as another user needs root";
  auto running = startServer<PageHandler>(2000);
  {
    // This user first, which also waits until the server listens.
    LoopbackClient own(running.port);
    ASSERT_TRUE(own.send(simpleGet("/x")));
    HttpResponse response;
    ASSERT_TRUE(own.readResponse(response));
  }
  EXPECT_EQ(requestAsUser(::geteuid(), running.port, simpleGet("/x")), 1);
  EXPECT_EQ(running.server->assigned().size(), 2u);
  EXPECT_EQ(requestAsUser(testsupport::kOtherUser, running.port, simpleGet("/x")), 0);
  EXPECT_EQ(running.server->assigned().size(), 2u);
}

}  // namespace
}  // namespace sftest
