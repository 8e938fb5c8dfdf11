#include "primitives/kernel_set.h"

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <strings.h>

#include "primitives/kernel_table.h"

namespace bw::nsp {
namespace {

struct SupportedSets {
  KernelSet items[3];
  std::size_t count;
};

SupportedSets detectSets() {
  __builtin_cpu_init();  // may run before the CPU model is initialised
  const bool avx2 =
      __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2 && __builtin_cpu_supports("avx512f")) {
    return {{KernelSet::Avx512, KernelSet::Avx2, KernelSet::Sse2}, 3};
  }
  if (avx2) return {{KernelSet::Avx2, KernelSet::Sse2, KernelSet::Sse2}, 2};
  return {{KernelSet::Sse2, KernelSet::Sse2, KernelSet::Sse2}, 1};
}

const SupportedSets& supported() {
  static const SupportedSets sets = detectSets();
  return sets;
}

const detail::Kernels& tableOf(KernelSet set) {
  switch (set) {
    case KernelSet::Avx512: return detail::kAvx512Kernels;
    case KernelSet::Avx2: return detail::kAvx2Kernels;
    case KernelSet::Sse2: break;
  }
  return detail::kSse2Kernels;
}

std::atomic<const detail::Kernels*> active{nullptr};

// First use: the environment's choice, explained once on stderr if it could
// not be followed.
const detail::Kernels& chooseAtFirstUse() {
  const KernelChoice choice =
      chooseKernelSet(std::getenv("BW_SIMD"), supportedKernelSets());
  const detail::Kernels* expected = nullptr;
  if (active.compare_exchange_strong(expected, &tableOf(choice.set),
                                     std::memory_order_acq_rel) &&
      !choice.problem.empty()) {
    std::fprintf(stderr, "brackwell: %s\n", choice.problem.c_str());
  }
  return *active.load(std::memory_order_acquire);
}

// Chosen while the library loads, so the processing thread only ever loads
// the pointer.
[[maybe_unused]] const bool chosenAtLoad = (detail::activeKernels(), true);

}  // namespace

const char* kernelSetName(KernelSet set) {
  switch (set) {
    case KernelSet::Avx512: return "avx512";
    case KernelSet::Avx2: return "avx2";
    case KernelSet::Sse2: break;
  }
  return "sse2";
}

std::span<const KernelSet> supportedKernelSets() {
  return {supported().items, supported().count};
}

KernelChoice chooseKernelSet(const char* request,
                             std::span<const KernelSet> supportedSets) {
  const KernelSet widest = supportedSets.front();
  if (request == nullptr || *request == '\0') return {widest, {}};
  const struct {
    const char* name;
    KernelSet set;
  } names[] = {{"sse2", KernelSet::Sse2},
               {"avx2", KernelSet::Avx2},
               {"avx512", KernelSet::Avx512},
               {"avx512f", KernelSet::Avx512}};
  const std::string fallback =
      std::string("; using ") + kernelSetName(widest);
  for (const auto& entry : names) {
    if (strcasecmp(request, entry.name) != 0) continue;
    for (KernelSet s : supportedSets) {
      if (s == entry.set) return {s, {}};
    }
    return {widest, std::string("BW_SIMD=") + request +
                        ": this CPU cannot run it" + fallback};
  }
  return {widest, std::string("BW_SIMD=") + request +
                      ": unknown kernel set (sse2, avx2 or avx512)" +
                      fallback};
}

KernelSet activeKernelSet() {
  const detail::Kernels* k = &detail::activeKernels();
  if (k == &detail::kAvx512Kernels) return KernelSet::Avx512;
  if (k == &detail::kAvx2Kernels) return KernelSet::Avx2;
  return KernelSet::Sse2;
}

bool useKernelSet(KernelSet set) {
  for (KernelSet s : supportedKernelSets()) {
    if (s != set) continue;
    detail::activeKernels();  // settle the first choice (and its message)
    active.store(&tableOf(set), std::memory_order_release);
    return true;
  }
  return false;
}

namespace detail {
const Kernels& activeKernels() {
  const Kernels* k = active.load(std::memory_order_acquire);
  return k != nullptr ? *k : chooseAtFirstUse();
}
}  // namespace detail

}  // namespace bw::nsp
