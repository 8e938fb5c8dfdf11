// Which instruction set the vector kernels (polar conversions, element-wise
// operations, the transform's interleaving) run with.
//
// The widest set the CPU runs is used, unless the environment variable
// BW_SIMD names another one: "sse2", "avx2" (with FMA) or "avx512" (AVX-512F),
// for measuring or testing a narrower path on a wider machine. A name this CPU
// cannot run, or an unknown one, falls back to the widest set with one message
// on stderr. The choice is made when the library loads; tests switch it with
// useKernelSet.
#pragma once

#include <span>
#include <string>

namespace bw::nsp {

enum class KernelSet { Sse2, Avx2, Avx512 };

const char* kernelSetName(KernelSet set);  // "sse2", "avx2", "avx512"

// The sets this CPU runs, widest first; never empty (SSE2 is part of x86-64).
std::span<const KernelSet> supportedKernelSets();

// The outcome of a BW_SIMD value: the set to use and, when the request could
// not be followed, a one-line explanation (empty otherwise). `request` may be
// null (variable not set). Pure: the tests give it any list of sets.
struct KernelChoice {
  KernelSet set;
  std::string problem;
};
KernelChoice chooseKernelSet(const char* request,
                             std::span<const KernelSet> supported);

KernelSet activeKernelSet();

// Switches every kernel to `set`; false (and nothing changes) if this CPU
// cannot run it. Not while another thread runs kernels: meant for tests and
// benchmarks between blocks.
bool useKernelSet(KernelSet set);

}  // namespace bw::nsp
