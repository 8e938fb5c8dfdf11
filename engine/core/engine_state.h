// The one engine-wide state: configuration, the parameter-block snapshot,
// the spectrum snapshot, the run state, the receive chain and the buffer
// rings. Created by engineAttach, destroyed by engineDetach (lifecycle.h).
//
// Threads: configuration fields change only in sdrSetGlobal while the engine
// is not running; the processing thread owns the chain while it runs.
// runState, blockHook and the chain's reading are atomics. The receive
// parameters and the spectrum snapshot are shared through sequence counters
// (dsp/consistent_copy.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <type_traits>
#include <vector>

#include "audio/stream_state.h"
#include "audio/wave_header.h"
#include "core/receiver.h"
#include "dsp/receive_chain.h"
#include "dsp/receive_params.h"
#include "dsp/spectrum_snapshot.h"
#include "primitives/primitive_entries.h"

namespace bw {

using audio::kNotifiedWhileStopped;
using audio::kRunning;
using audio::kStopped;

constexpr int kRingSlots = 10;  // capacity of the buffer tables
constexpr int kMinOrder = SDR_MIN_ORDER, kMaxOrder = SDR_MAX_ORDER;
constexpr int kMinBufferCount = SDR_MIN_BUFFER_COUNT;
constexpr int kMaxBufferCount = SDR_MAX_BUFFER_COUNT;
constexpr int kMaxFftLength = 1 << (kMaxOrder + 1);
// The typed receive parameters, published as whole words.
static_assert(std::is_trivially_copyable_v<ReceiveParams>);
constexpr int kParamWords = (sizeof(ReceiveParams) + 7) / 8;

template <typename T>
using HeapVector = std::pmr::vector<T>;

// The private heap the tables and work arrays live in. Made first and
// destroyed last: everything else of the state is allocated from it.
struct PrivateHeap {
  PrivateHeap();
  std::unique_ptr<std::pmr::synchronized_pool_resource> resource;
};

struct EngineState : PrivateHeap {
  // nsp: the bound primitives, empty when the signal library could not be
  // bound (the chain then outputs silence).
  explicit EngineState(const PrimitiveEntries& nsp);
  ~EngineState();

  PrimitiveEntries nsp;

  // Configuration (sdrSetGlobal).
  // Recorded by sdrSetGlobal even when it refuses, also from inside a block.
  std::atomic<std::int32_t> inputDevice{0}, outputDevice{0};
  std::int32_t bufferCount = 0;
  std::int32_t bufferBytes = 0;
  audio::WaveFormat waveFormat;

  std::atomic<std::int32_t> runState{kStopped};
  std::atomic<BlockHook> blockHook{nullptr};

  // Receive parameters, decoded from the latest block sdrSetNewParam took:
  // pendingParams is shared (sequence counter; all zero, flags 0, before the
  // first block), activeParams belongs to the processing thread.
  std::atomic<std::uint32_t> paramSequence{0};
  std::uint64_t pendingParams[kParamWords] = {};
  ReceiveParams activeParams;

  // Its storage holds the largest M from load on and never moves.
  SpectrumSnapshot spectrum;
  ReceiveChain chain;

  // Buffer tables (private heap, kRingSlots each); the data buffers they
  // point to come from the general heap.
  HeapVector<audio::WaveHeader> captureHeaders, playbackHeaders;
  HeapVector<std::uint8_t*> captureBuffers, playbackBuffers;

  audio::StreamState audio{runState};
};

// The engine state. Valid between engineAttach and engineDetach.
EngineState& engine();

}  // namespace bw
