// Lanternfly with the real libBrackwell.so and its simulated front end, on a
// virtual X server started by the test: the window appears where it should,
// the picture shows the grid and yellow columns that change from frame to
// frame, a click on the slider retunes (the offset readout appears), and the
// window's close request ends the program with exit code 0. Input is real
// X input (XTest); the picture is read back from the X server.
// GoogleTest before Xlib: Xlib defines None, Bool, True and False as macros.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "x_display.h"

namespace {

using namespace lanternfly::test;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr unsigned long kBlack = 0x000000;
constexpr unsigned long kYellow = 0xC8C800;  // (200, 200, 0)
constexpr unsigned long kRed = 0xC80000;     // (200, 0, 0)

// A pixel block read back from a window, as 0xRRGGBB values.
struct Pixels {
  int width = 0, height = 0;
  std::vector<unsigned long> rgb;
  unsigned long at(int x, int y) const { return rgb[static_cast<size_t>(y * width + x)]; }
  bool operator==(const Pixels&) const = default;
};

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    xserver_ = startXServer(displayName_);
    ASSERT_FALSE(displayName_.empty()) << "Xvfb did not start";
    display_ = XOpenDisplay(displayName_.c_str());
    ASSERT_NE(display_, nullptr) << "cannot open display " << displayName_;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    ASSERT_TRUE(XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor));
  }

  void TearDown() override {
    if (program_ > 0) {
      kill(program_, SIGKILL);
      waitpid(program_, nullptr, 0);
    }
    if (display_ != nullptr) XCloseDisplay(display_);
    stopXServer(xserver_);
  }

  void startProgram() {
    program_ = fork();
    ASSERT_GE(program_, 0);
    if (program_ == 0) {
      setenv("DISPLAY", displayName_.c_str(), 1);
      setenv("QT_QPA_PLATFORM", "xcb", 1);
      unsetenv("WAYLAND_DISPLAY");
      execl(LANTERNFLY_PATH, "Lanternfly", static_cast<char*>(nullptr));
      _exit(127);
    }
  }

  Pixels grab(Window window, int x, int y, int width, int height) {
    Pixels pixels;
    XImage* image = XGetImage(display_, window, x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) return pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.rgb.reserve(static_cast<size_t>(width * height));
    for (int row = 0; row < height; ++row) {
      for (int col = 0; col < width; ++col) pixels.rgb.push_back(XGetPixel(image, col, row) & 0xFFFFFF);
    }
    XDestroyImage(image);
    return pixels;
  }

  // The program's exit status once it has ended, waiting up to `limit`.
  std::optional<int> waitForExit(std::chrono::milliseconds limit) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
      int status = 0;
      if (waitpid(program_, &status, WNOHANG) == program_) {
        program_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(50ms);
    }
    return std::nullopt;
  }

  void click(int x, int y) {
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XFlush(display_);
    std::this_thread::sleep_for(50ms);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XFlush(display_);
  }

  void requestClose(Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window, False, NoEventMask, &event);
    XFlush(display_);
  }

  std::string displayName_;
  pid_t xserver_ = 0;
  pid_t program_ = 0;
  Display* display_ = nullptr;
};

bool hasOtherThan(const Pixels& pixels, unsigned long colour) {
  for (unsigned long p : pixels.rgb) {
    if (p != colour) return true;
  }
  return false;
}

TEST_F(EndToEndTest, LiveSpectrumRetuneAndClose) {
  startProgram();

  ASSERT_TRUE(waitForWindow(display_, "Lanternfly", true, 20))
      << "the Lanternfly window did not appear";
  const Window window = windowNamed(display_, "Lanternfly");

  XWindowAttributes attributes;
  ASSERT_TRUE(XGetWindowAttributes(display_, window, &attributes));
  EXPECT_EQ(attributes.width, 531);
  EXPECT_EQ(attributes.height, 313);
  EXPECT_EQ(attributes.x, 257);
  EXPECT_EQ(attributes.y, 303);

  std::this_thread::sleep_for(1s);

  // The picture: only black, yellow and red; every grid row red; columns.
  const Pixels first = grab(window, 10, 10, 512, 200);
  ASSERT_EQ(first.width, 512);
  int yellow = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 512; ++x) {
      const unsigned long p = first.at(x, y);
      const bool grid = y % 13 == 0 && y >= 13;
      if (grid) {
        ASSERT_EQ(p, kRed) << "grid row " << y << " at x " << x;
      } else {
        ASSERT_TRUE(p == kBlack || p == kYellow) << std::hex << p << " at " << x << "," << y;
        yellow += p == kYellow;
      }
    }
  }
  EXPECT_GT(yellow, 512) << "no spectrum columns in the picture";

  // The columns change from frame to frame (noise and keyed CW).
  bool changed = false;
  for (auto until = Clock::now() + 5s; !changed && Clock::now() < until;) {
    std::this_thread::sleep_for(150ms);
    changed = !(grab(window, 10, 10, 512, 200) == first);
  }
  EXPECT_TRUE(changed) << "the picture did not change between frames";

  // The signal readout shows a value; the offset readout is still empty.
  const Pixels offsetBefore = grab(window, 10, 240, 100, 20);
  ASSERT_EQ(offsetBefore.width, 100);
  const unsigned long background = offsetBefore.at(0, 0);
  EXPECT_FALSE(hasOtherThan(offsetBefore, background)) << "offset readout not empty at start";
  EXPECT_TRUE(hasOtherThan(grab(window, 200, 240, 100, 20), background))
      << "signal readout is empty";

  // A click on the slider's groove right of the thumb moves it and retunes:
  // the offset readout shows the new offset.
  click(attributes.x + 10 + 480, attributes.y + 260 + 20);
  bool retuned = false;
  for (auto until = Clock::now() + 5s; !retuned && Clock::now() < until;) {
    std::this_thread::sleep_for(100ms);
    retuned = hasOtherThan(grab(window, 10, 240, 100, 20), background);
  }
  EXPECT_TRUE(retuned) << "the offset readout did not change after a slider click";

  // The close request ends the program with code 0.
  requestClose(window);
  const std::optional<int> code = waitForExit(20s);
  ASSERT_TRUE(code.has_value()) << "Lanternfly did not end after the close request";
  EXPECT_EQ(*code, 0);
}

}  // namespace
