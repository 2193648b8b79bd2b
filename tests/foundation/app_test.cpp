#include "foundation/app.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "eventually.h"
#include "foundation/object.h"
#include "platform/named_mutex.h"

namespace {

TEST(VLAppTest, FreshObjectAndAccessors) {
  VLApp app(3);
  EXPECT_EQ(app.getAppVersion(), "1.0");
  EXPECT_EQ(app.getAppName(), "");
  ASSERT_NE(app.mutexSet(), nullptr);
  EXPECT_EQ(app.mutexSet()->getCount(), 3);

  app.setAppName("varlume");
  app.setAppVersion("1.0.0, 2006-08-24");
  EXPECT_EQ(app.getAppName(), "varlume");
  EXPECT_EQ(app.getAppVersion(), "1.0.0, 2006-08-24");

  app.setLogLevel(app.getLogLevel() + 1);
  EXPECT_EQ(app.getLogLevel(), 0);
}

TEST(VLAppTest, GlobalObjectHoldsMutexesZeroOneTwo) {
  ASSERT_NE(vlApp.mutexSet(), nullptr);
  EXPECT_EQ(vlApp.mutexSet()->getCount(), 3);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(vlApp.mutexSet()->mutexAt(i), platform::openNamedMutex(std::to_string(i)));
  }
  // A set refused for its count still exists: lock answers 1 and does nothing.
  VLApp oversized(9);
  ASSERT_NE(oversized.mutexSet(), nullptr);
  EXPECT_EQ(oversized.lock(0), 1);
  EXPECT_EQ(oversized.unlock(0), 1);
}

// The holder may take a mutex again; each lock needs its own unlock before
// another thread gets it.
TEST(VLAppTest, LockIsReenteredByItsHolder) {
  auto reentered = std::make_shared<std::atomic<bool>>(false);
  std::thread holder([reentered] {
    vlApp.lock(0);
    vlApp.lock(0);
    *reentered = true;
    vlApp.unlock(0);
    vlApp.unlock(0);
  });
  holder.detach();  // a deadlock fails the bounded wait instead of hanging
  ASSERT_TRUE(eventually([&] { return reentered->load(); }));

  EXPECT_EQ(vlApp.lock(0), 1);
  EXPECT_EQ(vlApp.lock(0), 1);
  EXPECT_EQ(vlApp.unlock(0), 1);
  auto otherGotIt = std::make_shared<std::atomic<bool>>(false);
  std::thread other([otherGotIt] {
    vlApp.lock(0);
    *otherGotIt = true;
    vlApp.unlock(0);
  });
  other.detach();
  // Still held once by this thread: a second release is what lets the other in.
  EXPECT_TRUE(platform::unlockMutex(vlApp.mutexSet()->mutexAt(0)));
  ASSERT_TRUE(eventually([&] { return otherGotIt->load(); }));
}

TEST(VLAppTest, GuardHoldsTheMutexForItsScope) {
  platform::NamedMutex* mutex = vlApp.mutexSet()->mutexAt(1);
  {
    VLAppLock guard(1);
    // Held by this thread: releasing succeeds; take it back for the guard.
    EXPECT_TRUE(platform::unlockMutex(mutex));
    platform::lockMutex(mutex);
  }
  EXPECT_FALSE(platform::unlockMutex(mutex));
}

}  // namespace
