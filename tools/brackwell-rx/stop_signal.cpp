#include "stop_signal.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace bw::rx {

namespace {
constexpr int kStopSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGPIPE, SIGQUIT,
                                SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ};
constexpr int kSlots = 4;
constexpr std::size_t kMaxName = 4096;
constexpr int kForcedExit = 130;

volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gSignal = 0;

// A slot's name is written before it is marked in use and only read while in
// use, so the handler never sees a half-written name.
char gNames[kSlots][kMaxName];
volatile std::sig_atomic_t gInUse[kSlots] = {};

extern "C" void onStopSignal(int signal) {
  if (gStop) {
    for (int s = 0; s < kSlots; ++s) {
      if (gInUse[s]) ::unlink(gNames[s]);
    }
    ::_exit(kForcedExit);
  }
  gSignal = signal;
  gStop = 1;
}
}  // namespace

void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = 0;  // no SA_RESTART: blocking opens return EINTR
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

const volatile std::sig_atomic_t* stopFlag() { return &gStop; }

std::string interruptedText() {
  return "interrupted by signal " + std::to_string(gSignal) + "; no output written";
}

int registerTemporary(const char* path) {
  if (std::strlen(path) >= kMaxName) return -1;
  for (int s = 0; s < kSlots; ++s) {
    if (!gInUse[s]) {
      std::strcpy(gNames[s], path);
      std::atomic_signal_fence(std::memory_order_seq_cst);
      gInUse[s] = 1;
      return s;
    }
  }
  return -1;
}

void forgetTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) gInUse[slot] = 0;
}

}  // namespace bw::rx
