#include "views/display_loop.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "views/spectrum_frame.h"

namespace lanternfly {

DisplayLoop::DisplayLoop(decltype(&::sdrGetSmetr) readSignal,
                         decltype(&::sdrGetSpectrum) readSpectrum, int order,
                         std::vector<double> spectrum, FrameSink sink)
    : readSignal_(readSignal),
      readSpectrum_(readSpectrum),
      order_(order),
      spectrum_(std::move(spectrum)),
      sink_(std::move(sink)) {
  spectrum_.resize(std::max(spectrum_.size(), kSpectrumBufferValues), 0.0);
}

void DisplayLoop::start() {
  if (thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopRequested_ = false;
  }
  delivered_ = false;
  thread_ = std::thread([this] { run(); });
}

void DisplayLoop::stop() {
  {
    const std::lock_guard lock(mutex_);
    stopRequested_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DisplayLoop::run() {
  // One wake-up per frame: the pause is a wait that a stop request cuts
  // short, not a poll.
  std::unique_lock lock(mutex_);
  while (!stopRequested_) {
    lock.unlock();
    drawOneFrame();
    lock.lock();
    const auto wakeAt =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kFramePauseMs);
    wake_.wait_until(lock, wakeAt, [this] { return stopRequested_; });
  }
}

void DisplayLoop::drawOneFrame() {
  DisplayFrame frame;
  if (readSignal_ != nullptr) frame.signalText = signalReadoutText(readSignal_());
  // A stopped engine leaves the buffer as it was; the picture is drawn from
  // it all the same. Only a change from delivering to "not running" counts
  // as the engine having stopped: an engine that never started is no news.
  if (readSpectrum_ != nullptr) {
    const int status = readSpectrum_(spectrum_.data());
    if (status == SDR_OK) {
      delivered_ = true;
      const std::size_t bins = std::min(spectrum_.size(), std::size_t{2} << order_);
      frame.spectrum.assign(spectrum_.begin(), spectrum_.begin() + static_cast<std::ptrdiff_t>(bins));
    } else if (status == SDR_NOT_RUNNING && delivered_) {
      delivered_ = false;
      frame.engineStopped = true;
    }
  }
  if (pictureWanted_.load(std::memory_order_relaxed)) {
    frame.picture = drawSpectrumFrame(spectrum_, order_);
  }
  sink_(std::move(frame));
}

}  // namespace lanternfly
