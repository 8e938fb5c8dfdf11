#include "audio/pulse/pulse_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <sys/eventfd.h>
#include <unistd.h>

#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include "primitives/pcm_codec.h"

namespace bw::audio {

namespace {

pa_sample_format_t sampleFormat(int bits) {
  switch (bits) {
    case 8: return PA_SAMPLE_U8;
    case 16: return PA_SAMPLE_S16LE;
    case 24: return PA_SAMPLE_S24LE;
    default: return PA_SAMPLE_S32LE;
  }
}

constexpr std::uint32_t kServerChooses = static_cast<std::uint32_t>(-1);

// The shortest playback buffer asked of the server (seconds). With short
// blocks two periods are 5.3 ms; on a loaded machine the server's buffer of
// them ran dry, and the receiver then lost whole blocks (25-160 in 12 s at
// 512-frame blocks, on PulseAudio's loopback) and heard some bursts 50-90 ms
// late instead of 33; with 8 ms, none or a few, and 33-38 ms.
constexpr double kShortestServerBufferSeconds = 0.008;

// Frames of the server's playback buffer: two periods, or the fewest whole
// periods that last kShortestServerBufferSeconds.
std::uint32_t serverBufferFrames(std::uint32_t periodFrames, std::uint32_t rate) {
  const auto periods = static_cast<std::uint32_t>(
      std::ceil(kShortestServerBufferSeconds * rate / periodFrames));
  return periodFrames * std::max<std::uint32_t>(2, periods);
}

}  // namespace

Result PulseStream::open(std::shared_ptr<PulseConnection> connection,
                         const WaveFormat& format, std::uint32_t periodFrames,
                         bool capture, PulseConnection::Deadline deadline,
                         void* owner, Samples samples, Failed failed, Gap gap) {
  close();
  const pa_sample_spec layout{sampleFormat(format.wBitsPerSample), format.nSamplesPerSec, 2};
  if (!pa_sample_spec_valid(&layout) || periodFrames == 0) return Result::BadFormat;
  if (connection == nullptr) return Result::Refused;
  frameBytes_ = pa_frame_size(&layout);
  const auto period = static_cast<std::uint32_t>(periodFrames * frameBytes_);
  silenceByte_ = pcm::silenceByte(format.wBitsPerSample);
  silence_.assign(period, silenceByte_);
  owner_ = owner;
  samples_ = samples;
  failed_ = failed;
  gap_ = gap;
  connection_ = std::move(connection);
  if (!capture) {
    readyFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (readyFd_ < 0) return Result::Refused;
  }

  Result result = Result::Refused;
  {
    PulseConnection::Lock lock(*connection_);
    stream_ = pa_stream_new(connection_->context(),
                            capture ? "Brackwell capture" : "Brackwell playback", &layout,
                            nullptr);
    if (stream_ == nullptr) return Result::BadFormat;
    pa_stream_set_state_callback(stream_, &onState, this);
    pa_stream_set_moved_callback(stream_, &onMoved, this);
    pa_stream_set_suspended_callback(stream_, &onSuspended, this);
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    pa_buffer_attr attr{kServerChooses, kServerChooses, kServerChooses, kServerChooses,
                        kServerChooses};
    int error = 0;
    if (capture) {
      attr.fragsize = period;
      pa_stream_set_read_callback(stream_, &onRead, this);
      error = pa_stream_connect_record(stream_, nullptr, &attr, flags);
    } else {
      readyEvent_ = connection_->api()->io_new(connection_->api(), readyFd_,
                                               PA_IO_EVENT_INPUT, &onDataReady, this);
      if (readyEvent_ == nullptr) error = -1;
      pa_stream_set_underflow_callback(stream_, &onUnderflow, this);
      attr.tlength =
          static_cast<std::uint32_t>(serverBufferFrames(periodFrames, layout.rate) * frameBytes_);
      attr.minreq = period;
      attr.prebuf = period;
      pa_stream_set_write_callback(stream_, &onWrite, this);
      if (error == 0) {
        error = pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr);
      }
    }
    const bool answered =
        error == 0 && connection_->waitUntil(
                          [this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                          deadline);
    if (answered && pa_stream_get_state(stream_) == PA_STREAM_READY) {
      opened_ = true;
      if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_)) {
        bufferBytes_ = granted->tlength;
      }
      return Result::Ok;
    }
    const int why = pa_context_errno(connection_->context());
    if (answered && (why == PA_ERR_NOTSUPPORTED || why == PA_ERR_INVALID)) {
      result = Result::BadFormat;
    }
  }
  close();
  return result;
}

std::uint32_t PulseStream::deviceIndex() const {
  if (stream_ == nullptr) return PA_INVALID_INDEX;
  PulseConnection::Lock lock(*connection_);
  return ended_ ? PA_INVALID_INDEX : pa_stream_get_device_index(stream_);
}

Result PulseStream::start() {
  if (stream_ == nullptr) return Result::Refused;
  PulseConnection::Lock lock(*connection_);
  if (ended_) return Result::Refused;
  running_ = true;
  return Result::Ok;
}

void PulseStream::halt() {
  if (stream_ == nullptr) return;
  PulseConnection::Lock lock(*connection_);
  running_ = false;
}

