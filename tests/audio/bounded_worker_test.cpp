// The bounded worker with a call that stands for a frozen sound server: it
// returns only when the test lets it.
#include "audio/bounded_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <iterator>
#include <thread>

namespace bw::audio {
namespace {

using namespace std::chrono_literals;

long threadsInProcess() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return std::distance(begin(tasks), end(tasks));
}

TEST(BoundedWorker, AFrozenCallStaysOnTheOneWorkerAndHoldsUpNeitherCallsNorTearDown) {
  auto worker = std::make_unique<BoundedWorker>();
  const long threads = threadsInProcess();
  std::thread::id inTime, frozen;
  std::atomic<bool> thawed{false}, lateRan{false};
  int givenUp = 0, calls = 0;
  EXPECT_TRUE(worker->run("a call", 10s, [&] { inTime = std::this_thread::get_id(); }));

  const int lateBefore = BoundedWorker::lateCalls();
  EXPECT_FALSE(worker->run(
      "a frozen call", 50ms,
      [&] {
        frozen = std::this_thread::get_id();
        while (!thawed.load()) std::this_thread::sleep_for(1ms);
      },
      [&] { ++givenUp; }, [&] { lateRan.store(true); }));
  EXPECT_EQ(BoundedWorker::lateCalls(), lateBefore + 1);
  // While stuck: further calls are not run and do not wait their bound.
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_FALSE(worker->run("a later call", 60s, [&] { ++calls; }, [&] { ++givenUp; }));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, 30s);
  EXPECT_FALSE(worker->waitUntilFree(10ms));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(givenUp, 2);
  EXPECT_EQ(threadsInProcess(), threads) << "a thread was made for a call";

  // Tear-down leaves the worker in its call; the call's clean-up runs once
  // it returns.
  auto destroyed = std::async(std::launch::async, [&] { worker.reset(); });
  EXPECT_EQ(destroyed.wait_for(10s), std::future_status::ready);
  EXPECT_FALSE(lateRan.load());
  thawed.store(true);
  destroyed.wait();
  EXPECT_TRUE(BoundedWorker::waitForLateCalls(10s));
  EXPECT_TRUE(lateRan.load());
  EXPECT_EQ(frozen, inTime);
}

}  // namespace
}  // namespace bw::audio
