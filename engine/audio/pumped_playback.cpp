#include "audio/pumped_playback.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>

#include "audio/software_volume.h"
#include "primitives/pcm_codec.h"

namespace bw::audio {

PumpedPlaybackStream::PumpedPlaybackStream(
    const WaveFormat& format, const std::atomic<std::uint32_t>* volume)
    : format_(format), volume_(volume), matcher_(format) {}

void PumpedPlaybackStream::watchFailure(PlaybackFailed failed,
                                        std::uintptr_t instance) {
  failedInstance_.store(instance);
  failed_.store(failed);
  // A failure before the watch is told now; one racing with it may be told
  // twice, which the watcher takes as once.
  if (hasFailed_.load() && failed != nullptr) failed(instance);
}

void PumpedPlaybackStream::reportFailure() noexcept {
  hasFailed_.store(true);
  if (PlaybackFailed f = failed_.load()) f(failedInstance_.load());
}

Result PumpedPlaybackStream::write(WaveHeader& header) {
  if (closed_) return Result::InvalidState;
  const std::uint32_t flags = header.dwFlags.load(std::memory_order_relaxed);
  if (!canQueue(header, flags)) return Result::InvalidState;
  const std::uint32_t w = written_.load(std::memory_order_relaxed);
  if (w - played_.load(std::memory_order_acquire) == kQueueCapacity) {
    return Result::QueueFull;
  }
  header.dwFlags.store((flags & ~kHeaderDone) | kHeaderInQueue,
                       std::memory_order_relaxed);
  matcher_.noteWrite(header.dwBufferLength / format_.nBlockAlign, now());
  queue_[w % kQueueCapacity] = &header;
  written_.store(w + 1, std::memory_order_release);
  queued();
  return Result::Ok;
}

std::size_t PumpedPlaybackStream::queuedFrames() const noexcept {
  const std::uint32_t w = written_.load(std::memory_order_acquire);
  std::size_t bytes = 0;
  for (std::uint32_t p = played_.load(std::memory_order_relaxed); p != w; ++p) {
    bytes += queue_[p % kQueueCapacity]->dwBufferLength;
  }
  return (bytes - std::min<std::size_t>(bytes, playPos_)) / format_.nBlockAlign;
}

std::size_t PumpedPlaybackStream::readyFrames() const noexcept {
  const std::size_t queued = queuedFrames();
  if (primed_) return matcher_.playableFrames(prerollBytes_ / format_.nBlockAlign + queued);
  if (queued == 0) return 0;
  // take() starts with this much silence once it sees the first buffer.
  const std::size_t buffer = queue_[played_.load(std::memory_order_relaxed) % kQueueCapacity]
                                 ->dwBufferLength / format_.nBlockAlign;
  return matcher_.playableFrames(queued + prerollFrames(buffer));
}

std::size_t PumpedPlaybackStream::prerollFrames(std::size_t bufferFrames) const noexcept {
  return targetFrames_ > 0 ? std::min(keptTarget(), bufferFrames) : bufferFrames;
}

void PumpedPlaybackStream::advance(WaveHeader& h, std::uint32_t p,
                                   std::size_t n) noexcept {
  playPos_ += static_cast<std::uint32_t>(n);
  if (playPos_ < h.dwBufferLength) return;
  playPos_ = 0;
  const std::uint32_t flags = h.dwFlags.load(std::memory_order_relaxed);
  h.dwFlags.store((flags & ~kHeaderInQueue) | kHeaderDone, std::memory_order_release);
  played_.store(p + 1, std::memory_order_release);
  buffers_.fetch_add(1, std::memory_order_relaxed);
}

std::size_t PumpedPlaybackStream::drop(std::size_t frames, bool keepLevel) noexcept {
  std::size_t need = frames * format_.nBlockAlign;
  while (need > 0) {
    const std::uint32_t p = played_.load(std::memory_order_relaxed);
    if (written_.load(std::memory_order_acquire) == p) break;
    WaveHeader& h = *queue_[p % kQueueCapacity];
    const std::size_t n = std::min<std::size_t>(need, h.dwBufferLength - playPos_);
    advance(h, p, n);
    need -= n;
  }
  const std::size_t dropped = frames - need / format_.nBlockAlign;
  trimmed_.fetch_add(dropped, std::memory_order_relaxed);
  matcher_.skip(dropped, keepLevel);
  return dropped;
}

void PumpedPlaybackStream::render(std::uint8_t* out, std::size_t frames,
                                  std::size_t deviceFrames) noexcept {
  // Trimming holds the queue on one clock. On two, the rate matcher holds
  // it once it has taken its level, and a trim of the milliseconds by which
  // the queue wanders would only pull it away from that; until then (a
  // start, an underrun) trims take out a backlog, so that the level it
  // takes is the target's: else a sound server slow to start leaves its
  // backlog in the delay for good, and the engine's ring, which holds a few
  // buffers, overflows at the next hiccup. A backlog of more than a step
  // while it holds its level is no drift (clocks apart by a thousandth
  // take a second per millisecond) but a device that stalled and skipped
  // what it missed: trimmed too, rather than drained by the matcher at its
  // largest correction, whose integral it would wind up into an overshoot.
  // After a gap the device reported, any rise is such a step: a server that
  // runs dry for a few milliseconds now and then plays on without what it
  // missed, and each rise would otherwise read as drift, drained by reading
  // faster than the clocks are apart. That rise is measured on the queue's
  // mean over a window, which spans whole buffers and so averages out the
  // writes' sawtooth: a window's low moves by a pull's size from window to
  // window, and a step taken from lows was a few milliseconds off each
  // time, which the loop then drained at a few hundred ppm.
  // What the matcher already took from the queue plays before the rest.
  std::size_t available = queuedFrames() + matcher_.heldFrames();
  if (targetFrames_ > 0 && primed_ && prerollBytes_ == 0) {
    const bool matched =
        clocksMayDiffer_.load(std::memory_order_relaxed) && matcher_.holdsLevel();
    const std::size_t level = available + deviceFrames;
    windowLow_ = std::min(windowLow_, level);
    windowArea_ += double(level) * double(frames);
    windowFrames_ += frames;
    // The low is seen before a render: up to the largest render less.
    windowRender_ = std::max(windowRender_, frames);
    if (windowFrames_ >= trimWindowFrames()) {
      // What the queue came down to over the last windows (a late write
      // takes one window's low further down): a step shows against the
      // highest of them, and is taken out down to that.
      const std::size_t before = *std::max_element(lows_.begin(), lows_.end());
      const bool full = windows_ >= lows_.size();
      if (gapWindows_ == kGapWindows) {
        // The first window end since the gap: the level before it is the
        // mean of the windows that ended before it; with fewer of them,
        // nothing is trimmed.
        double sum = 0.0;
        for (const double m : means_) sum += m;
        gapMean_ = full ? sum / double(means_.size()) : std::numeric_limits<double>::infinity();
      }
      const double mean = windowArea_ / double(windowFrames_);
      std::size_t& slot = lows_[windows_ % lows_.size()];
      double& meanSlot = means_[windows_++ % means_.size()];
      slot = windowLow_;
      meanSlot = mean;
      const bool afterGap = gapWindows_ > 0;
      gapWindows_ = std::max(gapWindows_ - 1, 0);
      if (matched && afterGap) {
        if (mean > gapMean_) {
          const std::size_t dropped = drop(std::size_t(mean - gapMean_), true);
          available -= dropped;
          slot -= std::min(slot, dropped);
          meanSlot -= double(dropped);
        }
      } else if (matched) {
        if (full && windowLow_ > before + stepFrames()) {
          available -= drop(windowLow_ - before, true);
          slot = before;
        }
      } else if (windowLow_ > keptFrames_ + windowRender_) {
        const std::size_t dropped = drop(windowLow_ - keptFrames_);
        available -= dropped;
        slot -= dropped;
      }
      windowLow_ = SIZE_MAX;
      windowArea_ = 0.0;
      windowFrames_ = 0;
      windowRender_ = 0;
    }
  }
  // The rate matcher reads ahead of what it plays: a take() that finds the
  // queue shorter than its window is no underrun. Only silence played is.
  if (matcher_.render(out, frames, now(), *this)) {
    underruns_.fetch_add(1, std::memory_order_relaxed);
    // The silence put in now stays in the delay: the queue keeps that much
    // more from here on, up to a buffer, rather than be trimmed into the
    // next underrun.
    const std::size_t silence = frames - std::min(frames, available);
    keptFrames_ = std::min(keptFrames_ + silence, bufferFrames_);
  }
  const std::uint32_t volume =
      volume_ ? volume_->load(std::memory_order_relaxed) : kFullVolume;
  applyVolume(out, frames, format_.wBitsPerSample, volume);
}

FrameSource::Taken PumpedPlaybackStream::take(std::uint8_t* out,
                                              std::size_t frames) noexcept {
  const std::size_t align = format_.nBlockAlign;
  const std::uint8_t silence = pcm::silenceByte(format_.wBitsPerSample);
  std::size_t need = frames * align;
  std::uint8_t* at = out;
  Taken taken;
  while (need > 0) {
    const std::uint32_t p = played_.load(std::memory_order_relaxed);
    const bool queued = written_.load(std::memory_order_acquire) != p;
    if (!primed_) {
      if (!queued) break;
      primed_ = true;
      const std::size_t buffer = queue_[p % kQueueCapacity]->dwBufferLength;
      bufferFrames_ = buffer / align;
      keptFrames_ = std::min(keptTarget(), bufferFrames_);
      prerollBytes_ = prerollFrames(bufferFrames_) * align;
    }
    if (prerollBytes_ > 0) {
      const std::size_t n = std::min(need, prerollBytes_);
      std::memset(at, silence, n);
      taken.padding += n / align;
      prerollBytes_ -= n;
      at += n;
      need -= n;
      continue;
    }
    if (!queued) {
      taken.starved = true;
      break;
    }
    WaveHeader* h = queue_[p % kQueueCapacity];
    const std::size_t n = std::min<std::size_t>(need, h->dwBufferLength - playPos_);
    std::memcpy(at, h->lpData + playPos_, n);
    advance(*h, p, n);
    at += n;
    need -= n;
  }
  taken.frames = frames - need / align;
  return taken;
}

std::size_t PumpedPlaybackStream::keptTarget() const noexcept {
  if (targetFrames_ == 0 || !clocksMayDiffer_.load(std::memory_order_relaxed)) {
    return targetFrames_;
  }
  // What clocks a thousandth apart drain while the matcher takes its level,
  // and its dead band: else the queue runs dry before the loop starts.
  constexpr double kClocksApart = 1e-3;
  constexpr double kDrift =
      (RateControl::kSettle + RateControl::kLatch) * kClocksApart + RateControl::kDeadBand;
  return targetFrames_ + static_cast<std::size_t>(kDrift * format_.nSamplesPerSec);
}

std::size_t PumpedPlaybackStream::stepFrames() const noexcept {
  return format_.nSamplesPerSec * kStepMilliseconds / 1000;
}

std::size_t PumpedPlaybackStream::trimWindowFrames() const noexcept {
  return std::min<std::size_t>(format_.nSamplesPerSec, kTrimWindowBuffers * bufferFrames_);
}

void PumpedPlaybackStream::returnQueued() {
  const std::uint32_t w = written_.load(std::memory_order_acquire);
  for (std::uint32_t p = played_.load(std::memory_order_relaxed); p != w; ++p) {
    WaveHeader* h = queue_[p % kQueueCapacity];
    const std::uint32_t flags = h->dwFlags.load(std::memory_order_relaxed);
    h->dwFlags.store((flags & ~kHeaderInQueue) | kHeaderDone,
                     std::memory_order_release);
  }
  played_.store(w, std::memory_order_release);
  playPos_ = 0;
  prerollBytes_ = 0;
  primed_ = false;
  windowLow_ = SIZE_MAX;
  windowArea_ = 0.0;
  windowFrames_ = 0;
  windowRender_ = 0;
  windows_ = 0;
  matcher_.reset();
}

Result PumpedPlaybackStream::reset() {
  if (closed_) return Result::InvalidState;
  stopConsumer();
  returnQueued();
  return startConsumer();
}

Result PumpedPlaybackStream::close() {
  if (closed_) return Result::InvalidState;
  if (written_.load() != played_.load()) return Result::InvalidState;  // reset first
  stopConsumer();
  closeDevice();
  closed_ = true;
  return Result::Ok;
}

void PumpedPlaybackStream::matchClocks(bool mayDiffer) {
  clocksMayDiffer_.store(mayDiffer, std::memory_order_relaxed);
  matcher_.arm(mayDiffer);
}

PlaybackStream::Matching PumpedPlaybackStream::matching() const {
  return {matcher_.ratio(), matcher_.queuedSeconds()};
}

double PumpedPlaybackStream::now() const {
  return std::chrono::duration<double>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

StreamCounters PumpedPlaybackStream::counters() const {
  StreamCounters c;
  c.buffers = buffers_.load();
  c.underruns = underruns_.load();
  c.trimmedFrames = trimmed_.load();
  return c;
}

}  // namespace bw::audio