void PulseStream::close() {
  if (stream_ != nullptr) {
    PulseConnection::Lock lock(*connection_);
    endLinger();
    running_ = false;
    opened_ = false;
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_moved_callback(stream_, nullptr, nullptr);
    pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    pa_stream_set_write_callback(stream_, nullptr, nullptr);
    pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
    if (readyEvent_ != nullptr) connection_->api()->io_free(readyEvent_);
    readyEvent_ = nullptr;
    // Asks the server to delete it; nothing here waits for the answer.
    if (pa_stream_get_state(stream_) == PA_STREAM_READY) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
    stream_ = nullptr;
  }
  if (readyFd_ >= 0) ::close(readyFd_);
  readyFd_ = -1;
  ended_ = false;
  connection_.reset();  // the lock is gone: this may end the connection
}

bool PulseStream::park(std::chrono::milliseconds linger) {
  if (stream_ == nullptr) return false;
  PulseConnection::Lock lock(*connection_);
  running_ = false;
  owner_ = nullptr;
  failed_ = nullptr;
  gap_ = nullptr;
  if (ended_ || pa_stream_get_state(stream_) != PA_STREAM_READY) return false;
  linger_ = pa_context_rttime_new(connection_->context(),
                                  pa_rtclock_now() + pa_usec_t(linger.count()) * PA_USEC_PER_MSEC,
                                  &onLingerEnd, this);
  return linger_ != nullptr;
}

bool PulseStream::adopt(void* owner, Samples samples, Failed failed) {
  if (stream_ == nullptr) return false;
  PulseConnection::Lock lock(*connection_);
  if (linger_ == nullptr || ended_ || !connection_->usable() ||
      pa_stream_get_state(stream_) != PA_STREAM_READY) {
    return false;
  }
  endLinger();
  owner_ = owner;
  samples_ = samples;
  failed_ = failed;
  return true;
}

void PulseStream::endLinger() {
  if (linger_ == nullptr) return;
  connection_->api()->time_free(linger_);
  linger_ = nullptr;
}

void PulseStream::onLingerEnd(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                              void* self) {
  auto* stream = static_cast<PulseStream*>(self);
  stream->endLinger();
  stream->end();
}

void PulseStream::end() {
  if (ended_ || !opened_) return;
  ended_ = true;
  running_ = false;
  if (pa_stream_get_state(stream_) == PA_STREAM_READY) pa_stream_disconnect(stream_);
  if (failed_ != nullptr) failed_(owner_);
}

void PulseStream::onState(pa_stream* s, void* self) {
  auto* stream = static_cast<PulseStream*>(self);
  stream->connection_->wake();
  if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) stream->end();
}

void PulseStream::onMoved(pa_stream*, void* self) {
  static_cast<PulseStream*>(self)->end();
}

void PulseStream::onSuspended(pa_stream* s, void* self) {
  // A resume needs nothing; a device suspended at creation is resumed by
  // the stream itself, before it is open.
  if (pa_stream_is_suspended(s) == 1) static_cast<PulseStream*>(self)->end();
}

void PulseStream::onRead(pa_stream* s, std::size_t, void* self) {
  auto* stream = static_cast<PulseStream*>(self);
  const void* data = nullptr;
  std::size_t bytes = 0;
  while (pa_stream_peek(s, &data, &bytes) == 0 && bytes > 0) {
    if (stream->running_) {
      if (data != nullptr) {
        stream->samples_(stream->owner_, static_cast<const std::uint8_t*>(data), nullptr,
                         bytes / stream->frameBytes_);
      } else {
        // A hole in the source's data: silence keeps the time.
        for (std::size_t left = bytes; left > 0;) {
          const std::size_t n = std::min(left, stream->silence_.size());
          stream->samples_(stream->owner_, stream->silence_.data(), nullptr,
                           n / stream->frameBytes_);
          left -= n;
        }
      }
    }
    pa_stream_drop(s);
  }
}

void PulseStream::onWrite(pa_stream* s, std::size_t bytes, void* self) {
  auto* stream = static_cast<PulseStream*>(self);
  const std::size_t frame = stream->frameBytes_;
  while (bytes >= frame) {
    void* data = nullptr;
    std::size_t n = bytes;
    if (pa_stream_begin_write(s, &data, &n) < 0 || data == nullptr) return;
    n -= n % frame;
    auto* out = static_cast<std::uint8_t*>(data);
    if (n > 0 && stream->running_) {
      stream->serverFrames_ =
          (stream->bufferBytes_ - std::min(stream->bufferBytes_, bytes)) / frame;
      n = std::min(n, stream->samples_(stream->owner_, nullptr, out, n / frame) * frame);
    } else {
      std::memset(out, stream->silenceByte_, n);
    }
    if (n == 0) {
      pa_stream_cancel_write(s);
      return;
    }
    pa_stream_write(s, out, n, nullptr, 0, PA_SEEK_RELATIVE);
    bytes -= n;
  }
}

void PulseStream::onUnderflow(pa_stream*, void* self) {
  auto* stream = static_cast<PulseStream*>(self);
  if (stream->running_ && stream->gap_ != nullptr) stream->gap_(stream->owner_);
}

void PulseStream::dataReady() noexcept {
  if (readyFd_ < 0) return;
  const std::uint64_t one = 1;
  // A full counter (never, in practice) already has a wake-up pending.
  [[maybe_unused]] const ssize_t ignored = ::write(readyFd_, &one, sizeof one);
}

void PulseStream::onDataReady(pa_mainloop_api*, pa_io_event*, int fd, pa_io_event_flags_t,
                              void* self) {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(fd, &count, sizeof count);
  auto* stream = static_cast<PulseStream*>(self);
  if (stream->ended_ || pa_stream_get_state(stream->stream_) != PA_STREAM_READY) return;
  const std::size_t writable = pa_stream_writable_size(stream->stream_);
  if (writable != static_cast<std::size_t>(-1)) onWrite(stream->stream_, writable, stream);
}

}  // namespace bw::audio
