// Lanternfly with the real engine, streaming through a private PulseAudio
// daemon, on a virtual X server: started with --in 1 --out 1 --lsb, it turns
// an I/Q tone 1000 Hz below the band centre into 1000 Hz audio, while a tone
// 1500 Hz above the centre (the upper sideband) is gone from the output.
// When the sound server dies under it, an "Error" box says so, and its
// Restart brings the sound back once a server is up again.
// GoogleTest before Xlib: Xlib defines None, Bool, True and False as macros.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/private_pulse.h"

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;

// Writes a 16-bit stereo WAV file of frames (left, right).
void writeWav(const std::string& path, const std::vector<std::int16_t>& samples) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = static_cast<std::uint32_t>(samples.size() * 2);
  out.write("RIFF", 4), u32(36 + bytes), out.write("WAVEfmt ", 8), u32(16), u16(1), u16(2);
  u32(kRate), u32(kRate * 4), u16(4), u16(16), out.write("data", 4), u32(bytes);
  out.write(reinterpret_cast<const char*>(samples.data()), bytes);
}

// The left channel of a 16-bit stereo WAV file, to its end whatever the
// header's size says (a recorder cut short may leave it unset).
std::vector<double> readLeft(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<double> left;
  for (std::size_t at = 12; at + 8 <= all.size();) {
    std::uint32_t size = 0;
    std::memcpy(&size, &all[at + 4], 4);
    if (std::memcmp(&all[at], "data", 4) == 0) {
      for (std::size_t p = at + 8; p + 4 <= all.size(); p += 4) {
        std::int16_t v = 0;
        std::memcpy(&v, &all[p], 2);
        left.push_back(v);
      }
      break;
    }
    at += 8 + size;
  }
  return left;
}

// Power at `hz` of a Hann-windowed stretch (a direct DFT term).
double powerAt(const std::vector<double>& x, std::size_t from, std::size_t n, double hz) {
  double re = 0, im = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * kPi * i / (n - 1));
    re += w * x[from + i] * std::cos(2 * kPi * hz * i / kRate);
    im -= w * x[from + i] * std::sin(2 * kPi * hz * i / kRate);
  }
  return re * re + im * im;
}

pid_t startXServer(std::string& display) {
  // The display number comes back through a pipe once the server is ready.
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten",
           "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (!number.empty()) display = ":" + number;
  return pid;
}

