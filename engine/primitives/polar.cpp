// Cartesian <-> polar conversion of split complex vectors.
//
// The chain converts two or three M-point vectors per block, which makes these
// the most expensive primitives after the transforms. The work is done in
// SIMD kernels on SLEEF's vector atan2 and sincos, picked once at start-up
// from what the CPU offers: AVX-512F, AVX2 with FMA, or the SSE2 every x86-64
// has. SLEEF's 3.5-ULP variants are used: about twice as fast as the 1-ULP
// ones, and still within 1e-15 relative of libm. The remainder below a vector
// width, and any element outside the range of the fast magnitude or of the
// sincos argument reduction, go through libm.
//
// Outputs may be the same arrays as inputs (element by element in place):
// every kernel reads an element's two inputs before writing its outputs.
#include <sleef.h>

#include <cfloat>
#include <cstddef>
#include <cmath>

#include "primitives/nsp.h"
#include "primitives/polar_kernels.h"

// sleef.h declares its 256-bit functions only when the whole translation unit
// is compiled for AVX; this one is built for baseline x86-64 and calls them
// only from functions compiled for AVX2 after checking the CPU. These are the
// library's own declarations (libsleef 3.5).
extern "C" {
#ifndef Sleef___m256d_2_DEFINED
typedef struct {
  __m256d x, y;
} Sleef___m256d_2;
#define Sleef___m256d_2_DEFINED
#endif
#ifndef Sleef___m512d_2_DEFINED
typedef struct {
  __m512d x, y;
} Sleef___m512d_2;
#define Sleef___m512d_2_DEFINED
#endif
__m256d Sleef_atan2d4_u35avx2(__m256d, __m256d);
Sleef___m256d_2 Sleef_sincosd4_u35avx2(__m256d);
__m512d Sleef_atan2d8_u35avx512f(__m512d, __m512d);
Sleef___m512d_2 Sleef_sincosd8_u35avx512f(__m512d);
}

namespace bw::nsp {
namespace {

// sqrt(x² + y²) is exact to an ulp or two, and cheaper than hypot, while the
// sum stays normal and finite: from 2^-969 (so that squares lost to underflow
// are below 2^-106 of it) to DBL_MAX. Elements outside that range (and NaN or
// infinite ones) are redone with std::hypot; exact zeros are fine as they are.
constexpr double kMinSafeSum = 0x1p-969;
constexpr double kMaxSafeSum = DBL_MAX;
// SLEEF's 3.5-ULP sincos holds its bound for |phase| up to 1e14.
constexpr double kMaxFastPhase = 1e14;

void cartToPolarScalar(const double* re, const double* im, double* mag,
                       double* phase, int begin, int end) {
  for (int i = begin; i < end; ++i) {
    const double x = re[i];
    const double y = im[i];
    mag[i] = std::hypot(x, y);
    phase[i] = std::atan2(y, x);
  }
}

void polarToCartScalar(const double* mag, const double* phase, double* re,
                       double* im, int begin, int end) {
  for (int i = begin; i < end; ++i) {
    const double m = mag[i];
    const double p = phase[i];
    re[i] = m * std::cos(p);
    im[i] = m * std::sin(p);
  }
}

// Redoes the lanes whose bit is set in `slow` with libm.
inline void fixCartesian(const double* mag, const double* phase, double* re,
                         double* im, int i, unsigned slow) {
  for (int lane = 0; slow != 0; ++lane, slow >>= 1) {
    if ((slow & 1u) != 0) {
      re[i + lane] = mag[i + lane] * std::cos(phase[i + lane]);
      im[i + lane] = mag[i + lane] * std::sin(phase[i + lane]);
    }
  }
}

// Redoes the magnitudes of lanes whose bit is set in `unsafe` with hypot.
inline void fixMagnitudes(const double* re, const double* im, double* mag,
                          int i, unsigned unsafe) {
  for (int lane = 0; unsafe != 0; ++lane, unsafe >>= 1) {
    if ((unsafe & 1u) != 0) mag[i + lane] = std::hypot(re[i + lane], im[i + lane]);
  }
}

// --- SSE2: two lanes -------------------------------------------------------

int cartToPolarSse2(const double* re, const double* im, double* mag,
                    double* phase, int n) {
  const __m128d lo = _mm_set1_pd(kMinSafeSum);
  const __m128d hi = _mm_set1_pd(kMaxSafeSum);
  const __m128d zero = _mm_setzero_pd();
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m128d x = _mm_loadu_pd(re + i);
    const __m128d y = _mm_loadu_pd(im + i);
    const __m128d sum = _mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y));
    const __m128d safe = _mm_or_pd(
        _mm_and_pd(_mm_cmpge_pd(sum, lo), _mm_cmple_pd(sum, hi)),
        _mm_and_pd(_mm_cmpeq_pd(x, zero), _mm_cmpeq_pd(y, zero)));
    const __m128d p = Sleef_atan2d2_u35sse2(y, x);
    _mm_storeu_pd(mag + i, _mm_sqrt_pd(sum));
    _mm_storeu_pd(phase + i, p);
    const unsigned unsafe = ~static_cast<unsigned>(_mm_movemask_pd(safe)) & 3u;
    if (unsafe != 0) {
      // The inputs may have been overwritten in place: use the loaded lanes.
      alignas(16) double xs[2], ys[2];
      _mm_store_pd(xs, x);
      _mm_store_pd(ys, y);
      fixMagnitudes(xs - i, ys - i, mag, i, unsafe);
    }
  }
  return i;
}

