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
  QString signalText;
  if (readSignal_ != nullptr) signalText = signalReadoutText(readSignal_());
  // The status is not needed: a stopped engine leaves the buffer as it was.
  if (readSpectrum_ != nullptr) readSpectrum_(spectrum_.data());
  QImage frame = drawSpectrumFrame(spectrum_, order_);
  sink_(std::move(frame), std::move(signalText));
}

}  // namespace lanternfly
