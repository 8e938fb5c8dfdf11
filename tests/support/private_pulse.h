// A private PulseAudio daemon for tests that stream through a real sound
// server: its own temporary runtime folder (XDG_RUNTIME_DIR, HOME, the socket,
// the cookie, a client configuration without autospawn), no system instance,
// no D-Bus. It carries two 48 kHz stereo null sinks, "iqband" (whose monitor
// is the default source) and "speaker" (the default sink). Several daemons
// may run at once in different folders. Works as root.
//
// The daemon is a child of the test process (killed with it if the forking
// thread dies); stop() ends it by PID and the destructor removes the folder.
// Not thread-safe: one test thread drives it.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace bw::test {

class PrivatePulse {
 public:
  // Empty when pulseaudio and pactl are on PATH, else why a test must skip.
  static std::string missingTools();

  // Makes the folder; start() runs the daemon.
  PrivatePulse();
  // Stops the daemon, restores the environment exportEnvironment() changed
  // and removes the folder.
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  // Starts the daemon (again, after stop()) and waits up to 10 s until
  // `pactl info` answers and the defaults are set. false with a message in
  // error() when it did not come up.
  bool start();
  // SIGCONT (it may have been stopped), SIGTERM, and SIGKILL after 3 s; reaps
  // it. Nothing when not running.
  void stop();
  // Signals the daemon (SIGSTOP, SIGCONT, SIGKILL...) without reaping it.
  void signal(int sig) const;

  pid_t pid() const { return pid_; }
  const std::string& folder() const { return folder_; }
  const std::string& error() const { return error_; }
  // "unix:<folder>/pulse/native".
  std::string serverAddress() const;

  // NAME=value pairs a client of this daemon needs (XDG_RUNTIME_DIR,
  // PULSE_RUNTIME_PATH, HOME, PULSE_SERVER, PULSE_CLIENTCONFIG).
  std::vector<std::pair<std::string, std::string>> environment() const;
  // Puts environment() into this process (PortAudio's pulse plugin reads it
  // when it connects); the destructor restores the previous values.
  void exportEnvironment();

  // Runs argv[0] from PATH with environment() on top of this process's,
  // stdout and stderr to `output` (a file path; empty: the daemon's log),
  // and waits up to timeoutMs. The exit status, or -1 (failed to run or
  // timed out, then killed).
  int run(const std::vector<std::string>& argv, int timeoutMs = 10000,
          const std::string& output = "") const;
  // Starts argv as run() does but returns its PID at once; the caller ends
  // it with finish().
  pid_t spawn(const std::vector<std::string>& argv,
              const std::string& output = "") const;
  // SIGTERM (if `terminate`), then waits up to timeoutMs, SIGKILL after that;
  // the exit status, or -1 if it had to be killed or died of a signal.
  static int finish(pid_t child, bool terminate, int timeoutMs = 3000);

 private:
  std::vector<std::string> childEnvironment() const;

  std::string folder_;
  std::string error_;
  pid_t pid_ = -1;
  std::vector<std::pair<std::string, std::string>> saved_;  // name, old value
  std::vector<std::string> unset_;                          // were not set
};

}  // namespace bw::test
