// One connection to a sound server that speaks PulseAudio's protocol
// (PulseAudio, or PipeWire's pulse server), on a threaded main loop of
// libpulse: libpulse's own thread runs every callback of the connection and
// of its streams, with the main loop's lock held.
//
// Every wait on the server is bounded. libpulse's thread never waits on the
// server itself (its socket is non-blocking), so taking the lock is always
// prompt; what a frozen server holds up is only an answer, and a caller
// gives up on that at its deadline. A connection that missed a deadline is
// not used again: its server may have frozen, and a new connection finds
// out afresh.
#pragma once

#include <pulse/context.h>
#include <pulse/thread-mainloop.h>

#include <chrono>
#include <memory>

namespace bw::audio {

class PulseConnection {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // Connects to the server the environment names (PULSE_SERVER, the client
  // configuration; never starting one) and waits until it is ready, at most
  // until `deadline`. Null when no server was ready in time.
  static std::shared_ptr<PulseConnection> connect(Deadline deadline);
  // Disconnects and ends libpulse's thread without waiting on the server.
  // Not on that thread; every stream of the connection is gone first.
  ~PulseConnection();
  PulseConnection(const PulseConnection&) = delete;
  PulseConnection& operator=(const PulseConnection&) = delete;

  // Holds the main loop's lock for its lifetime (never on libpulse's thread:
  // callbacks already hold it).
  class Lock {
   public:
    explicit Lock(PulseConnection& c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  pa_context* context() const { return context_; }
  pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

  // With the lock held: true while the context is ready and no wait on the
  // server has missed its deadline.
  bool usable() const;

  // Whether the server is PipeWire's pulse server (its name says so), as
  // learnt when connecting.
  bool onPipeWire() const { return onPipeWire_; }

  // With the lock held: waits until done() holds, at most until `deadline`.
  // Callbacks that may change what done() reads call wake(). On a missed
  // deadline the connection stops being usable() and false is returned.
  template <typename Done>
  bool waitUntil(Done done, Deadline deadline) {
    Timer timer(*this, deadline);
    while (!done()) {
      if (timer.expired) {
        trusted_ = false;
        return false;
      }
      pa_threaded_mainloop_wait(loop_);
    }
    return true;
  }

  // From a callback on libpulse's thread: wakes waitUntil.
  void wake() { pa_threaded_mainloop_signal(loop_, 0); }

 private:
  // A timer on the main loop that wakes waitUntil at the deadline.
  struct Timer {
    Timer(PulseConnection& c, Deadline deadline);
    ~Timer();
    PulseConnection& connection;
    pa_time_event* event = nullptr;
    bool expired = false;
  };

  PulseConnection() = default;

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  bool trusted_ = true;  // under the lock
  bool onPipeWire_ = false;  // set before connect() returns
};

}  // namespace bw::audio
