#include "display_loop.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "spectrum_frame.h"

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
  stopRequested_.store(false);
  delivered_ = false;
  thread_ = std::thread([this] { run(); });
}

void DisplayLoop::stop() {
  stopRequested_.store(true);
  if (thread_.joinable()) thread_.join();
}

void DisplayLoop::run() {
  using Clock = std::chrono::steady_clock;
  // The pause is slept in short slices so a stop request is seen soon.
  constexpr auto kSlice = std::chrono::milliseconds(10);
  while (!stopRequested_.load()) {
    drawOneFrame();
    const auto wakeAt = Clock::now() + std::chrono::milliseconds(kFramePauseMs);
    for (auto now = Clock::now(); now < wakeAt && !stopRequested_.load();
         now = Clock::now()) {
      std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, wakeAt - now));
    }
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
  frame.picture = drawSpectrumFrame(spectrum_, order_);
  sink_(std::move(frame));
}

}  // namespace lanternfly
