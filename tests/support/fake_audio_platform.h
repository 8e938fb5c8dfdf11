// A scripted audio platform for tests. Construct it with device names, then
// install() it (or use a ScopedFakeAudio) in place of the system platform.
// Failures can be injected; capture completions are driven by hand from the
// test thread, which then runs the capture notification like the sound
// system's thread would.
//
//   FakeAudioPlatform fake({"Line In", "USB"}, {"Speakers"});
//   fake.install();            // ... and fake.uninstall() when done
//   fake.failCaptureStart = true;
//   fake.completeCapture(1);   // fills the oldest queued capture buffer
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/platform.h"

namespace bw::test {

class FakeAudioPlatform : public audio::AudioPlatform {
 public:
  // Device names per direction; a name longer than 32 characters is kept
  // whole (the platform's field holds its first 32, without a NUL when it
  // fills them). The default device of each direction is index 0, or none
  // when there are no devices.
  FakeAudioPlatform(std::vector<std::string> captureNames,
                    std::vector<std::string> playbackNames,
                    std::vector<std::string> mixerNames = {});
  ~FakeAudioPlatform() override;

  void install();
  void uninstall();

  // Injected failures.
  int defaultCapture = 0, defaultPlayback = 0;  // kNoDevice for none
  bool failCaptureOpen = false;
  bool failPlaybackOpen = false;
  bool failCaptureStart = false;
  // Written playback buffers stay queued (not done) until finishPlayback().
  bool holdPlayback = false;
  // Marks every playback buffer held so far as played.
  void finishPlayback();

  // What the engine did.
  struct Opened {
    audio::Direction direction;
    int device;
    audio::WaveFormat format;
    std::uint32_t bufferFrames;
  };
  std::vector<Opened> opens;           // every successful open, in order
  int openCaptures() const;            // capture streams open right now
  int openPlaybacks() const;           // playback streams open right now
  bool captureRunning() const;

  // The current (latest opened) capture stream's queue, oldest first, as
  // the headers' addresses.
  std::vector<const audio::WaveHeader*> captureQueue() const;
  // Every buffer the playback stream was given, in write order, with a copy
  // of its bytes at the time of the write.
  struct Written {
    const audio::WaveHeader* header;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Written> written() const;

  // Fills the `count` oldest queued capture buffers (with fill(bufferIndex,
  // data, bytes), if given; the index counts every buffer ever completed),
  // marks them done and sends one data notification, for the oldest of them.
  // Returns how many buffers it completed.
  using Fill = std::function<void(std::uint64_t index, std::uint8_t* data,
                                  std::uint32_t bytes)>;
  int completeCapture(int count = 1, const Fill& fill = {});

  // audio::AudioPlatform
  int deviceCount(audio::Direction d) override;
  int defaultDevice(audio::Direction d) override;
  bool deviceName(audio::Direction d, int device, char* name) override;
  int mixerCount() override;
  bool mixerName(int mixer, char* name) override;
  bool outVolume(int device, std::uint32_t& volume) override;
  bool setOutVolume(int device, std::uint32_t volume) override;
  audio::Result openCapture(int device, const audio::WaveFormat& format,
                            std::uint32_t bufferFrames, audio::CaptureNotify notify,
                            std::uintptr_t instance,
                            std::unique_ptr<audio::CaptureStream>& stream) override;
  audio::Result openPlayback(int device, const audio::WaveFormat& format,
                             std::uint32_t bufferFrames,
                             std::unique_ptr<audio::PlaybackStream>& stream) override;

  struct Shared;  // state the fake's streams share with it

 private:
  std::vector<std::string> names_[2];
  std::vector<std::string> mixers_;
  std::vector<std::uint32_t> volumes_;
  std::shared_ptr<Shared> shared_;
  bool installed_ = false;
};

// Installs a fake for the lifetime of the object.
class ScopedFakeAudio {
 public:
  ScopedFakeAudio(std::vector<std::string> captureNames,
                  std::vector<std::string> playbackNames,
                  std::vector<std::string> mixerNames = {})
      : fake_(std::move(captureNames), std::move(playbackNames),
              std::move(mixerNames)) {
    fake_.install();
  }
  ~ScopedFakeAudio() { fake_.uninstall(); }
  FakeAudioPlatform& operator*() { return fake_; }
  FakeAudioPlatform* operator->() { return &fake_; }

 private:
  FakeAudioPlatform fake_;
};

}  // namespace bw::test
