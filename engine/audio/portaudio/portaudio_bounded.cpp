#include "audio/portaudio/portaudio_bounded.h"

#include <dlfcn.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>

namespace bw::audio {

namespace {

std::atomic<int> g_givenUp{0};

// Keeps the library that holds this code mapped for the rest of the process:
// a thread we gave up on may still run our code.
void pinThisLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&pinThisLibrary), &info) == 0 ||
      info.dli_fname == nullptr) {
    return;
  }
  dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

struct Pending {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  bool givenUp = false;
  std::function<void()> call, late;
};

}  // namespace

bool runBounded(const char* what, std::chrono::milliseconds bound,
                std::function<void()> call, std::function<void()> onGiveUp,
                std::function<void()> late) {
  auto pending = std::make_shared<Pending>();
  pending->call = std::move(call);
  pending->late = std::move(late);
  std::thread worker;
  try {
    worker = std::thread([pending] {
      pending->call();
      bool givenUp = false;
      {
        std::lock_guard lock(pending->mutex);
        pending->finished = true;
        givenUp = pending->givenUp;
        pending->done.notify_all();
      }
      if (!givenUp) return;
      if (pending->late) pending->late();
      g_givenUp.fetch_sub(1);
    });
  } catch (...) {
    pending->call();
    return true;
  }
  {
    std::unique_lock lock(pending->mutex);
    if (pending->done.wait_for(lock, bound, [&] { return pending->finished; })) {
      lock.unlock();
      worker.join();
      return true;
    }
    // The worker cannot finish while this holds the lock: onGiveUp runs
    // before `late` can.
    if (onGiveUp) onGiveUp();
    pinThisLibrary();
    pending->givenUp = true;
    if (g_givenUp.fetch_add(1) == 0) {
      std::fprintf(stderr,
                   "Brackwell: the sound server did not answer within %.1f s "
                   "(%s); going on without it\n",
                   std::chrono::duration<double>(bound).count(), what);
    }
  }
  worker.detach();
  return false;
}

bool waitForPortAudio(std::chrono::milliseconds bound) {
  const auto end = std::chrono::steady_clock::now() + bound;
  while (g_givenUp.load() != 0) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

int givenUpCalls() { return g_givenUp.load(); }

}  // namespace bw::audio
