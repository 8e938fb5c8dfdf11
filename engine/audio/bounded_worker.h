// One long-lived thread, owned by a sound backend, that runs the backend's
// calls into a sound library whose server may freeze (and hold a call for
// tens of seconds, or for good) while the caller waits a bounded time.
//
// Calls run one at a time on the worker's thread, so the library's control
// functions never run on two threads at once. A call that does not return
// within its bound is given up: the caller goes on ("timed out"), the worker
// stays inside the call, and once the call returns, its `late` clean-up runs
// there. While the worker is inside a given-up call it is stuck: a further
// call is not run at all and fails at once (waitUntilFree waits, bounded, for
// the worker instead). No call ever gets a thread of its own.
//
// Tear-down: the destructor ends an idle worker and joins it. A stuck worker
// is left to finish its given-up call by itself (its thread detached, the
// state it needs shared with it): once the call returns it runs `late` and
// ends, or it never returns and the process's exit ends it; the destructor
// and the exit never wait for it. At the first give-up the library holding
// this code pins itself in memory, so that the thread never returns into
// unmapped code after the library is unloaded.
//
// Calls must not come from inside another call (the worker would wait for
// itself).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace bw::audio {

class BoundedWorker {
 public:
  // Starts the thread. Without a thread to spare, calls run on the caller's
  // thread, unbounded.
  BoundedWorker();
  ~BoundedWorker();
  BoundedWorker(const BoundedWorker&) = delete;
  BoundedWorker& operator=(const BoundedWorker&) = delete;

  // Runs `call` on the worker and waits up to `bound` for it. True when it
  // returned in time (its effects are then the caller's). Otherwise returns
  // false after running `onGiveUp` on the caller's thread: either the call was
  // given up (`late` runs on the worker once it returns, never before
  // onGiveUp has), or the worker was stuck and `call` and `late` never run.
  // `what` names the call in the one line written to standard error when a
  // sound server stops answering ("opening a sound device").
  bool run(const char* what, std::chrono::milliseconds bound,
           std::function<void()> call, std::function<void()> onGiveUp = {},
           std::function<void()> late = {});

  // Waits up to `bound` until the worker is not stuck; false if it still is.
  bool waitUntilFree(std::chrono::milliseconds bound);

  // Given-up calls, of every worker in the process, that have not returned
  // yet. A library shared by the whole process (PortAudio) must not be ended
  // or started again while there are any.
  static int lateCalls();
  // Waits up to `bound` until lateCalls() is 0; false if it is not.
  static bool waitForLateCalls(std::chrono::milliseconds bound);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
  std::thread thread_;
};

}  // namespace bw::audio
