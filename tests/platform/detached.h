// Runs a call on a detached thread and hands back its result as a future, so
// a test that gives up waiting (a bounded wait_for) never blocks on it.
#pragma once
#include <future>
#include <memory>
#include <thread>
#include <type_traits>

template <class Call>
std::future<std::invoke_result_t<Call>> runDetached(Call call) {
  using Result = std::invoke_result_t<Call>;
  auto promise = std::make_shared<std::promise<Result>>();
  std::future<Result> future = promise->get_future();
  std::thread([promise, call]() mutable { promise->set_value(call()); }).detach();
  return future;
}
