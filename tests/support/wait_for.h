// Polls a condition every 10 ms until it holds or `limit` has passed: true
// when it held. For tests that wait on another thread or process.
#pragma once

#include <chrono>
#include <thread>

namespace bw::test {

template <typename Pred>
bool waitFor(Pred pred, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace bw::test
