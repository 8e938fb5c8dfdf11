// Plan cache and execution of the complex transform nspzrFftNip.
//
// One slot per order holds a forward and an inverse FFTW plan for split
// arrays in the paired layout of fft_plan.h, and one or more scratch pairs in
// that layout. Arrays already in the paired layout are transformed where they
// are; others are copied into a free scratch pair (an atomic flag per pair,
// no lock), transformed there and copied out. So as many threads as there
// are pairs can transform unpaired arrays of the same order at once;
// prepareFft makes the pairs beforehand.
//
// FFTW's split-array transform is always the forward one; the inverse is the
// forward transform of the arrays with real and imaginary parts exchanged,
// planned as such (FFTW requires the same distance between the parts as when
// planned), then scaled by 1/2^order.
#include "primitives/fft_plan.h"

#include <dlfcn.h>
#include <fftw3.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>

#include "primitives/fft_wisdom.h"
#include "primitives/kernel_table.h"
#include "primitives/nsp.h"

namespace bw::nsp {
namespace {

// One paired input and one paired output array (2 * splitStride doubles
// each), aligned as kSplitAlignment asks.
struct Scratch {
  double* in = nullptr;
  double* out = nullptr;
};

struct FftSlot {
  fftw_plan forward = nullptr;  // made on scratch[0]; run on any paired arrays
  fftw_plan inverse = nullptr;
  // Pairs 0..scratchCount-1 exist; pairs are only ever added (published with
  // release), and freed with the slot.
  std::atomic<int> scratchCount{0};
  Scratch scratch[kMaxConcurrentFfts];
  std::atomic<bool> busy[kMaxConcurrentFfts] = {};
};

// FFTW's planner is not thread-safe: every plan creation and destruction
// happens under this mutex. Executing a finished plan needs no lock.
std::mutex plannerMutex;
std::atomic<FftSlot*> slots[kMaxFftOrder + 1];

// The wisdom file and what we know of it, from the first plan to
// releaseFftPlans; under the planner lock. Held by a plain pointer, which no
// exit handler destroys while a host thread may still configure.
struct WisdomState {
  std::string path;
  std::string saved;  // what the file holds as far as we know
  bool kept = false;  // new wisdom can be written there
};
WisdomState* wisdom = nullptr;

// Planning rigor by order. FFTW_PATIENT finds split-array plans about a third
// faster than FFTW_MEASURE does at the console's order, but takes seconds per
// order (2.6 s at order 12 here, 19 s at order 15), so it is used only up to
// kMaxPatientOrder and only when the wisdom file can keep the result: then
// it is paid once per machine. Up to kMaxMeasuredOrder FFTW_MEASURE (at most
// about 0.5 s per plan); above it FFTW_ESTIMATE, whose plans run about twice
// as long, which blocks of 2^14 frames and more leave hundreds of times room
// for.
constexpr int kMaxPatientOrder = 13;
constexpr int kMaxMeasuredOrder = 14;

bool isAligned(const double* p) {
  return reinterpret_cast<std::uintptr_t>(p) % kSplitAlignment == 0;
}

// True when [a, a + 2 stride) and [b, b + 2 stride) do not overlap.
bool apart(const double* a, const double* b, std::ptrdiff_t span) {
  const auto x = reinterpret_cast<std::uintptr_t>(a);
  const auto y = reinterpret_cast<std::uintptr_t>(b);
  const auto bytes = static_cast<std::uintptr_t>(span) * sizeof(double);
  return x + bytes <= y || y + bytes <= x;
}

void destroySlot(FftSlot* slot) {
  if (slot == nullptr) return;
  if (slot->forward != nullptr) fftw_destroy_plan(slot->forward);
  if (slot->inverse != nullptr) fftw_destroy_plan(slot->inverse);
  for (Scratch& pair : slot->scratch) {
    std::free(pair.in);
    std::free(pair.out);
  }
  delete slot;
}

double* allocPaired(int order) {
  // kSplitAlignment covers FFTW's widest vectors; the stride keeps it for
  // the imaginary part.
  const auto count = static_cast<std::size_t>(2 * splitStride(order));
  void* p = nullptr;
  if (posix_memalign(&p, kSplitAlignment, count * sizeof(double)) != 0) {
    return nullptr;
  }
  std::memset(p, 0, count * sizeof(double));
  return static_cast<double*>(p);
}

// Adds scratch pairs up to `count` (at most kMaxConcurrentFfts). Under the
// planner lock.
bool addScratch(FftSlot* slot, int order, int count) {
  for (int i = slot->scratchCount.load(std::memory_order_relaxed);
       i < count && i < kMaxConcurrentFfts; ++i) {
    Scratch& pair = slot->scratch[i];
    pair.in = allocPaired(order);
    pair.out = allocPaired(order);
    if (pair.in == nullptr || pair.out == nullptr) {
      std::free(pair.in);
      std::free(pair.out);
      pair = Scratch{};
      return false;
    }
    slot->scratchCount.store(i + 1, std::memory_order_release);
  }
  return true;
}

FftSlot* makeSlot(int order, bool wisdomKept) {
  auto* slot = new (std::nothrow) FftSlot;
  if (slot == nullptr) return nullptr;
  if (!addScratch(slot, order, 1)) {
    destroySlot(slot);
    return nullptr;
  }
  unsigned rigor = FFTW_ESTIMATE;
  if (order <= kMaxPatientOrder && wisdomKept) {
    rigor = FFTW_PATIENT;
  } else if (order <= kMaxMeasuredOrder) {
    rigor = FFTW_MEASURE;
  }
  // Planning may overwrite the arrays; they are scratch.
  Scratch& pair = slot->scratch[0];
  const std::ptrdiff_t d = splitStride(order);
  fftw_iodim dim{1 << order, 1, 1};
  slot->forward = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, pair.in,
                                           pair.in + d, pair.out,
                                           pair.out + d, rigor);
  slot->inverse = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, pair.in + d,
                                           pair.in, pair.out + d, pair.out,
                                           rigor);
  if (slot->forward == nullptr || slot->inverse == nullptr) {
    destroySlot(slot);
    return nullptr;
  }
  return slot;
}

