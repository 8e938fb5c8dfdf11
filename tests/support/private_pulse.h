// A private PulseAudio server for tests that stream through a real sound
// server: its own temporary runtime folder (XDG_RUNTIME_DIR, HOME, the socket,
// the cookie, a client configuration without autospawn), no system instance.
// The server is either PulseAudio itself (no D-Bus) or PipeWire with its
// PulseAudio server (pipewire, wireplumber and pipewire-pulse on a private
// session bus of their own, which WirePlumber needs). It carries two 48 kHz
// stereo sinks, "iqband" (whose monitor is the default source) and "speaker"
// (the default sink): null sinks, or with Sinks::OneMonitor the two halves of
// a four-channel null sink "mix" (iqband its front pair, speaker its rear
// pair), so that one recording of mix's monitor hears both on one clock.
// Several servers may run at once in different folders. Works as root.
//
// The server's processes are children of the test process (killed with it
// if the forking thread dies); stop() ends them by PID and the destructor
// removes the folder. Not thread-safe: one test thread drives it.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace bw::test {

enum class SoundServer { PulseAudio, PipeWire };
enum class Sinks { Separate, OneMonitor };

class PrivatePulse {
 public:
  // Empty when the server's programs and pactl are on PATH, else why a test
  // must skip.
  static std::string missingTools(SoundServer server = SoundServer::PulseAudio);

  // Makes the folder; start() runs the server.
  explicit PrivatePulse(SoundServer server = SoundServer::PulseAudio,
                        Sinks sinks = Sinks::Separate);
  // Stops the daemon, restores the environment exportEnvironment() changed
  // and removes the folder.
  ~PrivatePulse();
  PrivatePulse(const PrivatePulse&) = delete;
  PrivatePulse& operator=(const PrivatePulse&) = delete;

  // Starts the daemon (again, after stop()) and waits up to 10 s until
  // `pactl info` answers and the defaults are set. false with a message in
  // error() when it did not come up.
  bool start();
  // SIGCONT (it may have been stopped), SIGTERM, and SIGKILL after 3 s, to
  // each of its processes, last started first; reaps them. Nothing when not
  // running.
  void stop();
  // Signals the process that serves the PulseAudio protocol (SIGSTOP,
  // SIGCONT, SIGKILL...) without reaping it.
  void signal(int sig) const;

  // The process that serves the PulseAudio protocol.
  pid_t pid() const { return pid_; }
  SoundServer server() const { return server_; }
  const std::string& folder() const { return folder_; }
  const std::string& error() const { return error_; }
  // "unix:<folder>/pulse/native".
  std::string serverAddress() const;

  // NAME=value pairs a client of this server needs (XDG_RUNTIME_DIR,
  // PULSE_RUNTIME_PATH, HOME, PULSE_SERVER, PULSE_CLIENTCONFIG, and for
  // PipeWire its session bus).
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
  // Starts one of the server's processes; false (with error_) when it did
  // not start or `ready` was not true within 10 s.
  template <typename Ready>
  bool launch(const std::vector<std::string>& argv, Ready ready);
  bool loadSinks();

  SoundServer server_;
  Sinks sinks_;
  std::string folder_;
  std::string error_;
  pid_t pid_ = -1;
  std::vector<pid_t> pids_;  // every process of the server, in start order
  std::vector<std::pair<std::string, std::string>> saved_;  // name, old value
  std::vector<std::string> unset_;                          // were not set
};

}  // namespace bw::test
