// Detached threads on pthreads.
#include "platform/threads.h"

#include <pthread.h>

#include <new>

namespace platform {
namespace {

struct ThreadStart {
  ThreadEntry entry;
  void* argument;
};

void* runThread(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  start.entry(start.argument);
  return nullptr;
}

}  // namespace

bool startThread(ThreadEntry entry, void* argument) {
  if (entry == nullptr) return false;
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  auto* start = new (std::nothrow) ThreadStart{entry, argument};
  if (start == nullptr) {
    pthread_attr_destroy(&attributes);
    return false;
  }
  pthread_t thread;
  int result = pthread_create(&thread, &attributes, runThread, start);
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    delete start;
    return false;
  }
  return true;
}

}  // namespace platform
