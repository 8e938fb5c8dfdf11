#include "audio/portaudio_stream.h"

#include <dlfcn.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace bw::audio {

namespace {

std::atomic<int> g_stuck{0};

PaSampleFormat sampleFormat(int bits) {
  switch (bits) {
    case 8: return paUInt8;
    case 16: return paInt16;
    case 24: return paInt24;
    default: return paInt32;
  }
}

// Keeps the library that holds this code mapped for the rest of the process:
// a PortAudio thread we gave up on may still run our callbacks.
void pinThisLibrary() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&pinThisLibrary), &info) == 0 ||
      info.dli_fname == nullptr) {
    return;
  }
  dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace

// What PortAudio's callbacks reach. `owner` is cut (set to null) by halt()
// when it gives the stream up; `busy` counts callbacks inside it, so that
// the cut can wait for the last one to leave.
struct PortAudioStream::Link {
  std::atomic<void*> owner{nullptr};
  std::atomic<int> busy{0};
  std::atomic<bool> halting{false};
  // PortAudio's thread ended by itself: the stream cannot be started again
  // (starting a stream whose sound server died blocks for good).
  std::atomic<bool> ended{false};
  Samples samples = nullptr;
  Failed failed = nullptr;

  static int onAudio(const void* input, void* output, unsigned long frames,
                     const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                     void* self) {
    auto* link = static_cast<Link*>(self);
    link->busy.fetch_add(1);
    if (void* owner = link->owner.load()) link->samples(owner, input, output, frames);
    link->busy.fetch_sub(1);
    return paContinue;
  }

  static void onFinished(void* self) {
    auto* link = static_cast<Link*>(self);
    link->busy.fetch_add(1);
    void* owner = link->owner.load();
    if (!link->halting.load()) {
      link->ended.store(true);
      if (owner != nullptr && link->failed != nullptr) link->failed(owner);
    }
    link->busy.fetch_sub(1);
  }
};

Result PortAudioStream::open(int paIndex, double latency,
                             const WaveFormat& format, bool capture,
                             void* owner, Samples samples, Failed failed) {
  close();
  auto link = std::make_unique<Link>();
  link->owner.store(owner);
  link->samples = samples;
  link->failed = failed;
  PaStreamParameters params{};
  params.device = paIndex;
  params.channelCount = 2;
  params.sampleFormat = sampleFormat(format.wBitsPerSample);
  params.suggestedLatency = latency;
  const PaError err = Pa_OpenStream(
      &stream_, capture ? &params : nullptr, capture ? nullptr : &params,
      format.nSamplesPerSec, paFramesPerBufferUnspecified, paClipOff,
      &Link::onAudio, link.get());
  if (err != paNoError) {
    stream_ = nullptr;
    return err == paSampleFormatNotSupported || err == paInvalidSampleRate
               ? Result::BadFormat
               : Result::Refused;
  }
  Pa_SetStreamFinishedCallback(stream_, &Link::onFinished);
  link_ = link.release();
  return Result::Ok;
}

Result PortAudioStream::start() {
  if (stream_ == nullptr || link_->ended.load()) return Result::Refused;
  link_->halting.store(false);
  return Pa_StartStream(stream_) == paNoError ? Result::Ok : Result::Refused;
}

void PortAudioStream::halt() {
  if (stream_ == nullptr) return;
  // A stream neither running nor stopped has a thread that ended by itself
  // (possibly just now, before its finished callback could tell).
  if (Pa_IsStreamActive(stream_) == 0 && Pa_IsStreamStopped(stream_) == 0) {
    link_->ended.store(true);
  }
  link_->halting.store(true);
  // Aborting joins PortAudio's thread, which a frozen sound server can hold
  // for tens of seconds: the abort runs on a thread of its own, waited for a
  // bounded time. It is always called, even for a stream that looks
  // inactive: a thread that ended on an error must still be joined.
  struct Abort {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    bool givenUp = false;
  };
  auto state = std::make_shared<Abort>();
  PaStream* stream = stream_;
  Link* link = link_;
  std::thread aborter;
  try {
    aborter = std::thread([state, stream, link] {
      Pa_AbortStream(stream);
      std::lock_guard lock(state->mutex);
      state->finished = true;
      if (state->givenUp) {
        // PortAudio's thread has been joined: nothing reaches the link now.
        delete link;
        g_stuck.fetch_sub(1);
      }
      state->done.notify_all();
    });
  } catch (...) {
    Pa_AbortStream(stream);  // no thread to spare: wait as long as it takes
    return;
  }
  bool givenUp = false;
  {
    std::unique_lock lock(state->mutex);
    if (!state->done.wait_for(lock, kHaltBound, [&] { return state->finished; })) {
      // Given up: cut the link and wait for a callback still inside the
      // owner, before the aborter may free the link. The stream stays open
      // until Pa_Terminate closes it.
      pinThisLibrary();
      link->owner.store(nullptr);
      while (link->busy.load() != 0) std::this_thread::yield();
      state->givenUp = givenUp = true;
      g_stuck.fetch_add(1);
    }
  }
  if (!givenUp) {
    aborter.join();
    return;
  }
  aborter.detach();
  stream_ = nullptr;
  link_ = nullptr;
}

void PortAudioStream::close() {
  if (stream_ == nullptr) return;
  halt();
  if (stream_ == nullptr) return;  // given up
  Pa_CloseStream(stream_);
  stream_ = nullptr;
  delete link_;
  link_ = nullptr;
}

int PortAudioStream::stuckStreams() { return g_stuck.load(); }

}  // namespace bw::audio
