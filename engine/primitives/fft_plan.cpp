// Plan cache and execution of the complex transform nspzrFftNip.
//
// One slot per order holds a forward and an inverse plan, and one or more
// pairs of interleaved scratch buffers for executing them. Executing takes a
// free scratch pair (an atomic flag per pair, no lock), copies the split input
// into it, runs the plan on it and copies (and for the inverse, scales) the
// result out. So as many threads as there are pairs can transform the same
// order at once; prepareFft makes the pairs beforehand.
#include "primitives/fft_plan.h"

#include <fftw3.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
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

struct Scratch {
  fftw_complex* in = nullptr;   // 2^order interleaved values, plan input
  fftw_complex* out = nullptr;  // 2^order interleaved values, plan output
};

struct FftSlot {
  fftw_plan forward = nullptr;  // made on scratch[0]; run on any pair
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

// Orders up to this one are planned with FFTW_MEASURE (at most about 0.3 s
// per plan here). Above it, measuring costs 0.5 s to 2.5 s per plan, paid by
// every sdrSetGlobal, so FFTW_ESTIMATE is used: its plans run about twice as
// long, but blocks of 2^14 frames and more leave hundreds of times the
// transform's time per block.
constexpr int kMaxMeasuredOrder = 14;

void destroySlot(FftSlot* slot) {
  if (slot == nullptr) return;
  if (slot->forward != nullptr) fftw_destroy_plan(slot->forward);
  if (slot->inverse != nullptr) fftw_destroy_plan(slot->inverse);
  for (Scratch& pair : slot->scratch) {
    fftw_free(pair.in);
    fftw_free(pair.out);
  }
  delete slot;
}

// Adds scratch pairs up to `count` (at most kMaxConcurrentFfts). Under the
// planner lock.
bool addScratch(FftSlot* slot, int order, int count) {
  const auto n = static_cast<std::size_t>(1) << order;
  for (int i = slot->scratchCount.load(std::memory_order_relaxed);
       i < count && i < kMaxConcurrentFfts; ++i) {
    Scratch& pair = slot->scratch[i];
    pair.in = fftw_alloc_complex(n);
    pair.out = fftw_alloc_complex(n);
    if (pair.in == nullptr || pair.out == nullptr) {
      fftw_free(pair.in);
      fftw_free(pair.out);
      pair = Scratch{};
      return false;
    }
    slot->scratchCount.store(i + 1, std::memory_order_release);
  }
  return true;
}

FftSlot* makeSlot(int order) {
  const int n = 1 << order;
  auto* slot = new (std::nothrow) FftSlot;
  if (slot == nullptr) return nullptr;
  if (!addScratch(slot, order, 1)) {
    destroySlot(slot);
    return nullptr;
  }
  const unsigned rigor =
      order <= kMaxMeasuredOrder ? FFTW_MEASURE : FFTW_ESTIMATE;
  Scratch& pair = slot->scratch[0];
  slot->forward = fftw_plan_dft_1d(n, pair.in, pair.out, FFTW_FORWARD, rigor);
  slot->inverse = fftw_plan_dft_1d(n, pair.in, pair.out, FFTW_BACKWARD, rigor);
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

FftSlot* slotFor(int order) {
  FftSlot* slot = slots[order].load(std::memory_order_acquire);
  if (slot != nullptr) return slot;
  if (!prepareFft(order)) return nullptr;
  return slots[order].load(std::memory_order_acquire);
}

}  // namespace

bool prepareFft(int order, int concurrentCallers) {
  if (order < kMinFftOrder || order > kMaxFftOrder) return false;
  std::lock_guard<std::mutex> lock(plannerMutex);
  if (FftSlot* slot = slots[order].load(std::memory_order_acquire)) {
    return addScratch(slot, order, concurrentCallers);
  }
  // The cached wisdom is read before the first plan of the process; plans it
  // covers are made at once, without measuring.
  static const std::string wisdomPath =
      wisdomFilePath(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
  static const bool wisdomRead = importWisdomFile(wisdomPath);
  static std::string savedWisdom;  // what the file holds as far as we know
  if (wisdomRead && savedWisdom.empty()) savedWisdom = wisdomText();

  FftSlot* slot = makeSlot(order);
  if (slot == nullptr || !addScratch(slot, order, concurrentCallers)) {
    destroySlot(slot);
    return false;
  }
  slots[order].store(slot, std::memory_order_release);

  // New plans add wisdom: keep it for the next start.
  std::string now = wisdomText();
  if (!wisdomPath.empty() && now != savedWisdom &&
      exportWisdomFile(wisdomPath)) {
    savedWisdom = std::move(now);
  }
  return true;
}

void releaseFftPlans() {
  std::lock_guard<std::mutex> lock(plannerMutex);
  for (auto& entry : slots) {
    destroySlot(entry.exchange(nullptr, std::memory_order_acq_rel));
  }
  // No fftw_cleanup(): FFTW is shared with the host, whose plans and wisdom
  // it would invalidate. Destroying our own plans is all that is ours to do.
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
  const int pair = acquireScratch(slot);
  fftw_complex* in = slot->scratch[pair].in;
  fftw_complex* out = slot->scratch[pair].out;
  const detail::Kernels& kernels = detail::activeKernels();
  kernels.interleave(inRe, inIm, in[0], n);
  fftw_execute_dft(flags == kFftForward ? slot->forward : slot->inverse, in,
                   out);
  // 1/n is exact: n is a power of two.
  kernels.deinterleave(out[0], flags == kFftForward ? 1.0 : 1.0 / n, outRe,
                       outIm, n);
  slot->busy[pair].store(false, std::memory_order_release);
  return 0;
}

}  // namespace bw::nsp
