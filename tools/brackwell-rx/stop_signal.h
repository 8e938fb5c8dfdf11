// SIGINT and SIGTERM ask the receive loop to stop between blocks: the
// handler only sets a flag, and the loop returns so that the unfinished
// output is removed on the normal path.
#pragma once

#include <csignal>

namespace bw::rx {

// Installs the handlers, with SA_RESTART: a read or write that a signal
// interrupts resumes, and the loop sees the flag at the next block boundary.
void installStopHandlers();

// The flag the handlers set; the loop reads it.
const volatile std::sig_atomic_t* stopFlag();

// The signal that set the flag (0 when none).
int stopSignal();

}  // namespace bw::rx
