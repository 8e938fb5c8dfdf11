// The display thread: about ten times a second it reads the signal value and
// the spectrum from the engine, draws the whole picture off-screen and hands
// the finished frame with the readout text to the window in one step.
#pragma once

#include <QImage>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "engine_library.h"

namespace lanternfly {

// Spectrum buffer length: room for the largest transform the console's
// order can ask for, with one spare element (indices 0..8192).
inline constexpr std::size_t kSpectrumBufferValues = 8193;
inline constexpr int kFramePauseMs = 100;

class DisplayLoop {
 public:
  // Receives each finished frame and its signal text on the display thread;
  // it must pass them on to the window's thread (e.g. a queued call).
  using FrameSink = std::function<void(QImage frame, QString signalText)>;

  // readSignal and readSpectrum may be null (an operation the engine does
  // not export); a null one is never called. `order` is the block order the
  // engine was configured with. The loop owns `spectrum` (zero-filled,
  // kSpectrumBufferValues long) for as long as it runs.
  DisplayLoop(decltype(&::sdrGetSmetr) readSignal,
              decltype(&::sdrGetSpectrum) readSpectrum, int order,
              std::vector<double> spectrum, FrameSink sink);
  DisplayLoop(const DisplayLoop&) = delete;
  DisplayLoop& operator=(const DisplayLoop&) = delete;
  ~DisplayLoop() { stop(); }

  // Starts the thread (once).
  void start();
  // Asks the thread to stop and waits until it has finished its current
  // frame. Returns at most one frame plus a short slice of the pause later.
  void stop();

 private:
  void run();
  void drawOneFrame();

  decltype(&::sdrGetSmetr) readSignal_;
  decltype(&::sdrGetSpectrum) readSpectrum_;
  int order_;
  std::vector<double> spectrum_;
  FrameSink sink_;
  std::atomic<bool> stopRequested_{false};
  std::thread thread_;
};

}  // namespace lanternfly
