// Waits (bounded) until `count` threads of this process sit in a system call
// of the given numbers, read from /proc/self/task/*/syscall. Lets a test
// close a socket while another thread is known to be blocked on it. False
// when that was not seen within the bound (or not on this architecture).
#pragma once
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "platform/clock.h"

inline bool waitForBlockedCalls(std::initializer_list<int> numbers, int count) {
  for (int round = 0; round < 500; ++round) {
    int seen = 0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
      std::ifstream file(task.path() / "syscall");
      int number = -1;
      if (file >> number) {
        for (int wanted : numbers) seen += number == wanted ? 1 : 0;
      }
    }
    if (seen >= count) return true;
    platform::pause(0, 10000);
  }
  return false;
}

#if defined(__x86_64__)
constexpr std::initializer_list<int> kReceiveAndAcceptCalls = {45 /* recvfrom */, 288 /* accept4 */};
#elif defined(__aarch64__)
constexpr std::initializer_list<int> kReceiveAndAcceptCalls = {207 /* recvfrom */, 242 /* accept4 */};
#else
constexpr std::initializer_list<int> kReceiveAndAcceptCalls = {};
#endif