int polarToCartSse2(const double* mag, const double* phase, double* re,
                    double* im, int n) {
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m128d m = _mm_loadu_pd(mag + i);
    const __m128d p = _mm_loadu_pd(phase + i);
    const Sleef___m128d_2 sc = Sleef_sincosd2_u35sse2(p);
    _mm_storeu_pd(re + i, _mm_mul_pd(m, sc.y));
    _mm_storeu_pd(im + i, _mm_mul_pd(m, sc.x));
    const __m128d abs = _mm_andnot_pd(_mm_set1_pd(-0.0), p);
    const unsigned slow = static_cast<unsigned>(
        _mm_movemask_pd(_mm_cmpgt_pd(abs, _mm_set1_pd(kMaxFastPhase))));
    if (slow != 0) {
      alignas(16) double ms[2], ps[2];
      _mm_store_pd(ms, m);
      _mm_store_pd(ps, p);
      fixCartesian(ms - i, ps - i, re, im, i, slow);
    }
  }
  return i;
}

// --- AVX2 + FMA: four lanes ------------------------------------------------

__attribute__((target("avx2,fma"))) int cartToPolarAvx2(const double* re,
                                                        const double* im,
                                                        double* mag,
                                                        double* phase, int n) {
  const __m256d lo = _mm256_set1_pd(kMinSafeSum);
  const __m256d hi = _mm256_set1_pd(kMaxSafeSum);
  const __m256d zero = _mm256_setzero_pd();
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d x = _mm256_loadu_pd(re + i);
    const __m256d y = _mm256_loadu_pd(im + i);
    const __m256d sum = _mm256_fmadd_pd(y, y, _mm256_mul_pd(x, x));
    const __m256d safe = _mm256_or_pd(
        _mm256_and_pd(_mm256_cmp_pd(sum, lo, _CMP_GE_OQ),
                      _mm256_cmp_pd(sum, hi, _CMP_LE_OQ)),
        _mm256_and_pd(_mm256_cmp_pd(x, zero, _CMP_EQ_OQ),
                      _mm256_cmp_pd(y, zero, _CMP_EQ_OQ)));
    const __m256d p = Sleef_atan2d4_u35avx2(y, x);
    _mm256_storeu_pd(mag + i, _mm256_sqrt_pd(sum));
    _mm256_storeu_pd(phase + i, p);
    const unsigned unsafe =
        ~static_cast<unsigned>(_mm256_movemask_pd(safe)) & 15u;
    if (unsafe != 0) {
      alignas(32) double xs[4], ys[4];
      _mm256_store_pd(xs, x);
      _mm256_store_pd(ys, y);
      fixMagnitudes(xs - i, ys - i, mag, i, unsafe);
    }
  }
  return i;
}

__attribute__((target("avx2,fma"))) int polarToCartAvx2(const double* mag,
                                                        const double* phase,
                                                        double* re, double* im,
                                                        int n) {
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d m = _mm256_loadu_pd(mag + i);
    const __m256d p = _mm256_loadu_pd(phase + i);
    const Sleef___m256d_2 sc = Sleef_sincosd4_u35avx2(p);
    _mm256_storeu_pd(re + i, _mm256_mul_pd(m, sc.y));
    _mm256_storeu_pd(im + i, _mm256_mul_pd(m, sc.x));
    const __m256d abs = _mm256_andnot_pd(_mm256_set1_pd(-0.0), p);
    const unsigned slow = static_cast<unsigned>(_mm256_movemask_pd(
        _mm256_cmp_pd(abs, _mm256_set1_pd(kMaxFastPhase), _CMP_GT_OQ)));
    if (slow != 0) {
      alignas(32) double ms[4], ps[4];
      _mm256_store_pd(ms, m);
      _mm256_store_pd(ps, p);
      fixCartesian(ms - i, ps - i, re, im, i, slow);
    }
  }
  return i;
}

