// The signals that end a run (SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT,
// SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ) ask the run to stop: the
// handler only sets a flag, and the program returns through its normal path
// so that every unfinished output is removed.
//
// The handlers are installed without SA_RESTART, so a blocking open (a FIFO
// without a writer) returns EINTR and the caller can look at the flag. A
// second such signal, for a run that is stuck in a read that does not return,
// removes the registered temporaries in the handler and ends the process at
// once with exit status 130.
#pragma once

#include <csignal>
#include <string>

namespace bw::rx {

void installStopHandlers();

// The flag the handlers set; the loop and the blocking opens read it.
const volatile std::sig_atomic_t* stopFlag();

// The line for a run ended by a signal: "interrupted by signal N; no output
// written".
std::string interruptedText();

// Registers a temporary file name for removal by a forced exit. Returns a
// slot (-1 when all slots are taken or the name is too long; the file is then
// only removed on the normal path). The name is copied.
int registerTemporary(const char* path);
// Forgets a slot once the file was renamed or removed. -1 is ignored.
void forgetTemporary(int slot);

}  // namespace bw::rx
