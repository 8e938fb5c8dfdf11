#include "support/private_pulse.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace bw::test {

namespace {

bool onPath(const char* tool) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    std::size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    const std::string candidate = dirs.substr(from, to - from) + "/" + tool;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    from = to + 1;
  }
  return false;
}

void sleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

std::string PrivatePulse::missingTools() {
  for (const char* tool : {"pulseaudio", "pactl"}) {
    if (!onPath(tool)) return std::string(tool) + " is not installed";
  }
  return "";
}

PrivatePulse::PrivatePulse() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "bw-pulse-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    error_ = std::string("cannot make a temporary folder: ") + std::strerror(errno);
    return;
  }
  folder_ = pattern;
  std::ofstream(folder_ + "/client.conf") << "autospawn = no\n";
}

PrivatePulse::~PrivatePulse() {
  stop();
  for (const auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  for (const std::string& name : unset_) unsetenv(name.c_str());
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

std::string PrivatePulse::serverAddress() const {
  return "unix:" + folder_ + "/pulse/native";
}

std::vector<std::pair<std::string, std::string>> PrivatePulse::environment() const {
  return {{"XDG_RUNTIME_DIR", folder_},
          {"PULSE_RUNTIME_PATH", folder_ + "/pulse"},
          {"HOME", folder_},
          {"PULSE_SERVER", serverAddress()},
          {"PULSE_CLIENTCONFIG", folder_ + "/client.conf"}};
}

void PrivatePulse::exportEnvironment() {
  for (const auto& [name, value] : environment()) {
    // A named copy: clang 14 cannot capture a structured binding.
    const std::string& key = name;
    const bool seen =
        std::any_of(saved_.begin(), saved_.end(), [&](auto& s) { return s.first == key; }) ||
        std::find(unset_.begin(), unset_.end(), name) != unset_.end();
    if (!seen) {
      if (const char* old = std::getenv(name.c_str())) {
        saved_.emplace_back(name, old);
      } else {
        unset_.push_back(name);
      }
    }
    setenv(name.c_str(), value.c_str(), 1);
  }
}

std::vector<std::string> PrivatePulse::childEnvironment() const {
  const auto ours = environment();
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& o : ours) replaced = replaced || o.first == name;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : ours) env.push_back(name + "=" + value);
  return env;
}

pid_t PrivatePulse::spawn(const std::vector<std::string>& argv,
                          const std::string& output) const {
  if (folder_.empty() || argv.empty()) return -1;
  // Everything the child needs is made before fork: after it, only calls
  // that are safe in a child of a threaded process.
  std::vector<std::string> env = childEnvironment();
  std::vector<char*> envp, args;
  for (std::string& s : env) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argCopy = argv;
  for (std::string& s : argCopy) args.push_back(s.data());
  args.push_back(nullptr);
  const std::string log = output.empty() ? folder_ + "/daemon.log" : output;
  const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (out < 0 || in < 0) {
    if (out >= 0) close(out);
    if (in >= 0) close(in);
    return -1;
  }
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  close(out);
  close(in);
  return child;
}

int PrivatePulse::finish(pid_t child, bool terminate, int timeoutMs) {
  if (child <= 0) return -1;
  if (terminate) kill(child, SIGTERM);
  int status = 0;
  for (int waited = 0;; waited += 5) {
    const pid_t r = waitpid(child, &status, WNOHANG);
    if (r == child) break;
    if (r < 0) return -1;
    if (waited >= timeoutMs) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    sleepMs(5);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int PrivatePulse::run(const std::vector<std::string>& argv, int timeoutMs,
                      const std::string& output) const {
  return finish(spawn(argv, output), false, timeoutMs);
}

bool PrivatePulse::start() {
  if (folder_.empty()) return false;
  if (pid_ > 0) return true;
  error_.clear();
  pid_ = spawn({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                "--realtime=no", "--high-priority=no", "--log-target=stderr",
                "--load=module-native-protocol-unix",
                "--load=module-null-sink sink_name=iqband rate=48000 channels=2",
                "--load=module-null-sink sink_name=speaker rate=48000 channels=2",
                "--load=module-always-sink"});
  if (pid_ < 0) {
    error_ = "cannot start pulseaudio";
    return false;
  }
  const std::string socket = folder_ + "/pulse/native";
  for (int waited = 0; waited < 10000; waited += 20) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ = "pulseaudio exited at start; see " + folder_ + "/daemon.log";
      return false;
    }
    if (access(socket.c_str(), F_OK) == 0 && run({"pactl", "info"}, 2000) == 0) {
      if (run({"pactl", "set-default-source", "iqband.monitor"}) == 0 &&
          run({"pactl", "set-default-sink", "speaker"}) == 0) {
        return true;
      }
      break;
    }
    sleepMs(20);
  }
  error_ = "pulseaudio did not answer within 10 s; see " + folder_ + "/daemon.log";
  stop();
  return false;
}

void PrivatePulse::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGCONT);
  finish(pid_, true, 3000);
  pid_ = -1;
}

void PrivatePulse::signal(int sig) const {
  if (pid_ > 0) kill(pid_, sig);
}

}  // namespace bw::test
