#include "stop_signal.h"

namespace bw::rx {

namespace {
volatile std::sig_atomic_t gStop = 0;
volatile std::sig_atomic_t gSignal = 0;

extern "C" void onStopSignal(int signal) {
  gSignal = signal;
  gStop = 1;
}
}  // namespace

void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

const volatile std::sig_atomic_t* stopFlag() { return &gStop; }

int stopSignal() { return gSignal; }

}  // namespace bw::rx
