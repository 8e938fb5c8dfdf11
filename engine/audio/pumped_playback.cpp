#include "audio/pumped_playback.h"

#include <algorithm>
#include <chrono>
#include <cstring>

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
  return Result::Ok;
}

void PumpedPlaybackStream::render(std::uint8_t* out,
                                  std::size_t frames) noexcept {
  if (matcher_.render(out, frames, now(), *this)) {
    underruns_.fetch_add(1, std::memory_order_relaxed);
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
      prerollBytes_ = queue_[p % kQueueCapacity]->dwBufferLength;
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
    playPos_ += static_cast<std::uint32_t>(n);
    at += n;
    need -= n;
    if (playPos_ == h->dwBufferLength) {
      playPos_ = 0;
      const std::uint32_t flags = h->dwFlags.load(std::memory_order_relaxed);
      h->dwFlags.store((flags & ~kHeaderInQueue) | kHeaderDone,
                       std::memory_order_release);
      played_.store(p + 1, std::memory_order_release);
      buffers_.fetch_add(1, std::memory_order_relaxed);
    }
  }
  taken.frames = frames - need / align;
  return taken;
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

void PumpedPlaybackStream::matchClocks(bool mayDiffer) { matcher_.arm(mayDiffer); }

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
  return c;
}

}  // namespace bw::audio