// The viewable top-level window with this title, or 0.
Window windowNamed(Display* x, const char* title) {
  Window root = 0, parent = 0, found = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(x, DefaultRootWindow(x), &root, &parent, &children, &count)) return 0;
  for (unsigned int i = 0; i < count && found == 0; ++i) {
    char* name = nullptr;
    XWindowAttributes a;
    if (XFetchName(x, children[i], &name) && name != nullptr) {
      if (std::strcmp(name, title) == 0 && XGetWindowAttributes(x, children[i], &a) &&
          a.map_state == IsViewable) {
        found = children[i];
      }
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// Polls until windowNamed(title) is (or is no longer) there; false on timeout.
bool waitForWindow(Display* x, const char* title, bool present, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if ((windowNamed(x, title) != 0) == present) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// A private sound server and X server, the console and a tone to play.
class LiveConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string missing = bw::test::PrivatePulse::missingTools(); !missing.empty()) {
      GTEST_SKIP() << missing;
    }
    ASSERT_TRUE(pulse_.start()) << pulse_.error();
    xserver_ = startXServer(display_);
    ASSERT_FALSE(display_.empty()) << "Xvfb did not start";
    setenv("DISPLAY", display_.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    x_ = XOpenDisplay(display_.c_str());
    ASSERT_NE(x_, nullptr);
  }

  void TearDown() override {
    if (console_ > 0) bw::test::PrivatePulse::finish(console_, true);
    if (x_ != nullptr) XCloseDisplay(x_);
    if (xserver_ > 0) {
      kill(xserver_, SIGTERM);
      waitpid(xserver_, nullptr, 0);
    }
  }

  // Writes `seconds` of I/Q: e^(-j 2pi 1000 t) (below the centre) plus
  // e^(+j 2pi 1500 t) (above it), I in the left channel, Q in the right.
  std::string writeTones(int seconds) {
    const std::string tone = pulse_.folder() + "/tone.wav";
    std::vector<std::int16_t> iq;
    for (int n = 0; n < seconds * kRate; ++n) {
      const double t = static_cast<double>(n) / kRate;
      const double i = std::cos(2 * kPi * 1000 * t) + std::cos(2 * kPi * 1500 * t);
      const double q = -std::sin(2 * kPi * 1000 * t) + std::sin(2 * kPi * 1500 * t);
      iq.push_back(static_cast<std::int16_t>(std::lround(8000 * i)));
      iq.push_back(static_cast<std::int16_t>(std::lround(8000 * q)));
    }
    writeWav(tone, iq);
    return tone;
  }

  // Plays the tones into the band while recording the speaker; the left
  // channel heard. Empty when playing failed.
  std::vector<double> playAndRecord(int seconds) {
    const std::string tone = writeTones(seconds);
    const std::string heard = pulse_.folder() + "/heard.wav";
    const pid_t recorder =
        pulse_.spawn({"parecord", "--device=speaker.monitor", "--rate=48000", "--channels=2",
                      "--format=s16le", "--file-format=wav", heard});
    const int played = pulse_.run({"paplay", "--device=iqband", tone}, 20000);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    bw::test::PrivatePulse::finish(recorder, true);
    return played == 0 ? readLeft(heard) : std::vector<double>{};
  }

  void startConsole(std::vector<std::string> options) {
    options.insert(options.begin(), LANTERNFLY_PATH);
    console_ = pulse_.spawn(options, pulse_.folder() + "/console.log");
    ASSERT_TRUE(waitForWindow(x_, "Lanternfly", true, 20)) << "no console window";
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }

  bw::test::PrivatePulse pulse_;
  std::string display_;
  pid_t xserver_ = -1;
  pid_t console_ = -1;
  Display* x_ = nullptr;
};

TEST_F(LiveConsoleTest, LowerSidebandToneComesOutAndUpperIsGone) {
  startConsole({"--in", "1", "--out", "1", "--lsb"});
  const std::vector<double> left = playAndRecord(6);
  // The loudest second of the recording lies inside the played stretch.
  ASSERT_GT(left.size(), static_cast<std::size_t>(4 * kRate));
  std::size_t best = 0;
  double bestEnergy = -1;
  for (std::size_t from = 0; from + kRate <= left.size(); from += kRate / 4) {
    double e = 0;
    for (std::size_t i = from; i < from + kRate; ++i) e += left[i] * left[i];
    if (e > bestEnergy) bestEnergy = e, best = from;
  }
  const double wanted = powerAt(left, best, kRate, 1000);
  const double unwanted = powerAt(left, best, kRate, 1500);
  const double rms = std::sqrt(bestEnergy / kRate);
  std::printf("audio rms %.0f, 1000 Hz over 1500 Hz: %.1f dB\n", rms,
              10 * std::log10(wanted / (unwanted + 1e-9)));
  EXPECT_GT(rms, 100.0) << "no audio came out";
  EXPECT_GT(10 * std::log10(wanted / (unwanted + 1e-9)), 40.0)
      << "1000 Hz " << wanted << ", 1500 Hz " << unwanted;
}

TEST_F(LiveConsoleTest, ALostSoundServerIsReportedAndRestartWorksOnceItIsBack) {
  startConsole({"--in", "1", "--out", "1"});
  pulse_.stop();
  ASSERT_TRUE(waitForWindow(x_, "Error", true, 20)) << "the lost server was not reported";
  // The window stays: the box is modal over it, not instead of it.
  EXPECT_NE(windowNamed(x_, "Lanternfly"), 0u);

  ASSERT_TRUE(pulse_.start()) << pulse_.error();
  // Return presses the box's default button, Restart.
  const Window box = windowNamed(x_, "Error");
  XSetInputFocus(x_, box, RevertToParent, CurrentTime);
  XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, XK_Return), 1, 0);
  XTestFakeKeyEvent(x_, XKeysymToKeycode(x_, XK_Return), 0, 0);
  XFlush(x_);
  ASSERT_TRUE(waitForWindow(x_, "Error", false, 10));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(windowNamed(x_, "Error"), 0u) << "the restart failed";

  // Sound again: the upper-sideband tone at 1500 Hz.
  const std::vector<double> left = playAndRecord(3);
  ASSERT_GT(left.size(), static_cast<std::size_t>(2 * kRate));
  double peak = 0;
  for (double v : left) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 1000.0) << "no audio after the restart";
}

}  // namespace
