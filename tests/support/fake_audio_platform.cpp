#include "support/fake_audio_platform.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

#include "audio/audio_layer.h"

namespace bw::test {

using audio::CaptureNotify;
using audio::Direction;
using audio::Result;
using audio::WaveHeader;

struct FakeAudioPlatform::Shared {
  std::mutex mutex;
  FakeAudioPlatform* platform = nullptr;
  // The latest capture stream.
  std::deque<WaveHeader*> queue;
  bool running = false;
  int openCaptures = 0, openPlaybacks = 0;
  CaptureNotify notify = nullptr;
  std::uintptr_t instance = 0;
  audio::CaptureStream* capture = nullptr;
  std::uint64_t completed = 0;
  std::vector<Written> written;
  std::vector<WaveHeader*> held;  // written, not yet played
};

namespace {

bool queueable(const WaveHeader& h) {
  const std::uint32_t flags = h.dwFlags.load();
  return (flags & audio::kHeaderPrepared) && !(flags & audio::kHeaderInQueue) &&
         h.lpData != nullptr && h.dwBufferLength > 0;
}

void markDone(WaveHeader& h) {
  const std::uint32_t flags = h.dwFlags.load();
  h.dwFlags.store((flags & ~audio::kHeaderInQueue) | audio::kHeaderDone);
}

class FakeCapture final : public audio::CaptureStream {
 public:
  explicit FakeCapture(std::shared_ptr<FakeAudioPlatform::Shared> s)
      : s_(std::move(s)) {}
  ~FakeCapture() override {
    std::lock_guard lock(s_->mutex);
    if (!closed_) --s_->openCaptures;
    if (s_->capture == this) s_->capture = nullptr;
  }
  Result add(WaveHeader& h) override {
    std::lock_guard lock(s_->mutex);
    if (closed_ || !queueable(h)) return Result::InvalidState;
    h.dwBytesRecorded = 0;
    h.dwFlags.store((h.dwFlags.load() & ~audio::kHeaderDone) | audio::kHeaderInQueue);
    s_->queue.push_back(&h);
    return Result::Ok;
  }
  Result start() override {
    std::lock_guard lock(s_->mutex);
    if (closed_) return Result::InvalidState;
    if (s_->platform && s_->platform->failCaptureStart) return Result::Refused;
    s_->running = true;
    return Result::Ok;
  }
  Result stop() override {
    std::lock_guard lock(s_->mutex);
    s_->running = false;
    return Result::Ok;
  }
  Result reset() override {
    std::deque<WaveHeader*> returned;
    {
      std::lock_guard lock(s_->mutex);
      if (closed_) return Result::InvalidState;
      s_->running = false;
      returned.swap(s_->queue);
    }
    for (WaveHeader* h : returned) {
      markDone(*h);
      s_->notify(*this, audio::kCaptureData, s_->instance, h);
    }
    return Result::Ok;
  }
  Result close() override {
    {
      std::lock_guard lock(s_->mutex);
      if (closed_ || !s_->queue.empty()) return Result::InvalidState;
      closed_ = true;
      s_->running = false;
      --s_->openCaptures;
    }
    s_->notify(*this, audio::kCaptureClosed, s_->instance, nullptr);
    return Result::Ok;
  }
  audio::StreamCounters counters() const override {
    std::lock_guard lock(s_->mutex);
    audio::StreamCounters c;
    c.buffers = s_->completed;
    return c;
  }

 private:
  std::shared_ptr<FakeAudioPlatform::Shared> s_;
  bool closed_ = false;
};

class FakePlayback final : public audio::PlaybackStream {
 public:
  explicit FakePlayback(std::shared_ptr<FakeAudioPlatform::Shared> s)
      : s_(std::move(s)) {}
  ~FakePlayback() override {
    std::lock_guard lock(s_->mutex);
    if (!closed_) --s_->openPlaybacks;
  }
  // Plays the buffer at once (recorded and marked done), or holds it queued.
  Result write(WaveHeader& h) override {
    if (closed_ || !queueable(h)) return Result::InvalidState;
    std::lock_guard lock(s_->mutex);
    s_->written.push_back({&h, std::vector<std::uint8_t>(
                                   h.lpData, h.lpData + h.dwBufferLength)});
    if (s_->platform && s_->platform->holdPlayback) {
      h.dwFlags.store((h.dwFlags.load() & ~audio::kHeaderDone) | audio::kHeaderInQueue);
      s_->held.push_back(&h);
      return Result::Ok;
    }
    markDone(h);
    ++played_;
    return Result::Ok;
  }
  Result reset() override {
    if (closed_) return Result::InvalidState;
    std::lock_guard lock(s_->mutex);
    for (WaveHeader* h : s_->held) markDone(*h);
    s_->held.clear();
    return Result::Ok;
  }
  Result close() override {
    std::lock_guard lock(s_->mutex);
    if (closed_) return Result::InvalidState;
    closed_ = true;
    --s_->openPlaybacks;
    return Result::Ok;
  }
  audio::StreamCounters counters() const override {
    audio::StreamCounters c;
    c.buffers = played_;
    return c;
  }

