// SchedulerProbe: how late this machine wakes a sleeping thread. While it
// lives, a thread sleeps 1 ms at a time and keeps the longest wait beyond
// that. A test that runs in real time uses it to tell a gap its code made
// from one the scheduler made: on a loaded machine every thread, the engine's
// included, can wake tens of milliseconds late.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

namespace bw::test {

class SchedulerProbe {
 public:
  SchedulerProbe() : thread_([this] { run(); }) {}
  ~SchedulerProbe() { stop(); }
  SchedulerProbe(const SchedulerProbe&) = delete;
  SchedulerProbe& operator=(const SchedulerProbe&) = delete;

  // Ends the probe; the longest extra wait seen, in milliseconds.
  double stop() {
    if (thread_.joinable()) {
      done_ = true;
      thread_.join();
    }
    return longestMs_;
  }

 private:
  void run() {
    using Clock = std::chrono::steady_clock;
    while (!done_.load()) {
      const auto before = Clock::now();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::chrono::duration<double, std::milli> late =
          Clock::now() - before - std::chrono::milliseconds(1);
      if (late.count() > longestMs_) longestMs_ = late.count();
    }
  }

  std::atomic<bool> done_{false};
  double longestMs_ = 0.0;  // written by the probe thread until it is joined
  std::thread thread_;
};

}  // namespace bw::test
