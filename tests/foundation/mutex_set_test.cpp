#include "foundation/mutex_set.h"

#include <gtest/gtest.h>

#include <string>
#include <ostream>

#include "platform/named_mutex.h"

namespace {

struct MutexSetCase {
  int requested;
  int expectedCount;
};

class VLMutexSetTest : public ::testing::TestWithParam<MutexSetCase> {};

// Mutex i is the process's mutex named i (the application name is empty).
TEST_P(VLMutexSetTest, CreatesNamedMutexesUpToEight) {
  const MutexSetCase& c = GetParam();
  VLMutexSet set(c.requested);
  EXPECT_EQ(set.getCount(), c.expectedCount);
  for (int i = 0; i < c.expectedCount; ++i) {
    ASSERT_NE(set.mutexAt(i), nullptr) << i;
    EXPECT_EQ(set.mutexAt(i), platform::openNamedMutex(std::to_string(i))) << i;
  }
  // Indices outside the set are refused instead of reaching past it.
  for (int index : {-1, c.expectedCount, VLMutexSet::kMaxMutexes}) {
    EXPECT_EQ(set.mutexAt(index), nullptr) << index;
    EXPECT_EQ(set.lock(index), 0) << index;
    EXPECT_EQ(set.unlock(index), 0) << index;
  }
  EXPECT_EQ(set.createMutexes(), c.expectedCount > 0 ? 1 : 0);
}

// A failure names the case, not its bytes.
void PrintTo(const MutexSetCase& c, std::ostream* os) {
  *os << c.requested << " requested";
}

INSTANTIATE_TEST_SUITE_P(Counts, VLMutexSetTest,
                         ::testing::Values(MutexSetCase{8, 8}, MutexSetCase{9, 0},
                                           MutexSetCase{3, 3}, MutexSetCase{0, 0},
                                           MutexSetCase{-2, 0}),
                         [](const ::testing::TestParamInfo<MutexSetCase>& info) {
                           const int n = info.param.requested;
                           return (n < 0 ? "Minus" + std::to_string(-n) : std::to_string(n)) + "Requested";
                         });

TEST(VLMutexSetLockTest, LockAndUnlockReachTheNamedMutex) {
  VLMutexSet set(8);
  ASSERT_EQ(set.lock(7), 1);
  // Held by this thread: one platform unlock succeeds, a second finds none.
  EXPECT_TRUE(platform::unlockMutex(set.mutexAt(7)));
  EXPECT_FALSE(platform::unlockMutex(set.mutexAt(7)));
  EXPECT_EQ(set.lock(7), 1);
  EXPECT_EQ(set.unlock(7), 1);
  EXPECT_FALSE(platform::unlockMutex(set.mutexAt(7)));
}

}  // namespace
