// The SIMD kernels behind nspdbrCartToPolar and nspdbrPolarToCart, exposed so
// that tests can check every kernel this CPU can run, not only the one picked.
// Each kernel converts the longest prefix of whole vectors of its width and
// returns how many elements it did; the caller finishes the rest with libm.
#pragma once

#include <cfloat>
#include <span>

namespace bw::nsp::detail {

struct PolarKernels {
  const char* name;  // "avx512f", "avx2", "sse2"
  int (*cartToPolar)(const double* re, const double* im, double* mag,
                     double* phase, int n);
  int (*polarToCart)(const double* mag, const double* phase, double* re,
                     double* im, int n);
};

// Range limits of the fast paths (see polar.cpp).
// sqrt(x² + y²) is exact to an ulp or two, and cheaper than hypot, while the
// sum stays normal and finite: from 2^-969 (so that squares lost to underflow
// are below 2^-106 of it) to DBL_MAX. Elements outside that range (and NaN or
// infinite ones) are redone with std::hypot; exact zeros are fine as they are.
inline constexpr double kMinSafeSum = 0x1p-969;
inline constexpr double kMaxSafeSum = DBL_MAX;
// SLEEF's 3.5-ULP sincos holds its bound for |phase| up to 1e14.
inline constexpr double kMaxFastPhase = 1e14;


// Redo, with libm, the lanes of a vector starting at element i whose bit is
// set: the Cartesian values (slow) or the magnitudes (unsafe). Compiled for
// baseline x86-64, callable from every kernel.
void fixCartesian(const double* mag, const double* phase, double* re,
                  double* im, int i, unsigned slow);
void fixMagnitudes(const double* re, const double* im, double* mag, int i,
                   unsigned unsafe);

// The wide kernels live in files of their own, compiled for their instruction
// sets, and run only where the CPU has them.
int cartToPolarAvx2(const double* re, const double* im, double* mag,
                    double* phase, int n);
int polarToCartAvx2(const double* mag, const double* phase, double* re,
                    double* im, int n);
int cartToPolarAvx512(const double* re, const double* im, double* mag,
                      double* phase, int n);
int polarToCartAvx512(const double* mag, const double* phase, double* re,
                      double* im, int n);

// Kernels usable on this CPU, the one nspdbr* use first.
std::span<const PolarKernels> availablePolarKernels();

}  // namespace bw::nsp::detail
