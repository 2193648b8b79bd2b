// VLThread: the base of every object that owns one worker thread. The state
// word (0 created, 1 start requested, 2 running, 3 stop requested, 4 finished)
// is how owner and worker agree on starting and stopping; threads are never
// joined. Each start() opens a new generation of the word: a body of an older
// generation can no longer change the state, so a restart is never undone by
// the previous body finishing late, and a stop() before the body begins is
// never overwritten. bodyActive() counts the bodies started and not yet
// returned: an owner starts (or frees) the object only when it is 0.
#pragma once
#include <atomic>
#include <cstdint>

// A token for one created thread: never 0 for a thread that was created.
using VLThreadHandle = std::uint64_t;

class VLThread {
 public:
  enum State : int {
    kCreated = 0,
    kStartRequested = 1,
    kRunning = 2,
    kStopRequested = 3,
    kFinished = 4,
  };

  VLThread();
  // Sets state 3; neither waits for the thread nor frees anything of it.
  virtual ~VLThread();
  VLThread(const VLThread&) = delete;
  VLThread& operator=(const VLThread&) = delete;

  // State 1, then a new detached thread runs threadEntry. Returns the new
  // thread's handle (also kept as threadHandle()), or 0 when no thread could
  // be created; the state then stays 1.
  VLThreadHandle start();
  // State 3: a looping body ends at its next check.
  void stop();
  int getState() const;
  void setRunning();   // state 2
  void setFinished();  // state 4

  // Number of bodies started by start() that have not yet left threadEntry.
  int bodyActive() const;
  // The handle of the last thread created by start(); 0 when none.
  VLThreadHandle threadHandle() const;

  // The thread procedure for one start: state 1 -> 2, run(), then state 4,
  // each only while that start is still the current one. A body whose start
  // was stopped or replaced before it began does not call run(); a stopped
  // one calls startCancelled() instead.
  static void threadEntry(void* startRecord);

  // The thread body; empty here. Looping bodies go on while getState() == 2.
  // It may also run on the caller's thread: setRunning(), run(), setFinished().
  virtual void run();
  // Called on the new thread instead of run() when its own start was
  // stopped before the body began (not when a newer start replaced it), so
  // an owner can undo what it set up for that start; empty here.
  virtual void startCancelled();

 private:
  // Generation in the high bits, visible state in the low byte.
  std::atomic<std::uint64_t> word_;
  std::atomic<int> bodies_;
  std::atomic<VLThreadHandle> handle_;

  void setStateKeepingGeneration(int state);
};
