#include "audio/pulse/pulse_connection.h"

#include <pulse/introspect.h>
#include <pulse/rtclock.h>

#include <cstring>

#include "audio/realtime_priority.h"

namespace bw::audio {

namespace {

void onContextState(pa_context*, void* self) {
  static_cast<PulseConnection*>(self)->wake();
}

}  // namespace

PulseConnection::Timer::Timer(PulseConnection& c, Deadline deadline) : connection(c) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
      deadline - std::chrono::steady_clock::now());
  const pa_usec_t usec = left.count() > 0 ? pa_usec_t(left.count()) : 0;
  event = pa_context_rttime_new(
      c.context_, pa_rtclock_now() + usec,
      [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
        auto* t = static_cast<Timer*>(self);
        t->expired = true;
        t->connection.wake();
      },
      this);
  // Without a timer there is no bounded wait: count the deadline as missed.
  if (event == nullptr) expired = true;
}

PulseConnection::Timer::~Timer() {
  if (event != nullptr) {
    connection.api()->time_free(event);
  }
}

std::shared_ptr<PulseConnection> PulseConnection::connect(Deadline deadline) {
  std::shared_ptr<PulseConnection> c(new PulseConnection);
  c->loop_ = pa_threaded_mainloop_new();
  if (c->loop_ == nullptr) return nullptr;
  c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->loop_), "Brackwell");
  if (c->context_ == nullptr) return nullptr;
  pa_context_set_state_callback(c->context_, &onContextState, c.get());
  if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return nullptr;
  }
  // The loop's thread moves every captured and played byte: real time
  // where the system grants it, as for the block processing. Asked before
  // the thread starts: once it runs, the loop's own calls from this thread
  // would race it (libpulse aborted on a freed event under ThreadSanitizer).
  pa_threaded_mainloop_once_unlocked(
      c->loop_,
      [](pa_threaded_mainloop*, void*) { raiseCallingThreadToRealTime(kAudioThreadPriority); },
      nullptr);
  if (pa_threaded_mainloop_start(c->loop_) < 0) return nullptr;
  Lock lock(*c);
  const bool settled = c->waitUntil(
      [&] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(c->context_)) ||
                   pa_context_get_state(c->context_) == PA_CONTEXT_READY; },
      deadline);
  if (!settled || !c->usable()) return nullptr;
  // PipeWire's pulse server names itself "PulseAudio (on PipeWire x.y.z)".
  struct Asked {
    PulseConnection* connection;
    bool answered = false;
  } asked{c.get()};
  pa_operation* op = pa_context_get_server_info(
      c->context_,
      [](pa_context*, const pa_server_info* info, void* self) {
        auto* a = static_cast<Asked*>(self);
        a->connection->onPipeWire_ = info != nullptr && info->server_name != nullptr &&
                                     std::strstr(info->server_name, "PipeWire") != nullptr;
        a->answered = true;
        a->connection->wake();
      },
      &asked);
  if (op == nullptr) return nullptr;
  const bool answered = c->waitUntil([&] { return asked.answered; }, deadline);
  // Not waited for to the end: the answer must not reach `asked` once gone.
  if (!answered) pa_operation_cancel(op);
  pa_operation_unref(op);
  if (!answered) return nullptr;
  return c;
}

PulseConnection::~PulseConnection() {
  // Stopped first: then nothing runs the context's callbacks concurrently.
  if (loop_ != nullptr) pa_threaded_mainloop_stop(loop_);
  if (context_ != nullptr) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_ != nullptr) pa_threaded_mainloop_free(loop_);
}

bool PulseConnection::usable() const {
  return trusted_ && pa_context_get_state(context_) == PA_CONTEXT_READY;
}

}  // namespace bw::audio
