#include "core/lifecycle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "audio/streaming.h"
#include "core/engine_state.h"
#include "primitives/fft_plan.h"

namespace bw {

namespace {
// Created by engineAttach and destroyed by engineDetach only: a plain pointer
// has no static destructor of its own to run in an unknown order against the
// library's unload hook.
EngineState* g_engine = nullptr;

// Binds the primitives from `library`; on failure says so and gives an empty
// table, with which the chain does not run.
PrimitiveEntries bindOrReport(std::span<const NamedExport> library) {
  PrimitiveEntries nsp;
  if (bindPrimitives(library, nsp) != nullptr) {
    std::fputs("Error: No nsp.dll\n", stderr);
  }
  return nsp;
}
}  // namespace

PrivateHeap::PrivateHeap() {
  std::pmr::pool_options options;
  options.largest_required_pool_block = 4096;
  resource = std::make_unique<std::pmr::synchronized_pool_resource>(options);
}

EngineState::EngineState(const PrimitiveEntries& bound)
    : nsp(bound),
      chain(bound, spectrum, resource.get()),
      captureHeaders(kRingSlots, resource.get()),
      playbackHeaders(kRingSlots, resource.get()),
      captureBuffers(kRingSlots, resource.get()),
      playbackBuffers(kRingSlots, resource.get()) {
  // The spectrum keeps storage for the largest transform from load on, so
  // that readers on other threads never see it move.
  std::pmr::polymorphic_allocator<double> alloc(resource.get());
  spectrum.values = alloc.allocate(kMaxFftLength);
  std::fill(spectrum.values, spectrum.values + kMaxFftLength, 0.0);
  spectrum.capacity = kMaxFftLength;
  spectrum.length = 2;  // the length of every array before configuration
}

EngineState::~EngineState() {
  // The data buffers come from the general heap; free them so that loading
  // and unloading the library again and again leaks nothing.
  for (auto* table : {&captureBuffers, &playbackBuffers}) {
    for (std::uint8_t*& p : *table) {
      std::free(p);
      p = nullptr;
    }
  }
  std::pmr::polymorphic_allocator<double>(resource.get())
      .deallocate(spectrum.values, kMaxFftLength);
  spectrum.values = nullptr;
}

EngineState& engine() { return *g_engine; }

bool engineAttached() { return g_engine != nullptr; }

void engineAttach(std::span<const NamedExport> library) {
  if (g_engine) engineDetach();
  g_engine = new EngineState(bindOrReport(library));
}

void engineDetach() {
  if (!g_engine) return;
  EngineState& e = *g_engine;
  if (e.runState.load() == kRunning) audio::stopStreaming(e.audio);
  audio::shutdownAudio(e.audio);
  // Every table and array goes with the state, its private heap last.
  delete g_engine;
  g_engine = nullptr;
  nsp::releaseFftPlans();
}

}  // namespace bw
