// Lanternfly with the real engine, streaming through a private PulseAudio
// daemon, on a virtual X server: started with --in 1 --out 1 --lsb, it turns
// an I/Q tone 1000 Hz below the band centre into 1000 Hz audio, while a tone
// 1500 Hz above the centre (the upper sideband) is gone from the output.
// When the sound server dies under it, an "Error" box says so, and its
// Restart brings the sound back once a server is up again.
// GoogleTest before Xlib: Xlib defines None, Bool, True and False as macros.
#include <gtest/gtest.h>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "live_audio.h"
#include "x_display.h"

namespace {

using namespace lanternfly::test;

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
    stopXServer(xserver_);
  }

  // Plays `seconds` of I/Q into the band, a tone 1000 Hz below the centre
  // and one 1500 Hz above it, while recording the speaker; the left channel
  // heard. Empty when playing failed.
  std::vector<double> playAndRecord(int seconds) {
    const std::string tone = pulse_.folder() + "/tone.wav";
    writeIqTones(tone, {-1000, 1500}, seconds);
    return lanternfly::test::playAndRecord(pulse_, tone);
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
  ASSERT_GT(left.size(), static_cast<std::size_t>(4 * kLiveRate));
  const ToneContrast heard = contrastInLoudestSecond(left, 1000, 1500);
  EXPECT_GT(heard.rms, 100.0) << "no audio came out";
  EXPECT_GT(heard.db, 40.0) << "the upper sideband came through";
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
  ASSERT_GT(left.size(), static_cast<std::size_t>(2 * kLiveRate));
  double peak = 0;
  for (double v : left) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 1000.0) << "no audio after the restart";
}

}  // namespace
