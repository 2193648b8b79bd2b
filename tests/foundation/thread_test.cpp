#include "foundation/thread.h"

#include <gtest/gtest.h>

#include <atomic>

#include "eventually.h"
#include "foundation/object.h"

namespace {

// Objects live on the heap and are freed only once no body is left inside
// them; a failing test leaks its object instead of freeing it under a thread.
template <typename T>
struct Owned {
  T* object = new T;
  ~Owned() {
    if (object->bodyActive() == 0) delete object;
  }
  T& operator*() { return *object; }
};

// A body that loops while running, as the programs' bodies do.
class LoopingObject : public VLObject {
 public:
  std::atomic<int> entered{0};
  void run() override {
    ++entered;
    while (getState() == kRunning) sleepFor(0, 200);
  }
};

TEST(VLThreadTest, StartRunsTheBodyAndStopEndsIt) {
  Owned<LoopingObject> owned;
  LoopingObject& object = *owned;
  EXPECT_EQ(object.getState(), VLThread::kCreated);
  EXPECT_EQ(object.threadHandle(), 0u);

  VLThreadHandle handle = object.start();
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(object.threadHandle(), handle);
  ASSERT_TRUE(eventually([&] { return object.entered == 1; }));
  EXPECT_EQ(object.getState(), VLThread::kRunning);
  EXPECT_EQ(object.bodyActive(), 1);

  object.stop();
  ASSERT_TRUE(eventually([&] { return object.bodyActive() == 0; }));
  EXPECT_EQ(object.getState(), VLThread::kFinished);

  // Started again after it finished: a new handle and a second body.
  VLThreadHandle again = object.start();
  EXPECT_NE(again, 0u);
  EXPECT_NE(again, handle);
  ASSERT_TRUE(eventually([&] { return object.entered == 2; }));
  object.stop();
  ASSERT_TRUE(eventually([&] { return object.bodyActive() == 0; }));
  EXPECT_EQ(object.getState(), VLThread::kFinished);
}

TEST(VLThreadTest, EmptyBodyFinishesAndBodyRunsOnCallersThread) {
  Owned<VLObject> owned;
  VLObject& plain = *owned;
  ASSERT_NE(plain.start(), 0u);
  ASSERT_TRUE(eventually([&] { return plain.bodyActive() == 0; }));
  EXPECT_EQ(plain.getState(), VLThread::kFinished);

  // Synchronous use: setRunning, run, setFinished.
  VLObject synchronous;
  synchronous.setRunning();
  EXPECT_EQ(synchronous.getState(), VLThread::kRunning);
  synchronous.run();
  synchronous.setFinished();
  EXPECT_EQ(synchronous.getState(), VLThread::kFinished);
  EXPECT_EQ(synchronous.bodyActive(), 0);
}

// A stop that comes right after start, before or after the body began, is
// never overwritten by the body's entry: every body ends.
class CountingObject : public LoopingObject {
 public:
  std::atomic<int> cancelled{0};
  void startCancelled() override { ++cancelled; }
};

// Every start either runs its body or, stopped before that, tells the
// object so: an owner that set something up for the start can undo it.
TEST(VLThreadTest, StopRightAfterStartIsNeverLost) {
  Owned<CountingObject> owned;
  CountingObject& object = *owned;
  for (int i = 0; i < 200; ++i) {
    ASSERT_NE(object.start(), 0u);
    object.stop();
    ASSERT_TRUE(eventually([&] { return object.bodyActive() == 0; })) << "round " << i;
    ASSERT_EQ(object.getState(), VLThread::kFinished) << "round " << i;
    ASSERT_EQ(object.entered + object.cancelled, i + 1) << "round " << i;
  }
}

// The first body is held after its loop until the object has been started
// again; its late end must not finish the second body.
class SlowFinishObject : public VLObject {
 public:
  std::atomic<int> entered{0};
  std::atomic<bool> firstLeftLoop{false};
  std::atomic<bool> releaseFirst{false};
  void run() override {
    int body = ++entered;
    while (getState() == kRunning) sleepFor(0, 200);
    if (body == 1) {
      firstLeftLoop = true;
      for (int i = 0; i < 10000 && !releaseFirst; ++i) sleepFor(0, 1000);
    }
  }
};

TEST(VLThreadTest, RestartWhileOldBodyFinishesEndsUpRunning) {
  Owned<SlowFinishObject> owned;
  SlowFinishObject& object = *owned;
  ASSERT_NE(object.start(), 0u);
  ASSERT_TRUE(eventually([&] { return object.entered == 1; }));
  object.stop();
  ASSERT_TRUE(eventually([&] { return object.firstLeftLoop.load(); }));
  EXPECT_EQ(object.getState(), VLThread::kStopRequested);
  EXPECT_EQ(object.bodyActive(), 1);

  // The owner's bounded wait ran out: it starts the object again.
  ASSERT_NE(object.start(), 0u);
  ASSERT_TRUE(eventually([&] { return object.entered == 2; }));
  EXPECT_EQ(object.bodyActive(), 2);

  object.releaseFirst = true;
  ASSERT_TRUE(eventually([&] { return object.bodyActive() <= 1; }));
  EXPECT_EQ(object.getState(), VLThread::kRunning);

  object.stop();
  ASSERT_TRUE(eventually([&] { return object.bodyActive() == 0; }));
  EXPECT_EQ(object.getState(), VLThread::kFinished);
}

}  // namespace
