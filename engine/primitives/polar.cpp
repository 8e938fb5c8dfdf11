// Cartesian <-> polar conversion of split complex vectors.
//
// The chain converts two or three M-point vectors per block, which makes these
// the most expensive primitives after the transforms. The work is done in
// SIMD kernels on SLEEF's vector atan2 and sincos (1.0 ULP variants), picked
// once at start-up from what the CPU offers: AVX-512F, AVX2 with FMA, or the
// SSE2 every x86-64 has. The remainder below a vector width and any element
// the fast magnitude cannot handle go through libm.
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
__m256d Sleef_atan2d4_u10avx2(__m256d, __m256d);
Sleef___m256d_2 Sleef_sincosd4_u10avx2(__m256d);
}

namespace bw::nsp {
namespace {

// sqrt(x² + y²) is exact to an ulp or two, and cheaper than hypot, while the
// sum stays normal and finite: from 2^-969 (so that squares lost to underflow
// are below 2^-106 of it) to DBL_MAX. Elements outside that range (and NaN or
// infinite ones) are redone with std::hypot; exact zeros are fine as they are.
constexpr double kMinSafeSum = 0x1p-969;
constexpr double kMaxSafeSum = DBL_MAX;

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
    const __m128d p = Sleef_atan2d2_u10sse2(y, x);
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
    const Sleef___m128d_2 sc = Sleef_sincosd2_u10sse2(_mm_loadu_pd(phase + i));
    _mm_storeu_pd(re + i, _mm_mul_pd(m, sc.y));
    _mm_storeu_pd(im + i, _mm_mul_pd(m, sc.x));
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
    const __m256d p = Sleef_atan2d4_u10avx2(y, x);
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
    const Sleef___m256d_2 sc =
        Sleef_sincosd4_u10avx2(_mm256_loadu_pd(phase + i));
    _mm256_storeu_pd(re + i, _mm256_mul_pd(m, sc.y));
    _mm256_storeu_pd(im + i, _mm256_mul_pd(m, sc.x));
  }
  return i;
}

// --- dispatch ----------------------------------------------------------------

constexpr detail::PolarKernels kAvx2{"avx2", cartToPolarAvx2, polarToCartAvx2};
constexpr detail::PolarKernels kSse2{"sse2", cartToPolarSse2, polarToCartSse2};

struct KernelList {
  detail::PolarKernels items[2];
  int count;
};

KernelList detectKernels() {
  __builtin_cpu_init();  // may run before the CPU model is initialised
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) {
    return {{kAvx2, kSse2}, 2};
  }
  return {{kSse2, kSse2}, 1};
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
