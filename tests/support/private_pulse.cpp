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

std::string PrivatePulse::missingTools(SoundServer server) {
  const std::vector<const char*> tools =
      server == SoundServer::PulseAudio
          ? std::vector<const char*>{"pulseaudio", "pactl"}
          : std::vector<const char*>{"dbus-daemon", "pipewire", "wireplumber",
                                     "pipewire-pulse", "pactl"};
  for (const char* tool : tools) {
    if (!onPath(tool)) return std::string(tool) + " is not installed";
  }
  return "";
}

PrivatePulse::PrivatePulse(SoundServer server, Sinks sinks) : server_(server), sinks_(sinks) {
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
  std::vector<std::pair<std::string, std::string>> env{
      {"XDG_RUNTIME_DIR", folder_},
      {"PULSE_RUNTIME_PATH", folder_ + "/pulse"},
      {"HOME", folder_},
      {"PULSE_SERVER", serverAddress()},
      {"PULSE_CLIENTCONFIG", folder_ + "/client.conf"}};
  if (server_ == SoundServer::PipeWire) {
    env.emplace_back("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder_ + "/bus");
    env.emplace_back("PIPEWIRE_RUNTIME_DIR", folder_);
  }
  return env;
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

template <typename Ready>
bool PrivatePulse::launch(const std::vector<std::string>& argv, Ready ready) {
  const pid_t child = spawn(argv);
  if (child < 0) {
    error_ = "cannot start " + argv[0];
    return false;
  }
  pids_.push_back(child);
  for (int waited = 0; waited < 10000; waited += 20) {
    int status = 0;
    if (waitpid(child, &status, WNOHANG) == child) {
      pids_.pop_back();
      error_ = argv[0] + " exited at start; see " + folder_ + "/daemon.log";
      return false;
    }
    if (ready()) return true;
    sleepMs(20);
  }
  error_ = argv[0] + " did not answer within 10 s; see " + folder_ + "/daemon.log";
  return false;
}

bool PrivatePulse::loadSinks() {
  std::vector<std::vector<std::string>> modules;
  if (sinks_ == Sinks::Separate) {
    modules = {{"module-null-sink", "sink_name=iqband", "rate=48000", "channels=2"},
               {"module-null-sink", "sink_name=speaker", "rate=48000", "channels=2"}};
  } else {
    const std::string pair = "channel_map=front-left,front-right";
    modules = {{"module-null-sink", "sink_name=mix", "rate=48000", "channels=4",
                "channel_map=front-left,front-right,rear-left,rear-right"},
               {"module-remap-sink", "sink_name=iqband", "master=mix", "channels=2", "remix=no",
                pair, "master_channel_map=front-left,front-right"},
               {"module-remap-sink", "sink_name=speaker", "master=mix", "channels=2", "remix=no",
                pair, "master_channel_map=rear-left,rear-right"}};
  }
  for (std::vector<std::string>& m : modules) {
    m.insert(m.begin(), {"pactl", "load-module"});
    if (run(m) != 0) return false;
  }
  if (run({"pactl", "set-default-source", "iqband.monitor"}) != 0 ||
      run({"pactl", "set-default-sink", "speaker"}) != 0) {
    return false;
  }
  // PipeWire's session manager takes the defaults up a moment later.
  const std::string answer = folder_ + "/default-sink.txt";
  for (int waited = 0; waited < 10000; waited += 20) {
    std::filesystem::remove(answer);
    if (run({"pactl", "get-default-sink"}, 2000, answer) == 0) {
      std::ifstream in(answer);
      std::string name;
      if (std::getline(in, name) && name == "speaker") return true;
    }
    sleepMs(20);
  }
  return false;
}

bool PrivatePulse::start() {
  if (folder_.empty()) return false;
  if (!pids_.empty()) return true;
  error_.clear();
  const std::string socket = folder_ + "/pulse/native";
  auto answers = [&] {
    return access(socket.c_str(), F_OK) == 0 && run({"pactl", "info"}, 2000) == 0;
  };
  auto exists = [](std::string path) {
    return [path] { return access(path.c_str(), F_OK) == 0; };
  };
  // Real time where the system grants it, as a desktop's PulseAudio asks
  // for by default and PipeWire's rt module does.
  const bool up =
      server_ == SoundServer::PulseAudio
          ? launch({"pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "-n",
                    "--realtime=yes", "--high-priority=yes", "--log-target=stderr",
                    "--load=module-native-protocol-unix", "--load=module-always-sink"},
                   answers)
          : launch({"dbus-daemon", "--session", "--nofork", "--nopidfile",
                    "--address=unix:path=" + folder_ + "/bus"},
                   exists(folder_ + "/bus")) &&
                launch({"pipewire"}, exists(folder_ + "/pipewire-0")) &&
                launch({"wireplumber"}, [] { return true; }) &&
                launch({"pipewire-pulse"}, answers);
  if (up) {
    pid_ = pids_.back();
    if (loadSinks()) return true;
    error_ = "the sinks could not be set up; see " + folder_ + "/daemon.log";
  }
  stop();
  return false;
}

void PrivatePulse::stop() {
  for (auto p = pids_.rbegin(); p != pids_.rend(); ++p) {
    kill(*p, SIGCONT);
    finish(*p, true, 3000);
  }
  pids_.clear();
  pid_ = -1;
}

void PrivatePulse::signal(int sig) const {
  if (pid_ > 0) kill(pid_, sig);
}

}  // namespace bw::test
