#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "detached.h"

namespace {

TEST(NamedMutexTest, SameNameSameMutex) {
  EXPECT_EQ(platform::openNamedMutex("7"), platform::openNamedMutex("7"));
  EXPECT_NE(platform::openNamedMutex("7"), platform::openNamedMutex("8"));
}

TEST(NamedMutexTest, HolderReentersAndStrangerIsRefused) {
  platform::NamedMutex* mutex = platform::openNamedMutex("reentry");
  platform::lockMutex(mutex);
  platform::lockMutex(mutex);  // the holder takes it again without blocking

  // A stranger's unlock changes nothing.
  auto strangerUnlock = runDetached([mutex] { return platform::unlockMutex(mutex); });
  ASSERT_EQ(strangerUnlock.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(strangerUnlock.get());

  // A stranger waiting for it gets it only after both of the holder's unlocks.
  std::future<bool> stranger = runDetached([mutex] {
    platform::lockMutex(mutex);
    return platform::unlockMutex(mutex);
  });
  EXPECT_TRUE(platform::unlockMutex(mutex));
  EXPECT_TRUE(platform::unlockMutex(mutex)) << "the stranger's unlock must not have taken a count";
  ASSERT_EQ(stranger.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(stranger.get());
  EXPECT_FALSE(platform::unlockMutex(mutex)) << "no lock left to release";
}

TEST(NamedMutexTest, ExcludesOtherThreads) {
  platform::NamedMutex* mutex = platform::openNamedMutex("counter");
  int counter = 0;
  auto work = [&] {
    for (int i = 0; i < 10000; ++i) {
      platform::lockMutex(mutex);
      ++counter;
      platform::unlockMutex(mutex);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(counter, 20000);
}

}  // namespace

namespace {

// A holder that ends without unlocking must not leave the mutex taken for
// ever: the next thread that waits gets it.
TEST(NamedMutexTest, AbandonedMutexGoesToTheNextWaiter) {
  platform::NamedMutex* mutex = platform::openNamedMutex("abandoned");
  std::thread([mutex] {
    platform::lockMutex(mutex);
    platform::lockMutex(mutex);
  }).join();
  auto taker = runDetached([mutex] {
    platform::lockMutex(mutex);
    return platform::unlockMutex(mutex) && !platform::unlockMutex(mutex);
  });
  ASSERT_EQ(taker.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_TRUE(taker.get());
}

}  // namespace
