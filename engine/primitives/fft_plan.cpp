// Plan cache and execution of the complex transform nspzrFftNip.
//
// One slot per order holds a forward and an inverse plan made on the slot's
// own interleaved buffers. Executing copies the split input into the slot's
// input buffer, runs the plan and copies (and for the inverse, scales) the
// result out. The slot's buffers are scratch shared by every caller of that
// order: only one thread may transform a given order at a time, which holds
// for the engine (the processing thread is the only one that transforms while
// the engine runs; configuration prepares plans only while it is stopped).
#include "primitives/fft_plan.h"
#include "primitives/kernel_table.h"

#include <fftw3.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <new>

#include "primitives/nsp.h"

namespace bw::nsp {
namespace {

struct FftSlot {
  fftw_complex* in = nullptr;   // 2^order interleaved values, plan input
  fftw_complex* out = nullptr;  // 2^order interleaved values, plan output
  fftw_plan forward = nullptr;
  fftw_plan inverse = nullptr;
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
  fftw_free(slot->in);
  fftw_free(slot->out);
  delete slot;
}

FftSlot* makeSlot(int order) {
  const int n = 1 << order;
  auto* slot = new (std::nothrow) FftSlot;
  if (slot == nullptr) return nullptr;
  slot->in = fftw_alloc_complex(static_cast<std::size_t>(n));
  slot->out = fftw_alloc_complex(static_cast<std::size_t>(n));
  if (slot->in == nullptr || slot->out == nullptr) {
    destroySlot(slot);
    return nullptr;
  }
  const unsigned rigor =
      order <= kMaxMeasuredOrder ? FFTW_MEASURE : FFTW_ESTIMATE;
  slot->forward =
      fftw_plan_dft_1d(n, slot->in, slot->out, FFTW_FORWARD, rigor);
  slot->inverse =
      fftw_plan_dft_1d(n, slot->in, slot->out, FFTW_BACKWARD, rigor);
  if (slot->forward == nullptr || slot->inverse == nullptr) {
    destroySlot(slot);
    return nullptr;
  }
  return slot;
}

FftSlot* slotFor(int order) {
  FftSlot* slot = slots[order].load(std::memory_order_acquire);
  if (slot != nullptr) return slot;
  if (!prepareFft(order)) return nullptr;
  return slots[order].load(std::memory_order_acquire);
}

}  // namespace

bool prepareFft(int order) {
  if (order < kMinFftOrder || order > kMaxFftOrder) return false;
  std::lock_guard<std::mutex> lock(plannerMutex);
  if (slots[order].load(std::memory_order_acquire) != nullptr) return true;
  FftSlot* slot = makeSlot(order);
  if (slot == nullptr) return false;
  slots[order].store(slot, std::memory_order_release);
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
  const detail::Kernels& kernels = detail::activeKernels();
  kernels.interleave(inRe, inIm, slot->in[0], n);
  fftw_execute(flags == kFftForward ? slot->forward : slot->inverse);
  // 1/n is exact: n is a power of two.
  kernels.deinterleave(slot->out[0], flags == kFftForward ? 1.0 : 1.0 / n,
                       outRe, outIm, n);
  return 0;
}

}  // namespace bw::nsp
