#include "rx_test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <complex>
#include <fstream>
#include <numbers>
#include <sstream>

extern char** environ;

namespace bw::rx::test {

Frames complexTone(double amplitude, double frequencyHz, int rate,
                   std::int64_t frames) {
  Frames out(static_cast<std::size_t>(2 * frames));
  for (std::int64_t n = 0; n < frames; ++n) {
    const double phase = 2.0 * std::numbers::pi * frequencyHz * n / rate;
    out[2 * n] = static_cast<std::int32_t>(std::lround(amplitude * std::cos(phase)));
    out[2 * n + 1] = static_cast<std::int32_t>(std::lround(amplitude * std::sin(phase)));
  }
  return out;
}

pid_t spawnRx(const std::vector<std::string>& args, int stdinFd, int stderrFd) {
  std::vector<std::string> all = {BW_RX_PATH};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
  pid_t pid = -1;
  if (posix_spawn(&pid, BW_RX_PATH, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

namespace {
RunResult runWith(const std::vector<std::string>& args, const std::string* stdinBytes) {
  RunResult result;
  int fds[2] = {-1, -1};
  if (stdinBytes && ::pipe2(fds, O_CLOEXEC) != 0) return result;
  char errName[] = "/tmp/bw_rx_stderr_XXXXXX";
  const int errFd = mkstemp(errName);
  if (errFd < 0) {
    for (int fd : fds) if (fd >= 0) ::close(fd);
    return result;
  }
  const pid_t pid = spawnRx(args, fds[0], errFd);
  if (stdinBytes) {
    ::close(fds[0]);
    // Whatever the program leaves unread ends in EPIPE, not in a signal.
    const auto old = std::signal(SIGPIPE, SIG_IGN);
    for (std::size_t at = 0; pid > 0 && at < stdinBytes->size();) {
      const ssize_t n = ::write(fds[1], stdinBytes->data() + at, stdinBytes->size() - at);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::close(fds[1]);
    std::signal(SIGPIPE, old);
  }
  if (pid > 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  close(errFd);
  std::ifstream in(errName);
  std::stringstream text;
  text << in.rdbuf();
  result.errorText = text.str();
  unlink(errName);
  return result;
}
}  // namespace

RunResult runRx(const std::vector<std::string>& args) { return runWith(args, nullptr); }

RunResult runRx(const std::vector<std::string>& args, const std::string& stdinBytes) {
  return runWith(args, &stdinBytes);
}

double toneAmplitude(const std::vector<double>& x, double frequencyHz, int rate,
                     std::size_t from, std::size_t length) {
  std::complex<double> sum = 0.0;
  for (std::size_t n = 0; n < length; ++n) {
    const double phase = -2.0 * std::numbers::pi * frequencyHz * double(n) / rate;
    sum += x[from + n] * std::polar(1.0, phase);
  }
  return 2.0 * std::abs(sum) / double(length);
}

double rms(const std::vector<double>& x, std::size_t from, std::size_t length) {
  double sum = 0.0;
  for (std::size_t n = from; n < from + length; ++n) sum += x[n] * x[n];
  return std::sqrt(sum / double(length));
}

void RxTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "bw_rx_test_XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void RxTest::TearDown() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::vector<std::string> RxTest::folderContents() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace bw::rx::test
