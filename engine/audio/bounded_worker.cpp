#include "audio/bounded_worker.h"

#include <dlfcn.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <system_error>
#include <utility>

namespace bw::audio {

namespace {

// Trivially destructible: a detached worker may still count down during the
// process's exit, after static destructors have run.
std::atomic<int> g_lateCalls{0};

// Keeps the library that holds this code mapped for the rest of the process:
// a worker we gave up on may still run our code.
void pinThisLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&pinThisLibrary), &info) == 0 ||
      info.dli_fname == nullptr) {
    return;
  }
  dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace

// What the worker's thread shares with its owner; the thread keeps it alive
// after a destructor that left the thread stuck.
struct BoundedWorker::Shared {
  struct Job {
    std::function<void()> call, late;
    bool done = false;
    bool givenUp = false;
  };

  std::mutex mutex;
  std::condition_variable wake;     // for the worker: a job, or the end
  std::condition_variable changed;  // for callers: a job done, the worker free
  std::shared_ptr<Job> job;         // the call in hand; null when free
  bool ending = false;

  void serve() {
    std::unique_lock lock(mutex);
    for (;;) {
      wake.wait(lock, [this] { return job != nullptr || ending; });
      if (job == nullptr) return;
      const std::shared_ptr<Job> current = job;
      lock.unlock();
      current->call();
      lock.lock();
      current->done = true;
      if (current->givenUp && current->late) {
        lock.unlock();
        current->late();
        lock.lock();
      }
      // Free only now: `late` may call the library too.
      job.reset();
      if (current->givenUp) g_lateCalls.fetch_sub(1);
      changed.notify_all();
    }
  }
};

BoundedWorker::BoundedWorker() : shared_(std::make_shared<Shared>()) {
  try {
    thread_ = std::thread([shared = shared_] { shared->serve(); });
  } catch (const std::system_error&) {
    // No thread: run() calls on the caller's thread.
  }
}

BoundedWorker::~BoundedWorker() {
  if (!thread_.joinable()) return;
  bool stuck = false;
  {
    std::lock_guard lock(shared_->mutex);
    shared_->ending = true;
    stuck = shared_->job != nullptr;
    shared_->wake.notify_one();
  }
  if (stuck) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool BoundedWorker::run(const char* what, std::chrono::milliseconds bound,
                        std::function<void()> call, std::function<void()> onGiveUp,
                        std::function<void()> late) {
  if (!thread_.joinable()) {
    call();
    return true;
  }
  Shared& s = *shared_;
  auto job = std::make_shared<Shared::Job>();
  job->call = std::move(call);
  job->late = std::move(late);
  const auto deadline = std::chrono::steady_clock::now() + bound;
  std::unique_lock lock(s.mutex);
  // Another caller's call is waited for; a given-up one is not.
  s.changed.wait_until(lock, deadline,
                       [&] { return s.job == nullptr || s.job->givenUp; });
  if (s.job != nullptr) {
    if (onGiveUp) onGiveUp();
    return false;
  }
  s.job = job;
  s.wake.notify_one();
  if (s.changed.wait_until(lock, deadline, [&] { return job->done; })) return true;
  // The worker cannot finish the call while this holds the lock: onGiveUp
  // runs before `late` can.
  job->givenUp = true;
  if (onGiveUp) onGiveUp();
  pinThisLibrary();
  if (g_lateCalls.fetch_add(1) == 0) {
    std::fprintf(stderr,
                 "Brackwell: the sound server did not answer within %.1f s "
                 "(%s); going on without it\n",
                 std::chrono::duration<double>(bound).count(), what);
  }
  return false;
}

bool BoundedWorker::waitUntilFree(std::chrono::milliseconds bound) {
  std::unique_lock lock(shared_->mutex);
  return shared_->changed.wait_for(lock, bound, [&] { return shared_->job == nullptr; });
}

int BoundedWorker::lateCalls() { return g_lateCalls.load(); }

bool BoundedWorker::waitForLateCalls(std::chrono::milliseconds bound) {
  // Polled: the late calls may belong to workers whose owners are gone.
  const auto end = std::chrono::steady_clock::now() + bound;
  while (g_lateCalls.load() != 0) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace bw::audio
