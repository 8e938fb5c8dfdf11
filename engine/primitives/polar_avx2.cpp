// AVX2 + FMA polar kernels. This file is compiled with -mavx2 -mfma and its
// functions run only after the CPU was found to support them (polar.cpp).
#include <immintrin.h>
#include <sleef.h>

#include "primitives/polar_kernels.h"

namespace bw::nsp::detail {

// --- AVX2 + FMA: four lanes ------------------------------------------------

int cartToPolarAvx2(const double* re, const double* im, double* mag,
                    double* phase, int n) {
  const __m256d lo = _mm256_set1_pd(kMinSafeSum);
  const __m256d hi = _mm256_set1_pd(kMaxSafeSum);
  const __m256d zero = _mm256_setzero_pd();
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d x = _mm256_loadu_pd(re + i);
    const __m256d y = _mm256_loadu_pd(im + i);
    const __m256d sum = _mm256_fmadd_pd(y, y, _mm256_mul_pd(x, x));
    const __m256d safe =
        _mm256_or_pd(_mm256_and_pd(_mm256_cmp_pd(sum, lo, _CMP_GE_OQ),
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

int polarToCartAvx2(const double* mag, const double* phase, double* re,
                    double* im, int n) {
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

}  // namespace bw::nsp::detail
