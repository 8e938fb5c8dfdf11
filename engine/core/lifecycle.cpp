#include "core/lifecycle.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
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
// The process that attached; a forked child differs.
pid_t g_attachedIn = 0;
// Set by the exit handler: from then on tear-down is the system's.
std::atomic<bool> g_exiting{false};
// Whether this copy of the library (or program) has made its load-time watch.
std::atomic<bool> g_watchedAtLoad{false};

bool inForkedChild() { return getpid() != g_attachedIn; }

void onProcessExit();

// A static of this library: the C++ runtime destroys it at exit, in reverse
// order of construction among the program's statics and atexit handlers, or
// when this library is unloaded. Its destructor is registered under this
// library's handle, so no exit handler is left pointing into unmapped code
// (a plain atexit handler is not tied to the library under some
// interceptors, such as ThreadSanitizer's).
struct ExitWatch {
  ExitWatch() = default;
  ExitWatch(const ExitWatch&) = delete;
  ExitWatch& operator=(const ExitWatch&) = delete;
  ~ExitWatch() { onProcessExit(); }
};

// Runs at exit(), or when this library is unloaded (after engineDetach).
void onProcessExit() {
  if (g_engine == nullptr || g_exiting.exchange(true)) return;
  if (inForkedChild()) return;
  EngineState& e = *g_engine;
  // Stopped from inside a block (the hook called exit) this refuses, which
  // is all that can be done on the processing thread itself.
  if (e.runState.load() == kRunning) audio::stopStreaming(e.audio);
}

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
  g_attachedIn = getpid();
}

void engineDetach() {
  if (!g_engine || g_exiting.load() || inForkedChild()) return;
  EngineState& e = *g_engine;
  if (e.runState.load() == kRunning) audio::stopStreaming(e.audio);
  audio::shutdownAudio(e.audio);
  // Every table and array goes with the state, its private heap last.
  delete g_engine;
  g_engine = nullptr;
  nsp::releaseFftPlans();
}

void engineWatchExit() {
  // Two watches per library copy, one made at load and one at the first
  // start; each is made once and lives until exit or unload.
  if (!g_watchedAtLoad.exchange(true)) {
    static ExitWatch atLoad;
    return;
  }
  static ExitWatch atFirstStart;
}

}  // namespace bw
