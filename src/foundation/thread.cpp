#include "foundation/thread.h"

#include <new>

#include "platform/threads.h"

namespace {

constexpr std::uint64_t kStateMask = 0xFF;
constexpr int kGenerationShift = 8;

std::uint64_t generationOf(std::uint64_t word) { return word >> kGenerationShift; }
int stateOf(std::uint64_t word) { return static_cast<int>(word & kStateMask); }
std::uint64_t makeWord(std::uint64_t generation, int state) {
  return (generation << kGenerationShift) | static_cast<std::uint64_t>(state);
}

// Handles are unique within the process; 0 means "no thread".
std::atomic<VLThreadHandle> nextHandle{1};

// What one start() hands its thread.
struct StartRecord {
  VLThread* object;
  std::uint64_t generation;
};

}  // namespace

VLThread::VLThread() : word_(makeWord(0, kCreated)), bodies_(0), handle_(0) {}

VLThread::~VLThread() { setStateKeepingGeneration(kStopRequested); }

void VLThread::run() {}

void VLThread::startCancelled() {}

VLThreadHandle VLThread::start() {
  std::uint64_t word = word_.load();
  std::uint64_t generation = 0;
  do {
    generation = generationOf(word) + 1;
  } while (!word_.compare_exchange_weak(word, makeWord(generation, kStartRequested)));

  // The previous thread, if any, keeps running; its handle is given up.
  handle_.store(0);
  auto* record = new (std::nothrow) StartRecord{this, generation};
  if (record == nullptr) return 0;
  VLThreadHandle handle = nextHandle.fetch_add(1);
  handle_.store(handle);
  bodies_.fetch_add(1);
  if (!platform::startThread(&VLThread::threadEntry, record)) {
    bodies_.fetch_sub(1);
    delete record;
    handle_.store(0);
    return 0;
  }
  return handle;
}

void VLThread::threadEntry(void* startRecord) {
  StartRecord record = *static_cast<StartRecord*>(startRecord);
  delete static_cast<StartRecord*>(startRecord);
  VLThread* self = record.object;

  bool runBody = false;
  bool cancelled = false;
  std::uint64_t word = self->word_.load();
  while (generationOf(word) == record.generation) {
    int state = stateOf(word);
    if (state == kStartRequested) {
      if (self->word_.compare_exchange_weak(word, makeWord(record.generation, kRunning))) {
        runBody = true;
        break;
      }
      continue;  // the word changed under us: look again
    }
    runBody = (state == kRunning);  // set running by the owner: go on
    cancelled = (state == kStopRequested);
    break;
  }

  if (runBody) {
    self->run();
  } else if (cancelled) {
    self->startCancelled();
  }

  // Finished, unless a newer start owns the word by now.
  word = self->word_.load();
  while (generationOf(word) == record.generation && stateOf(word) != kFinished) {
    if (self->word_.compare_exchange_weak(word, makeWord(record.generation, kFinished))) break;
  }
  // Last touch of the object: once the count drops, the owner may free it.
  self->bodies_.fetch_sub(1, std::memory_order_release);
}

void VLThread::stop() { setStateKeepingGeneration(kStopRequested); }

int VLThread::getState() const { return stateOf(word_.load()); }

void VLThread::setRunning() { setStateKeepingGeneration(kRunning); }

void VLThread::setFinished() { setStateKeepingGeneration(kFinished); }

int VLThread::bodyActive() const { return bodies_.load(std::memory_order_acquire); }

VLThreadHandle VLThread::threadHandle() const { return handle_.load(); }

void VLThread::setStateKeepingGeneration(int state) {
  std::uint64_t word = word_.load();
  while (!word_.compare_exchange_weak(word, makeWord(generationOf(word), state))) {
  }
}
