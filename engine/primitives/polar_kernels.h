// The SIMD kernels behind nspdbrCartToPolar and nspdbrPolarToCart, exposed so
// that tests can check every kernel this CPU can run, not only the one picked.
// Each kernel converts the longest prefix of whole vectors of its width and
// returns how many elements it did; the caller finishes the rest with libm.
#pragma once

#include <span>

namespace bw::nsp::detail {

struct PolarKernels {
  const char* name;  // "avx512f", "avx2", "sse2"
  int (*cartToPolar)(const double* re, const double* im, double* mag,
                     double* phase, int n);
  int (*polarToCart)(const double* mag, const double* phase, double* re,
                     double* im, int n);
};

// Kernels usable on this CPU, the one nspdbr* use first.
std::span<const PolarKernels> availablePolarKernels();

}  // namespace bw::nsp::detail
