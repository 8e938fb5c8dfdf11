#include "api/lifecycle.h"

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <memory>

#include "api/engine_state.h"
#include "audio/streaming.h"
#include "primitives/fft_plan.h"

namespace bw {

namespace {
// Created by engineAttach and destroyed by engineDetach only: a plain pointer
// has no static destructor of its own to run in an unknown order against the
// library's unload hook.
EngineState* g_engine = nullptr;

// Re-creates v with n zero elements allocated from the private heap. (An
// assignment would keep v's own allocator and leave the elements outside it.)
template <typename T>
void makeInHeap(HeapVector<T>& v, std::size_t n,
                std::pmr::memory_resource* heap) {
  std::destroy_at(&v);
  std::construct_at(&v, n, heap);
}

void createTables(EngineState& e) {
  std::pmr::memory_resource* heap = e.privateHeap.get();
  makeInHeap(e.captureHeaders, kRingSlots, heap);
  makeInHeap(e.playbackHeaders, kRingSlots, heap);
  makeInHeap(e.playbackBuffers, kRingSlots, heap);
  makeInHeap(e.captureBuffers, kRingSlots, heap);
  for (HeapVector<std::int32_t>* v : {&e.inI, &e.outLeft, &e.inQ, &e.outRight}) {
    makeInHeap(*v, kInitialArrayLength, heap);
  }
  for (HeapVector<double>* v :
       {&e.timeRe, &e.freqRe, &e.timeIm, &e.freqIm, &e.filterMag,
        &e.filterPhase, &e.tailRe, &e.tailIm, &e.mag, &e.phase, &e.tapsRe,
        &e.tapsIm, &e.respRe, &e.respIm}) {
    makeInHeap(*v, kInitialArrayLength, heap);
  }
  // The spectrum keeps storage for the largest transform from load on, so
  // that readers on other threads never see it move (engine_state.h).
  std::pmr::polymorphic_allocator<double> alloc(heap);
  e.spectrum.values = alloc.allocate(kMaxFftLength);
  std::fill(e.spectrum.values, e.spectrum.values + kMaxFftLength, 0.0);
  e.spectrum.length = kInitialArrayLength;
  for (HeapVector<double>* v : {&e.rotMag, &e.rotPhase, &e.agcRing}) {
    makeInHeap(*v, kInitialArrayLength, heap);
  }
}
}  // namespace

EngineState& engine() { return *g_engine; }

bool engineAttached() { return g_engine != nullptr; }

void engineAttach(std::span<const NamedExport> library) {
  if (g_engine) engineDetach();
  g_engine = new EngineState;
  EngineState& e = *g_engine;

  std::pmr::pool_options options;
  options.largest_required_pool_block = 4096;
  e.privateHeap =
      std::make_unique<std::pmr::synchronized_pool_resource>(options);

  if (const char* missing = bindPrimitives(library, e.nsp)) {
    (void)missing;
    std::fputs("Error: No nsp.dll\n", stderr);
  }

  createTables(e);
}

void engineDetach() {
  if (!g_engine) return;
  EngineState& e = *g_engine;
  if (e.runState.load() == kRunning) audio::stopStreaming();
  audio::shutdownAudio();

  // The data buffers come from the general heap; free them so that loading
  // and unloading the library again and again leaks nothing.
  for (auto* table : {&e.captureBuffers, &e.playbackBuffers}) {
    for (std::uint8_t*& p : *table) {
      std::free(p);
      p = nullptr;
    }
  }
  std::pmr::polymorphic_allocator<double>(e.privateHeap.get())
      .deallocate(e.spectrum.values, kMaxFftLength);
  e.spectrum.values = nullptr;

  // Every table and array goes with the state, before its heap.
  std::unique_ptr<std::pmr::synchronized_pool_resource> heap =
      std::move(e.privateHeap);
  delete g_engine;
  g_engine = nullptr;
  heap.reset();
  nsp::releaseFftPlans();
}

}  // namespace bw
