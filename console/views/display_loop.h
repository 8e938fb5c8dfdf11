// The display thread: about ten times a second it reads the signal value and
// the spectrum from the engine, draws the whole picture off-screen (while
// the picture is shown) and hands the finished frame with the readout text
// to the window in one step.
#pragma once

#include <QImage>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/engine_library.h"

namespace lanternfly {

// Spectrum buffer length: room for the largest transform the console's
// order can ask for, with one spare element (indices 0..8192).
inline constexpr std::size_t kSpectrumBufferValues = 8193;
inline constexpr int kFramePauseMs = 100;

// One frame as the display thread hands it over.
struct DisplayFrame {
  QImage picture;      // the finished spectrum picture; null while not wanted
  QString signalText;  // the signal readout's text
  // The spectrum as fetched (2^(order+1) magnitudes), for the pointer's
  // readout and the waterfall; empty while the engine delivers none.
  std::vector<double> spectrum;
  // True in the one frame where the engine, after delivering spectra, first
  // answered that it is not running: its sound device stopped delivering.
  bool engineStopped = false;
};

class DisplayLoop {
 public:
  // Receives each finished frame on the display thread; it must pass it on
  // to the window's thread (e.g. a queued call).
  using FrameSink = std::function<void(DisplayFrame frame)>;

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

  // The block order the engine is configured with from now on; while the
  // loop is stopped.
  void setOrder(int order) { order_ = order; }
  // Whether frames carry the spectrum picture; the window hides it behind
  // the operator view, and drawing it would be work for nothing. From any
  // thread; the next frame follows it.
  void setPictureWanted(bool wanted) { pictureWanted_.store(wanted, std::memory_order_relaxed); }
  // Starts the thread; after stop() it may be started again.
  void start();
  // Asks the thread to stop and waits until it has finished its current
  // frame: a pause between frames ends at once.
  void stop();

 private:
  void run();
  void drawOneFrame();

  decltype(&::sdrGetSmetr) readSignal_;
  decltype(&::sdrGetSpectrum) readSpectrum_;
  int order_;
  std::vector<double> spectrum_;
  FrameSink sink_;
  bool delivered_ = false;  // display thread only; reset by start()
  std::atomic<bool> pictureWanted_{true};
  std::mutex mutex_;  // guards stopRequested_ for the pause's wait
  std::condition_variable wake_;
  bool stopRequested_ = false;
  std::thread thread_;
};

}  // namespace lanternfly
