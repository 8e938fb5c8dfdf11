#include "api/configuration.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "api/consistent_copy.h"
#include "api/engine_state.h"
#include "audio/devices.h"
#include "audio/streaming.h"
#include "dsp/pipeline.h"
#include "primitives/fft_plan.h"

namespace bw {

namespace {
constexpr std::int32_t kSampleRates[] = {24000, 32000, 44100, 48000, 96000,
                                         16000, 22050, 11025, 8000};

bool isSupportedWidth(std::int32_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// Gives slots 0..count-1 a new zero-filled data buffer of `bytes`, releasing
// the old one. The data buffers come from the general heap.
bool renewBuffers(HeapVector<std::uint8_t*>& table, std::int32_t count,
                  std::int32_t bytes) {
  for (std::int32_t slot = 0; slot < count; ++slot) {
    std::free(table[slot]);
    table[slot] = static_cast<std::uint8_t*>(std::calloc(1, bytes));
    if (table[slot] == nullptr) return false;
  }
  return true;
}

void resizeSpectrum(SpectrumSnapshot& s, std::int32_t length) {
  // A sequence-counter write, so readers on other threads see the old or the
  // new length with matching contents.
  std::int64_t words[1] = {length};
  const std::int64_t old = s.length;
  if (old == length) return;
  if (length > old) {
    static const double zeros[256] = {};
    for (std::int64_t i = old; i < length; i += 256) {
      const std::int64_t n = std::min<std::int64_t>(256, length - i);
      publishWords(s.sequence, s.values + i, zeros, n);
    }
  }
  publishWords(s.sequence, &s.length, words, 1);
}
}  // namespace

bool isSupportedSampleRate(std::int32_t sampleRate) {
  return std::find(std::begin(kSampleRates), std::end(kSampleRates),
                   sampleRate) != std::end(kSampleRates);
}

std::int32_t setGlobal(std::int32_t inputDevice, std::int32_t outputDevice,
                       std::int32_t bufferCount, std::int32_t order,
                       std::int32_t sampleRate, std::int32_t bitsPerSample) {
  if (inputDevice < 1 || inputDevice > audio::numInDevices() ||
      outputDevice < 1 || outputDevice > audio::numOutDevices()) {
    return 2;
  }
  EngineState& e = engine();
  // Recorded before the format checks: a call refused below still names the
  // devices of the next sdrStart.
  e.inputDevice.store(inputDevice);
  e.outputDevice.store(outputDevice);
  // Inside a block the engine is running, and the control lock may be held
  // by an sdrStop waiting for this very block.
  if (audio::inBlock()) return 4;
  // The running check and the renewal of the buffers are one step against
  // sdrStart and sdrStop on other threads.
  const std::unique_lock control = audio::holdControl();
  if (e.runState.load() == kRunning) return 4;
  audio::closeLeftoverStreams();  // a failed run's streams still use them
  return configureFormat(bufferCount, order, sampleRate, bitsPerSample);
}

std::int32_t configureFormat(std::int32_t bufferCount, std::int32_t order,
                             std::int32_t sampleRate,
                             std::int32_t bitsPerSample) {
  EngineState& e = engine();
  if (e.runState.load() == kRunning) return 4;
  if (order < kMinOrder || order > kMaxOrder) return 2;
  if (bufferCount < kMinBufferCount || bufferCount > kMaxBufferCount) return 2;
  if (!isSupportedWidth(bitsPerSample)) return 2;
  if (!isSupportedSampleRate(sampleRate)) return 2;

  const std::int32_t n = 1 << order;
  const std::int32_t m = 2 * n;
  // Plan the transform first: it is the one step that can fail for want of
  // memory, and the processing thread must find the plan ready.
  if (!nsp::prepareFft(order + 1)) return 2;

  const bool newLength = m != e.fftLength || sampleRate != e.sampleRate;

  e.bufferCount = bufferCount;
  e.bufferBytes = n * 2 * bitsPerSample / 8;
  if (!renewBuffers(e.playbackBuffers, bufferCount, e.bufferBytes) ||
      !renewBuffers(e.captureBuffers, bufferCount, e.bufferBytes)) {
    e.waveFormat = audio::WaveFormat{};  // no usable format
    return 2;
  }
  e.waveFormat.wFormatTag = audio::kFormatPcm;
  e.waveFormat.nChannels = 2;
  e.waveFormat.nSamplesPerSec = static_cast<std::uint32_t>(sampleRate);
  e.waveFormat.wBitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
  e.waveFormat.nBlockAlign =
      static_cast<std::uint16_t>(e.waveFormat.nChannels * bitsPerSample / 8);
  e.waveFormat.nAvgBytesPerSec =
      e.waveFormat.nSamplesPerSec * e.waveFormat.nBlockAlign;
  e.waveFormat.cbSize = 0;

  e.fftOrder = order + 1;
  e.fftLength = m;
  e.blockSamples = n;
  e.binMask = m - 1;
  e.maxAmplitude = static_cast<std::int32_t>((1u << (bitsPerSample - 1)) - 1u);
  e.sampleRate = sampleRate;
  e.binWidth = static_cast<double>(sampleRate) / m;
  e.agcRampSamples = sampleRate / 1000;

  // A resize keeps the leading elements and zero-fills new ones; an array
  // whose count is unchanged is left as it is.
  for (HeapVector<std::int32_t>* v : {&e.inI, &e.inQ, &e.outLeft, &e.outRight}) {
    v->resize(m, 0);
  }
  for (HeapVector<double>* v :
       {&e.timeRe, &e.timeIm, &e.freqRe, &e.freqIm, &e.filterMag,
        &e.filterPhase, &e.mag, &e.phase, &e.rotMag, &e.rotPhase, &e.tapsRe,
        &e.tapsIm, &e.respRe, &e.respIm}) {
    v->resize(m, 0.0);
  }
  e.tailRe.resize(m - n, 0.0);
  e.tailIm.resize(m - n, 0.0);
  resizeSpectrum(e.spectrum, m);
  // At least 10 entries, so that any hold count 1..10 stays inside the ring.
  e.agcRing.resize(std::max(10, (sampleRate / 1000) / 2 + 1), 0.0);

  if (newLength) {
    // A response made for another length or rate would filter wrongly; the
    // next block designs a new one, and old tails do not fit the new blocks.
    e.curLowCut = 0;
    e.curHighCut = 0;
    clearTails();
  }
  return 0;
}

std::int32_t setNewParam(const void* block) {
  if (block == nullptr) return 2;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  if (bytes[0] != kParamVersion) return 2;
  std::uint64_t words[kParamWords] = {};
  std::memcpy(words, bytes, kParamBlockBytes);
  EngineState& e = engine();
  publishWords(e.paramSequence, e.pendingParams, words, kParamWords);
  return 0;
}

void readPendingParams(std::uint8_t* dest) {
  EngineState& e = engine();
  std::uint64_t words[kParamWords];
  consistentCopy(e.paramSequence, e.pendingParams, words, kParamWords);
  std::memcpy(dest, words, kParamBlockBytes);
}

std::int32_t getSpectrum(double* dest) {
  EngineState& e = engine();
  if (e.runState.load() == kStopped) return 3;
  if (dest == nullptr) return 2;
  SpectrumSnapshot& s = e.spectrum;
  // Length and values must come from one write: copy both under one count.
  readConsistently(s.sequence, [&] {
    const std::int64_t length = loadWord(s.length);
    for (std::int64_t i = 0; i < length; ++i) dest[i] = loadWord(s.values[i]);
  });
  return 0;
}

double getSmetr() {
  EngineState& e = engine();
  if (e.runState.load() == kStopped) return 0.0;
  return e.currentGain.load();
}

}  // namespace bw
