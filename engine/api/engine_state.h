// The one engine-wide state: configuration, parameter blocks, work arrays,
// buffer rings and the chain's state. Created by engineAttach, destroyed by
// engineDetach (see lifecycle.h).
//
// Threads: configuration fields and work arrays change only in sdrSetGlobal
// while the engine is not running; the processing thread owns the work arrays
// while it runs. runState, currentGain and blockHook are atomics. The
// parameter block and the spectrum snapshot are shared through sequence
// counters (consistent_copy.h).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <vector>

#include "api/param_block.h"
#include "api/signal_library.h"
#include "audio/stream_state.h"
#include "audio/wave_header.h"

namespace bw {

using BlockHook = void (*)();

// Run state values.
constexpr std::int32_t kStopped = 0;
constexpr std::int32_t kRunning = 1;
constexpr std::int32_t kNotifiedWhileStopped = -1;

constexpr int kRingSlots = 10;           // capacity of the buffer tables
constexpr int kInitialArrayLength = 2;   // work arrays right after loading
constexpr int kMinOrder = 8, kMaxOrder = 16;
constexpr int kMinBufferCount = 2, kMaxBufferCount = 8;
constexpr int kMaxFftLength = 1 << (kMaxOrder + 1);
constexpr int kParamWords = (kParamBlockBytes + 7) / 8;

template <typename T>
using HeapVector = std::pmr::vector<T>;

// The spectrum snapshot: written by the processing thread, read by
// sdrGetSpectrum on any thread. Its storage holds the largest M from load on
// and is never moved, so a reader never meets freed memory; `length` (the
// current M) and the values change only inside a sequence-counter write.
struct SpectrumSnapshot {
  std::atomic<std::uint32_t> sequence{0};
  std::int64_t length = 0;   // elements in use; a shared word
  double* values = nullptr;  // kMaxFftLength elements, in the private heap
};

struct EngineState {
  // The private heap: the tables and work arrays live in it.
  std::unique_ptr<std::pmr::synchronized_pool_resource> privateHeap;
  PrimitiveEntries nsp;  // empty when the signal library could not be bound

  // Configuration (sdrSetGlobal).
  // Recorded by sdrSetGlobal even when it refuses, also from inside a block.
  std::atomic<std::int32_t> inputDevice{0}, outputDevice{0};
  std::int32_t bufferCount = 0;
  std::int32_t bufferBytes = 0;
  std::int32_t blockSamples = 0;  // N
  std::int32_t fftLength = 0;     // M = 2N
  std::int32_t fftOrder = 0;      // log2 M
  std::int32_t binMask = 0;       // M - 1
  std::int32_t maxAmplitude = 0;  // 2^(bits-1) - 1
  std::int32_t sampleRate = 0;    // Hz
  double binWidth = 0.0;          // Hz per bin
  std::int32_t agcRampSamples = 0;
  audio::WaveFormat waveFormat;

  std::atomic<std::int32_t> runState{kStopped};
  std::atomic<double> currentGain{0.0};
  std::atomic<BlockHook> blockHook{nullptr};

  // Parameter blocks: pendingParams is shared (sequence counter), activeParams
  // belongs to the processing thread.
  std::atomic<std::uint32_t> paramSequence{0};
  std::uint64_t pendingParams[kParamWords] = {};
  std::uint8_t activeParams[kParamBlockBytes] = {};

  SpectrumSnapshot spectrum;

  // Work arrays (private heap).
  HeapVector<std::int32_t> inI, inQ, outLeft, outRight;
  HeapVector<double> timeRe, timeIm, freqRe, freqIm, mag, phase;
  HeapVector<double> filterMag, filterPhase, tailRe, tailIm, rotMag, rotPhase;
  HeapVector<double> tapsRe, tapsIm, respRe, respIm, agcRing;

  // Buffer tables (private heap, kRingSlots each); the data buffers they
  // point to come from the general heap.
  HeapVector<audio::WaveHeader> captureHeaders, playbackHeaders;
  HeapVector<std::uint8_t*> captureBuffers, playbackBuffers;

  // Chain state.
  std::uint32_t lastFlushBit = 0;
  std::int32_t curLowCut = 0, curHighCut = 0;
  double previousGain = 0.0;
  std::int32_t agcPos = 0;

  audio::StreamState audio;
};

// The engine state. Valid between engineAttach and engineDetach.
EngineState& engine();

}  // namespace bw