// Takes a free scratch pair. Waits (yielding) only when more threads
// transform this order at once than prepareFft was told of.
int acquireScratch(FftSlot* slot) {
  for (;;) {
    const int count = slot->scratchCount.load(std::memory_order_acquire);
    for (int i = 0; i < count; ++i) {
      if (!slot->busy[i].load(std::memory_order_relaxed) &&
          !slot->busy[i].exchange(true, std::memory_order_acquire)) {
        return i;
      }
    }
    std::this_thread::yield();
  }
}

// FFTW's accumulated wisdom as text.
std::string wisdomText() {
  char* text = fftw_export_wisdom_to_string();
  if (text == nullptr) return {};
  std::string copy(text);
  std::free(text);  // FFTW allocates it with malloc
  return copy;
}

// Keeps libfftw3 loaded for the rest of the process once we have planned
// with it. FFTW's planner keeps its state (solvers, wisdom) in allocations
// that only fftw_cleanup() gives back. If libfftw3 left the process with
// this library, that state would be lost at every unload, about 130 kB per
// load of the engine. fftw_cleanup() is no answer: it invalidates every plan
// in the process, and a host, or another library it loaded, may use FFTW
// with plans of its own; whether it does cannot be known (the loader keeps
// no count we can read). Kept loaded, the planner's state is found again by
// the next load, whose plans (the same as before) add nothing to it. A host
// that uses FFTW itself keeps it loaded anyway.
void keepFftwLoaded() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&fftw_execute), &info) == 0 ||
      info.dli_fname == nullptr) {
    return;
  }
  if (void* handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE)) {
    dlclose(handle);  // the mark stays; the count goes back
  }
}

