#include "audio/portaudio/portaudio_stream.h"

#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "audio/alsa/alsa_pcm_kind.h"

namespace bw::audio {

namespace {

PaSampleFormat sampleFormat(int bits) {
  switch (bits) {
    case 8: return paUInt8;
    case 16: return paInt16;
    case 24: return paInt24;
    default: return paInt32;
  }
}

// The capture stream that lingers after its close (its link as void*: the
// link's type is the stream's own).
std::mutex g_lingerMutex;
PaStream* g_lingerStream = nullptr;
void* g_lingerLink = nullptr;

// True for a device that is a sound server's plugin on ALSA, which other
// readers may open beside ours.
bool isSoundServerDevice(int paIndex) {
  const PaDeviceInfo* device = Pa_GetDeviceInfo(paIndex);
  const PaHostApiInfo* api = device ? Pa_GetHostApiInfo(device->hostApi) : nullptr;
  return api != nullptr && api->type == paALSA && isSoundServerPcm(device->name);
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
  // Frames a cut capture stream still reads (lingering) before it stops.
  std::atomic<long> lingerFrames{0};
  Samples samples = nullptr;
  Failed failed = nullptr;

  static int onAudio(const void* input, void* output, unsigned long frames,
                     const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags,
                     void* self) {
    auto* link = static_cast<Link*>(self);
    link->busy.fetch_add(1);
    int result = paContinue;
    if (void* owner = link->owner.load()) {
      link->samples(owner, input, output, frames);
    } else if (link->lingerFrames.fetch_sub(long(frames)) <= long(frames)) {
      result = paAbort;
    }
    link->busy.fetch_sub(1);
    return result;
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

Result PortAudioStream::open(BoundedWorker& worker, int paIndex, double latency,
                             const WaveFormat& format,
                             unsigned long framesPerCallback, bool capture,
                             void* owner, Samples samples, Failed failed) {
  close();
  worker_ = &worker;
  if (!worker.waitUntilFree(kPortAudioCallBound)) return Result::Refused;
  struct Opening {
    PaStreamParameters params{};
    PaStream* stream = nullptr;
    PaError error = paNoError;
    std::unique_ptr<Link> link = std::make_unique<Link>();
  };
  auto o = std::make_shared<Opening>();
  o->link->owner.store(owner);
  o->link->samples = samples;
  o->link->failed = failed;
  o->params.device = paIndex;
  o->params.channelCount = 2;
  o->params.sampleFormat = sampleFormat(format.wBitsPerSample);
  o->params.suggestedLatency = latency;
  const double rate = format.nSamplesPerSec;
  const bool inTime = worker.run(
      "opening a sound device", kPortAudioCallBound,
      [o, capture, rate, framesPerCallback] {
        o->error = Pa_OpenStream(&o->stream, capture ? &o->params : nullptr,
                                 capture ? nullptr : &o->params, rate,
                                 framesPerCallback, paClipOff,
                                 &Link::onAudio, o->link.get());
      },
      {},
      // A stream that opened after all is never started: close it.
      [o] {
        if (o->error == paNoError) Pa_CloseStream(o->stream);
      });
  if (!inTime) return Result::Refused;
  if (o->error != paNoError) {
    return o->error == paSampleFormatNotSupported || o->error == paInvalidSampleRate
               ? Result::BadFormat
               : Result::Refused;
  }
  stream_ = o->stream;
  Pa_SetStreamFinishedCallback(stream_, &Link::onFinished);
  link_ = o->link.release();
  owner_ = owner;
  rate_ = rate;
  capture_ = capture;
  lingers_ = capture && isSoundServerDevice(paIndex);
  return Result::Ok;
}

void PortAudioStream::cut(Link* link) {
  link->halting.store(true);
  link->owner.store(nullptr);
  while (link->busy.load() != 0) std::this_thread::yield();
}

Result PortAudioStream::start() {
  if (readingOn_) {
    // Halted but still reading: halted for good first.
    readingOn_ = false;
    abort();
    if (stream_ == nullptr) return Result::Refused;
    link_->owner.store(owner_);
  }
  if (stream_ == nullptr || link_->ended.load()) return Result::Refused;
  if (!worker_->waitUntilFree(kPortAudioCallBound)) return Result::Refused;
  link_->halting.store(false);
  auto error = std::make_shared<PaError>(paNoError);
  PaStream* stream = stream_;
  Link* link = link_;
  if (worker_->run(
          "starting a sound device", kPortAudioCallBound,
          [error, stream] { *error = Pa_StartStream(stream); },
          [link] { cut(link); },
          // Started late or not at all: nobody wants it any more.
          [stream, link] {
            Pa_AbortStream(stream);
            Pa_CloseStream(stream);
            delete link;
          })) {
    if (*error != paNoError) return Result::Refused;
    // This reader runs now: the one kept for it may go.
    if (capture_) endLingering(*worker_);
    return Result::Ok;
  }
  stream_ = nullptr;
  link_ = nullptr;
  return Result::Refused;
}

void PortAudioStream::halt() {
  if (stream_ == nullptr || readingOn_) return;
  if (lingers_ && Pa_IsStreamActive(stream_) == 1) {
    link_->lingerFrames.store(static_cast<long>(
        rate_ * std::chrono::duration<double>(kLinger).count()));
    cut(link_);
    readingOn_ = true;
    return;
  }
  abort();
}

void PortAudioStream::abort() {
  if (stream_ == nullptr) return;
  // A stream neither running nor stopped has a thread that ended by itself
  // (possibly just now, before its finished callback could tell).
  if (Pa_IsStreamActive(stream_) == 0 && Pa_IsStreamStopped(stream_) == 0) {
    link_->ended.store(true);
  }
  link_->halting.store(true);
  // Aborting joins PortAudio's thread, which a frozen sound server can hold
  // for tens of seconds. It is always called, even for a stream that looks
  // inactive: a thread that ended on an error must still be joined. Given
  // up, the stream stays open until Pa_Terminate closes it, and the link
  // goes once PortAudio's thread has been joined.
  PaStream* stream = stream_;
  Link* link = link_;
  if (worker_->run(
          "stopping a sound device", kHaltBound,
          [stream] { Pa_AbortStream(stream); }, [link] { cut(link); },
          [link] { delete link; })) {
    return;
  }
  stream_ = nullptr;
  link_ = nullptr;
}

void PortAudioStream::close() {
  if (stream_ == nullptr) return;
  halt();
  if (stream_ == nullptr) return;  // given up
  if (readingOn_) {
    // Lingers in place of the one before, which goes now.
    PaStream* previous = nullptr;
    void* previousLink = nullptr;
    {
      std::lock_guard lock(g_lingerMutex);
      previous = std::exchange(g_lingerStream, stream_);
      previousLink = std::exchange(g_lingerLink, link_);
    }
    if (previous != nullptr) {
      closeBounded(*worker_, previous, static_cast<Link*>(previousLink), kHaltBound);
    }
    stream_ = nullptr;
    link_ = nullptr;
    readingOn_ = false;
    return;
  }
  Pa_CloseStream(stream_);
  stream_ = nullptr;
  delete link_;
  link_ = nullptr;
}

void PortAudioStream::closeBounded(BoundedWorker& worker, PaStream* stream,
                                   Link* link, std::chrono::milliseconds bound) {
  if (worker.run(
          "stopping a sound device", bound,
          [stream] {
            Pa_AbortStream(stream);
            Pa_CloseStream(stream);
          },
          {}, [link] { delete link; })) {
    delete link;
  }
}

void PortAudioStream::endLingering(BoundedWorker& worker) {
  PaStream* stream = nullptr;
  void* link = nullptr;
  {
    std::lock_guard lock(g_lingerMutex);
    stream = std::exchange(g_lingerStream, nullptr);
    link = std::exchange(g_lingerLink, nullptr);
  }
  if (stream != nullptr) closeBounded(worker, stream, static_cast<Link*>(link), kHaltBound);
}

}  // namespace bw::audio
