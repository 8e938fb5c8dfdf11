// Plan cache and execution of the complex transform nspzrFftNip.
//
// One slot per order holds an FftTransform (its forward and inverse plans,
// made by the planner of fft_transform.cpp) and one or more scratch pairs in
// the paired layout of fft_plan.h. Arrays already in the paired layout are
// transformed where they are; others are copied into a free scratch pair (an
// atomic flag per pair, no lock), transformed there and copied out. So as
// many threads as there are pairs can transform unpaired arrays of the same
// order at once; prepareFft makes the pairs beforehand.
#include "primitives/fft_plan.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "primitives/fft_transform.h"
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
  FftTransform transform;  // runs on any paired arrays
  // Pairs 0..scratchCount-1 exist; pairs are only ever added (published with
  // release), and freed with the slot.
  std::atomic<int> scratchCount{0};
  Scratch scratch[kMaxConcurrentFfts];
  std::atomic<bool> busy[kMaxConcurrentFfts] = {};
};

// Slots are made, grown and destroyed under this mutex (planning itself
// takes the planner's lock inside it).
std::mutex cacheMutex;
std::atomic<FftSlot*> slots[kMaxFftOrder + 1];

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
  for (Scratch& pair : slot->scratch) {
    std::free(pair.in);
    std::free(pair.out);
  }
  delete slot;
}


// Adds scratch pairs up to `count` (at most kMaxConcurrentFfts). Under the
// cache lock.
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

FftSlot* slotFor(int order) {
  FftSlot* slot = slots[order].load(std::memory_order_acquire);
  if (slot != nullptr) return slot;
  if (!prepareFft(order)) return nullptr;
  return slots[order].load(std::memory_order_acquire);
}

// Runs the slot's transform in `flags`' direction on paired arrays.
void execute(const FftSlot* slot, const double* inRe, double* outRe,
             int flags) {
  if (flags == kFftForward) {
    slot->transform.forward(inRe, outRe);
  } else {
    slot->transform.inverse(inRe, outRe);
  }
}

}  // namespace

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

std::ptrdiff_t splitStride(int order) {
  // The padding keeps the imaginary part aligned like the real part and off
  // the real part's cache sets.
  return (std::ptrdiff_t{1} << order) + kSplitAlignment / sizeof(double);
}

bool prepareFft(int order, int concurrentCallers) {
  if (order < kMinFftOrder || order > kMaxFftOrder) return false;
  std::lock_guard<std::mutex> lock(cacheMutex);
  if (FftSlot* slot = slots[order].load(std::memory_order_acquire)) {
    return addScratch(slot, order, concurrentCallers);
  }
  auto* slot = new (std::nothrow) FftSlot;
  if (slot == nullptr || !slot->transform.plan(order) ||
      !addScratch(slot, order, std::max(1, concurrentCallers))) {
    destroySlot(slot);
    return false;
  }
  slots[order].store(slot, std::memory_order_release);
  return true;
}

void releaseFftPlans() {
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    for (auto& entry : slots) {
      destroySlot(entry.exchange(nullptr, std::memory_order_acq_rel));
    }
  }
  forgetWisdomState();
  // No fftw_cleanup(): FFTW is shared with the host, whose plans and wisdom
  // it would invalidate. Destroying our own plans is all that is ours to do;
  // the planner keeps libfftw3 loaded so that its own state is not lost.
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
    execute(slot, inRe, outRe, flags);
    return 0;
  }
  const int pair = acquireScratch(slot);
  double* in = slot->scratch[pair].in;
  double* out = slot->scratch[pair].out;
  const auto bytes = static_cast<std::size_t>(n) * sizeof(double);
  std::memcpy(in, inRe, bytes);
  std::memcpy(in + d, inIm, bytes);
  execute(slot, in, out, flags);
  std::memcpy(outRe, out, bytes);
  std::memcpy(outIm, out + d, bytes);
  slot->busy[pair].store(false, std::memory_order_release);
  return 0;
}

}  // namespace bw::nsp