// Reads the cached wisdom before the first plan; plans it covers are made at
// once, without measuring. Under the planner lock.
WisdomState& wisdomState() {
  if (wisdom != nullptr) return *wisdom;
  keepFftwLoaded();
  wisdom = new WisdomState;
  wisdom->path = wisdomFilePath(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
  const bool read = importWisdomFile(wisdom->path);
  // Measuring patiently pays only when the result can be kept: anything but
  // a writable folder and a regular file (or none) at the path plans quickly.
  wisdom->kept = wisdomWritable(wisdom->path);
  if (read) wisdom->saved = wisdomText();
  return *wisdom;
}

FftSlot* slotFor(int order) {
  FftSlot* slot = slots[order].load(std::memory_order_acquire);
  if (slot != nullptr) return slot;
  if (!prepareFft(order)) return nullptr;
  return slots[order].load(std::memory_order_acquire);
}

// Runs the slot's plan in `flags`' direction on paired arrays.
void execute(const FftSlot* slot, const double* inRe, double* outRe,
             std::ptrdiff_t d, int flags, int n) {
  // FFTW's execute functions take non-const input; split plans out of place
  // do not write their input.
  auto* re = const_cast<double*>(inRe);
  if (flags == kFftForward) {
    fftw_execute_split_dft(slot->forward, re, re + d, outRe, outRe + d);
  } else {
    fftw_execute_split_dft(slot->inverse, re + d, re, outRe + d, outRe);
    // 1/n is exact: n is a power of two.
    const detail::Kernels& kernels = detail::activeKernels();
    kernels.mpy1(1.0 / n, outRe, n);
    kernels.mpy1(1.0 / n, outRe + d, n);
  }
}

}  // namespace

std::ptrdiff_t splitStride(int order) {
  // The padding keeps the imaginary part aligned like the real part and off
  // the real part's cache sets.
  return (std::ptrdiff_t{1} << order) + kSplitAlignment / sizeof(double);
}

bool prepareFft(int order, int concurrentCallers) {
  if (order < kMinFftOrder || order > kMaxFftOrder) return false;
  std::lock_guard<std::mutex> lock(plannerMutex);
  if (FftSlot* slot = slots[order].load(std::memory_order_acquire)) {
    return addScratch(slot, order, concurrentCallers);
  }
  WisdomState& cache = wisdomState();
  FftSlot* slot = makeSlot(order, cache.kept);
  if (slot == nullptr || !addScratch(slot, order, concurrentCallers)) {
    destroySlot(slot);
    return false;
  }
  slots[order].store(slot, std::memory_order_release);

  // New plans add wisdom: keep it for the next start.
  std::string now = wisdomText();
  if (!cache.path.empty() && now != cache.saved) {
    cache.kept = exportWisdomFile(cache.path);
    if (cache.kept) cache.saved = std::move(now);
  }
  return true;
}

void releaseFftPlans() {
  std::lock_guard<std::mutex> lock(plannerMutex);
  for (auto& entry : slots) {
    destroySlot(entry.exchange(nullptr, std::memory_order_acq_rel));
  }
  delete std::exchange(wisdom, nullptr);
  // No fftw_cleanup(): FFTW is shared with the host, whose plans and wisdom
  // it would invalidate. Destroying our own plans is all that is ours to do;
  // keepFftwLoaded() keeps the planner's own state from being lost.
}

int nspzrFftNip(const double* inRe, const double* inIm, double* outRe,
                double* outIm, int order, int flags) {
  if (order < kMinFftOrder || order > kMaxFftOrder) return 1;
  if (flags != kFftForward && flags != kFftInverse) return 1;
  if (inRe == nullptr || inIm == nullptr || outRe == nullptr ||
      outIm == nullptr) {
    return 1;
  }
  FftSlot* slot = slotFor(order);
  if (slot == nullptr) return 1;

  const int n = 1 << order;
  const std::ptrdiff_t d = splitStride(order);
  const bool paired = inIm == inRe + d && outIm == outRe + d &&
                      isAligned(inRe) && isAligned(outRe) &&
                      apart(inRe, outRe, 2 * d);
  if (paired) {
    execute(slot, inRe, outRe, d, flags, n);
    return 0;
  }
  const int pair = acquireScratch(slot);
  double* in = slot->scratch[pair].in;
  double* out = slot->scratch[pair].out;
  const auto bytes = static_cast<std::size_t>(n) * sizeof(double);
  std::memcpy(in, inRe, bytes);
  std::memcpy(in + d, inIm, bytes);
  execute(slot, in, out, d, flags, n);
  std::memcpy(outRe, out, bytes);
  std::memcpy(outIm, out + d, bytes);
  slot->busy[pair].store(false, std::memory_order_release);
  return 0;
}

}  // namespace bw::nsp
