// SchedulerProbe: how late this machine wakes a sleeping thread. While it
// lives, one thread on each processor sleeps 1 ms at a time and keeps the
// longest wait beyond that. A test that runs in real time uses it to tell a
// gap its code made from one the scheduler made: on a loaded machine every
// thread, the engine's included, can wake tens of milliseconds late, and in
// a virtual machine one processor can stall (20-35 ms seen here) while the
// other runs on, so each is watched.
#pragma once

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace bw::test {

class SchedulerProbe {
 public:
  SchedulerProbe() : longestMs_(std::max(1u, std::thread::hardware_concurrency())) {
    for (std::size_t cpu = 0; cpu < longestMs_.size(); ++cpu) {
      threads_.emplace_back([this, cpu] { run(cpu); });
    }
  }
  ~SchedulerProbe() { stop(); }
  SchedulerProbe(const SchedulerProbe&) = delete;
  SchedulerProbe& operator=(const SchedulerProbe&) = delete;

  // Ends the probe; the longest extra wait seen on any processor, in
  // milliseconds.
  double stop() {
    done_ = true;
    for (std::thread& t : threads_) {
      if (t.joinable()) t.join();
    }
    return *std::max_element(longestMs_.begin(), longestMs_.end());
  }

 private:
  void run(std::size_t cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);  // unpinned if refused
    using Clock = std::chrono::steady_clock;
    double& longest = longestMs_[cpu];
    while (!done_.load()) {
      const auto before = Clock::now();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::chrono::duration<double, std::milli> late =
          Clock::now() - before - std::chrono::milliseconds(1);
      longest = std::max(longest, late.count());
    }
  }

  std::atomic<bool> done_{false};
  std::vector<double> longestMs_;  // one per probe thread, written by it until joined
  std::vector<std::thread> threads_;
};

}  // namespace bw::test
