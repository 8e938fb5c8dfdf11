#include "audio/pumped_capture.h"

#include <algorithm>

#include "audio/realtime_priority.h"

namespace bw::audio {

PumpedCaptureStream::PumpedCaptureStream(const WaveFormat& format,
                                         CaptureNotify notify,
                                         std::uintptr_t instance,
                                         Scheduling scheduling)
    : format_(format),
      notify_(notify),
      instance_(instance),
      scheduling_(scheduling),
      fifo_(std::max<std::size_t>(format.nAvgBytesPerSec, 4096)) {}

PumpedCaptureStream::~PumpedCaptureStream() { endNotificationThread(); }

void PumpedCaptureStream::announceOpen() {
  if (notify_) notify_(*this, kCaptureOpened, instance_, nullptr);
}

void PumpedCaptureStream::reportFailure() noexcept {
  if (notify_) notify_(*this, kCaptureFailed, instance_, nullptr);
}

Result PumpedCaptureStream::add(WaveHeader& header) {
  if (closed_) return Result::InvalidState;
  const std::uint32_t flags = header.dwFlags.load(std::memory_order_relaxed);
  if (!canQueue(header, flags)) return Result::InvalidState;
  if (queueCount_ == kQueueCapacity) return Result::QueueFull;
  header.dwBytesRecorded = 0;
  header.dwFlags.store((flags & ~kHeaderDone) | kHeaderInQueue,
                       std::memory_order_release);
  queue_[(queueHead_ + queueCount_) % kQueueCapacity] = &header;
  ++queueCount_;
  return Result::Ok;
}

std::uint32_t PumpedCaptureStream::firstQueuedLength() const {
  return queueCount_ > 0 ? queue_[queueHead_]->dwBufferLength : 0;
}

Result PumpedCaptureStream::start() {
  if (closed_) return Result::InvalidState;
  if (running_) return Result::Ok;
  stopping_.store(false);
  try {
    thread_ = std::thread([this] { run(); });
  } catch (...) {
    return Result::Refused;
  }
  const Result r = startProducer();
  if (r != Result::Ok) {
    endNotificationThread();
    return r;
  }
  running_ = true;
  return Result::Ok;
}

Result PumpedCaptureStream::stop() {
  if (!running_) return Result::Ok;
  stopProducer();
  endNotificationThread();
  running_ = false;
  return Result::Ok;
}

void PumpedCaptureStream::endNotificationThread() {
  if (!thread_.joinable()) return;
  stopping_.store(true);
  wake_.fetch_add(1);
  wake_.notify_one();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // stopped from inside a notification: it ends by itself
  } else {
    thread_.join();
  }
}

Result PumpedCaptureStream::reset() {
  if (closed_) return Result::InvalidState;
  stop();
  fifo_.discard();
  while (queueCount_ > 0) {
    WaveHeader* h = queue_[queueHead_];
    queueHead_ = (queueHead_ + 1) % kQueueCapacity;
    --queueCount_;
    const std::uint32_t flags = h->dwFlags.load(std::memory_order_relaxed);
    h->dwFlags.store((flags & ~kHeaderInQueue) | kHeaderDone,
                     std::memory_order_release);
    if (notify_) notify_(*this, kCaptureData, instance_, h);
  }
  return Result::Ok;
}

Result PumpedCaptureStream::close() {
  if (closed_) return Result::InvalidState;
  if (queueCount_ > 0) return Result::InvalidState;  // reset first
  stop();
  closeDevice();
  closed_ = true;
  if (notify_) notify_(*this, kCaptureClosed, instance_, nullptr);
  return Result::Ok;
}

StreamCounters PumpedCaptureStream::counters() const {
  StreamCounters c;
  c.buffers = buffers_.load();
  c.overruns = overruns_.load();
  return c;
}

void PumpedCaptureStream::deliver(const std::uint8_t* data,
                                  std::size_t bytes) noexcept {
  if (!fifo_.write(data, bytes)) {
    overruns_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // Wakes the notification thread only once it can finish a buffer: a
  // wake-up per fragment, several a block, costs more than the copying.
  // This read-modify-write and the exchange in run() are ordered on
  // wanted_: either this one reads the new threshold, or the exchange reads
  // this one's write and that thread then sees these bytes.
  const std::size_t wanted = wanted_.fetch_add(0, std::memory_order_acq_rel);
  if (fifo_.size() < wanted) return;
  wake_.fetch_add(1, std::memory_order_release);
  wake_.notify_one();
}

void PumpedCaptureStream::run() {
  if (scheduling_ == Scheduling::RealTimeWhereGranted) {
    raiseCallingThreadToRealTime(kAudioThreadPriority);
  }
  for (;;) {
    const std::uint32_t seen = wake_.load(std::memory_order_acquire);
    if (stopping_.load()) {
      keepPartialBuffer();
      return;
    }
    fillQueuedBuffers();
    // What completes the first queued buffer; with none queued, any byte
    // (it is dropped and counted).
    const WaveHeader* first = queueCount_ > 0 ? queue_[queueHead_] : nullptr;
    const std::size_t wanted = std::max<std::size_t>(
        first != nullptr ? first->dwBufferLength - first->dwBytesRecorded : 1, 1);
    wanted_.exchange(wanted, std::memory_order_acq_rel);
    // Bytes that came before the producer could see the new threshold.
    if (fifo_.size() >= wanted) continue;
    wake_.wait(seen, std::memory_order_acquire);
  }
}

void PumpedCaptureStream::keepPartialBuffer() {
  // Bytes too few to finish the first buffer did not wake this thread; a
  // stop finds them in that buffer, as if they had been copied on arrival.
  if (queueCount_ == 0) return;
  WaveHeader* h = queue_[queueHead_];
  const std::size_t room = h->dwBufferLength - h->dwBytesRecorded;
  if (fifo_.size() >= room) return;
  h->dwBytesRecorded +=
      static_cast<std::uint32_t>(fifo_.read(h->lpData + h->dwBytesRecorded, room));
}

void PumpedCaptureStream::fillQueuedBuffers() {
  while (fifo_.size() > 0 && !stopping_.load(std::memory_order_relaxed)) {
    if (queueCount_ == 0) {
      // The engine has given nothing to fill: the data is lost.
      fifo_.discard();
      overruns_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    WaveHeader* h = queue_[queueHead_];
    h->dwBytesRecorded += static_cast<std::uint32_t>(fifo_.read(
        h->lpData + h->dwBytesRecorded, h->dwBufferLength - h->dwBytesRecorded));
    if (h->dwBytesRecorded < h->dwBufferLength) return;
    queueHead_ = (queueHead_ + 1) % kQueueCapacity;
    --queueCount_;
    const std::uint32_t flags = h->dwFlags.load(std::memory_order_relaxed);
    h->dwFlags.store((flags & ~kHeaderInQueue) | kHeaderDone,
                     std::memory_order_release);
    buffers_.fetch_add(1, std::memory_order_relaxed);
    if (notify_) notify_(*this, kCaptureData, instance_, h);
  }
}

}  // namespace bw::audio
