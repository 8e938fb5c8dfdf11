// PortAudio calls that a frozen sound server can block for tens of seconds
// (or for good), run on a thread of their own and waited for a bounded time.
//
// A call that does not return in time is given up: it goes on by itself,
// and what it leaves behind is released on its own thread once it returns.
// While any given-up call is still running, PortAudio counts as busy: a new
// call first waits (bounded) for it, since PortAudio's control functions
// must not run at the same time on two threads. The library pins itself in
// memory at the first give-up, so that such a thread never returns into
// unmapped code.
#pragma once

#include <chrono>
#include <functional>

namespace bw::audio {

// How long a call that opens, starts or lists devices may take.
constexpr std::chrono::milliseconds kPortAudioCallBound{3000};

// Runs `call` on a new thread and waits up to `bound` for it. True when it
// returned in time (its effects are then the caller's). Otherwise runs
// `onGiveUp` on the caller's thread, before `late` can run, and returns
// false; `late` runs on the call's thread once the call returns. `what`
// names the call in the one line written to standard error when a sound
// server stops answering ("opening a sound device"). Without a thread to
// spare the call runs on the caller's thread, unbounded.
bool runBounded(const char* what, std::chrono::milliseconds bound,
                std::function<void()> call, std::function<void()> onGiveUp = {},
                std::function<void()> late = {});

// Waits up to `bound` until no given-up call is running; false if one still
// is (then PortAudio must not be called).
bool waitForPortAudio(std::chrono::milliseconds bound);

// Given-up calls that have not returned yet.
int givenUpCalls();

}  // namespace bw::audio