 private:
  std::shared_ptr<FakeAudioPlatform::Shared> s_;
  bool closed_ = false;
  std::uint64_t played_ = 0;
};

int indexOf(Direction d) { return d == Direction::Capture ? 0 : 1; }

}  // namespace

FakeAudioPlatform::FakeAudioPlatform(std::vector<std::string> captureNames,
                                     std::vector<std::string> playbackNames,
                                     std::vector<std::string> mixerNames)
    : mixers_(std::move(mixerNames)), shared_(std::make_shared<Shared>()) {
  names_[0] = std::move(captureNames);
  names_[1] = std::move(playbackNames);
  volumes_.assign(names_[1].size(), 0xFFFFFFFFu);
  if (names_[0].empty()) defaultCapture = audio::kNoDevice;
  if (names_[1].empty()) defaultPlayback = audio::kNoDevice;
  shared_->platform = this;
}

FakeAudioPlatform::~FakeAudioPlatform() {
  uninstall();
  std::lock_guard lock(shared_->mutex);
  shared_->platform = nullptr;
}

void FakeAudioPlatform::install() {
  audio::installAudioPlatform(this);
  installed_ = true;
}

void FakeAudioPlatform::uninstall() {
  if (!installed_) return;
  audio::installAudioPlatform(nullptr);
  installed_ = false;
}

int FakeAudioPlatform::openCaptures() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->openCaptures;
}

int FakeAudioPlatform::openPlaybacks() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->openPlaybacks;
}

bool FakeAudioPlatform::captureRunning() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->running;
}

std::vector<const WaveHeader*> FakeAudioPlatform::captureQueue() const {
  std::lock_guard lock(shared_->mutex);
  return {shared_->queue.begin(), shared_->queue.end()};
}

void FakeAudioPlatform::finishPlayback() {
  std::lock_guard lock(shared_->mutex);
  for (WaveHeader* h : shared_->held) markDone(*h);
  shared_->held.clear();
}

std::vector<FakeAudioPlatform::Written> FakeAudioPlatform::written() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->written;
}

int FakeAudioPlatform::completeCapture(int count, const Fill& fill) {
  std::vector<WaveHeader*> done;
  CaptureNotify notify = nullptr;
  audio::CaptureStream* stream = nullptr;
  std::uintptr_t instance = 0;
  {
    std::lock_guard lock(shared_->mutex);
    if (!shared_->running || shared_->capture == nullptr) return 0;
    while (count-- > 0 && !shared_->queue.empty()) {
      WaveHeader* h = shared_->queue.front();
      shared_->queue.pop_front();
      if (fill) fill(shared_->completed, h->lpData, h->dwBufferLength);
      ++shared_->completed;
      h->dwBytesRecorded = h->dwBufferLength;
      markDone(*h);
      done.push_back(h);
    }
    notify = shared_->notify;
    stream = shared_->capture;
    instance = shared_->instance;
  }
  if (!done.empty()) notify(*stream, audio::kCaptureData, instance, done.front());
  return static_cast<int>(done.size());
}

int FakeAudioPlatform::deviceCount(Direction d) {
  return static_cast<int>(names_[indexOf(d)].size());
}

int FakeAudioPlatform::defaultDevice(Direction d) {
  return d == Direction::Capture ? defaultCapture : defaultPlayback;
}

bool FakeAudioPlatform::deviceName(Direction d, int device, char* name) {
  const auto& names = names_[indexOf(d)];
  if (device < 0 || device >= static_cast<int>(names.size())) return false;
  std::strncpy(name, names[device].c_str(), audio::kNameBytes);
  return true;
}

int FakeAudioPlatform::mixerCount() { return static_cast<int>(mixers_.size()); }

bool FakeAudioPlatform::mixerName(int mixer, char* name) {
  if (mixer < 0 || mixer >= static_cast<int>(mixers_.size())) return false;
  std::strncpy(name, mixers_[mixer].c_str(), audio::kNameBytes);
  return true;
}

bool FakeAudioPlatform::outVolume(int device, std::uint32_t& volume) {
  if (device < 0 || device >= static_cast<int>(volumes_.size())) return false;
  volume = volumes_[device];
  return true;
}

bool FakeAudioPlatform::setOutVolume(int device, std::uint32_t volume) {
  if (device < 0 || device >= static_cast<int>(volumes_.size())) return false;
  volumes_[device] = volume;
  return true;
}

Result FakeAudioPlatform::openCapture(int device, const audio::WaveFormat& format,
                                      std::uint32_t bufferFrames, CaptureNotify notify, std::uintptr_t instance,
                                      std::unique_ptr<audio::CaptureStream>& stream) {
  if (device < 0 || device >= deviceCount(Direction::Capture)) return Result::BadDevice;
  if (failCaptureOpen) return Result::Refused;
  auto s = std::make_unique<FakeCapture>(shared_);
  {
    std::lock_guard lock(shared_->mutex);
    shared_->queue.clear();
    shared_->running = false;
    shared_->notify = notify;
    shared_->instance = instance;
    shared_->capture = s.get();
    ++shared_->openCaptures;
  }
  opens.push_back({Direction::Capture, device, format, bufferFrames});
  notify(*s, audio::kCaptureOpened, instance, nullptr);
  stream = std::move(s);
  return Result::Ok;
}

Result FakeAudioPlatform::openPlayback(int device, const audio::WaveFormat& format,
                                       std::uint32_t bufferFrames,
                                       std::unique_ptr<audio::PlaybackStream>& stream) {
  if (device < 0 || device >= deviceCount(Direction::Playback)) return Result::BadDevice;
  if (failPlaybackOpen) return Result::Refused;
  {
    std::lock_guard lock(shared_->mutex);
    ++shared_->openPlaybacks;
  }
  opens.push_back({Direction::Playback, device, format, bufferFrames});
  stream = std::make_unique<FakePlayback>(shared_);
  return Result::Ok;
}

}  // namespace bw::test