// --- AVX-512F: eight lanes ---------------------------------------------------

__attribute__((target("avx512f"))) int cartToPolarAvx512(const double* re,
                                                         const double* im,
                                                         double* mag,
                                                         double* phase, int n) {
  const __m512d lo = _mm512_set1_pd(kMinSafeSum);
  const __m512d hi = _mm512_set1_pd(kMaxSafeSum);
  const __m512d zero = _mm512_setzero_pd();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m512d x = _mm512_loadu_pd(re + i);
    const __m512d y = _mm512_loadu_pd(im + i);
    const __m512d sum = _mm512_fmadd_pd(y, y, _mm512_mul_pd(x, x));
    const __mmask8 safe = static_cast<__mmask8>(
        (_mm512_cmp_pd_mask(sum, lo, _CMP_GE_OQ) &
         _mm512_cmp_pd_mask(sum, hi, _CMP_LE_OQ)) |
        (_mm512_cmp_pd_mask(x, zero, _CMP_EQ_OQ) &
         _mm512_cmp_pd_mask(y, zero, _CMP_EQ_OQ)));
    const __m512d p = Sleef_atan2d8_u35avx512f(y, x);
    // The zero-masking form: the unmasked one trips a false "uninitialised"
    // warning inside GCC 12's own header.
    _mm512_storeu_pd(mag + i, _mm512_maskz_sqrt_pd(0xff, sum));
    _mm512_storeu_pd(phase + i, p);
    const unsigned unsafe = ~static_cast<unsigned>(safe) & 0xffu;
    if (unsafe != 0) {
      alignas(64) double xs[8], ys[8];
      _mm512_store_pd(xs, x);
      _mm512_store_pd(ys, y);
      fixMagnitudes(xs - i, ys - i, mag, i, unsafe);
    }
  }
  return i;
}

__attribute__((target("avx512f"))) int polarToCartAvx512(const double* mag,
                                                         const double* phase,
                                                         double* re,
                                                         double* im, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m512d m = _mm512_loadu_pd(mag + i);
    const __m512d p = _mm512_loadu_pd(phase + i);
    const Sleef___m512d_2 sc = Sleef_sincosd8_u35avx512f(p);
    _mm512_storeu_pd(re + i, _mm512_mul_pd(m, sc.y));
    _mm512_storeu_pd(im + i, _mm512_mul_pd(m, sc.x));
    const unsigned slow = static_cast<unsigned>(_mm512_cmp_pd_mask(
        _mm512_abs_pd(p), _mm512_set1_pd(kMaxFastPhase), _CMP_GT_OQ));
    if (slow != 0) {
      alignas(64) double ms[8], ps[8];
      _mm512_store_pd(ms, m);
      _mm512_store_pd(ps, p);
      fixCartesian(ms - i, ps - i, re, im, i, slow);
    }
  }
  return i;
}

// --- dispatch ----------------------------------------------------------------

constexpr detail::PolarKernels kAvx512{"avx512f", cartToPolarAvx512,
                                        polarToCartAvx512};
constexpr detail::PolarKernels kAvx2{"avx2", cartToPolarAvx2, polarToCartAvx2};
constexpr detail::PolarKernels kSse2{"sse2", cartToPolarSse2, polarToCartSse2};

struct KernelList {
  detail::PolarKernels items[3];
  int count;
};

KernelList detectKernels() {
  __builtin_cpu_init();  // may run before the CPU model is initialised
  const bool avx2 =
      __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2 && __builtin_cpu_supports("avx512f")) {
    return {{kAvx512, kAvx2, kSse2}, 3};
  }
  if (avx2) return {{kAvx2, kSse2, kSse2}, 2};
  return {{kSse2, kSse2, kSse2}, 1};
}

// Decided once during static initialisation, read-only afterwards.
const KernelList kernelList = detectKernels();
const detail::PolarKernels& kernels = kernelList.items[0];

}  // namespace

namespace detail {
std::span<const PolarKernels> availablePolarKernels() {
  return {kernelList.items, static_cast<std::size_t>(kernelList.count)};
}
}  // namespace detail

void nspdbrCartToPolar(const double* re, const double* im, double* mag,
                       double* phase, int n) {
  if (n < 1) return;
  const int done = kernels.cartToPolar(re, im, mag, phase, n);
  cartToPolarScalar(re, im, mag, phase, done, n);
}

void nspdbrPolarToCart(const double* mag, const double* phase, double* re,
                       double* im, int n) {
  if (n < 1) return;
  const int done = kernels.polarToCart(mag, phase, re, im, n);
  polarToCartScalar(mag, phase, re, im, done, n);
}

}  // namespace bw::nsp
