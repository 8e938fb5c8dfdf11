// AVX-512F polar kernels. This file is compiled with -mavx512f and its
// functions run only after the CPU was found to support them (polar.cpp).
#include <immintrin.h>
#include <sleef.h>

#include "primitives/polar_kernels.h"

namespace bw::nsp::detail {

// --- AVX-512F: eight lanes ---------------------------------------------------

int cartToPolarAvx512(const double* re, const double* im, double* mag,
                      double* phase, int n) {
  const __m512d lo = _mm512_set1_pd(kMinSafeSum);
  const __m512d hi = _mm512_set1_pd(kMaxSafeSum);
  const __m512d zero = _mm512_setzero_pd();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m512d x = _mm512_loadu_pd(re + i);
    const __m512d y = _mm512_loadu_pd(im + i);
    const __m512d sum = _mm512_fmadd_pd(y, y, _mm512_mul_pd(x, x));
    const __mmask8 safe =
        static_cast<__mmask8>((_mm512_cmp_pd_mask(sum, lo, _CMP_GE_OQ) &
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

int polarToCartAvx512(const double* mag, const double* phase, double* re,
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

}  // namespace bw::nsp::detail
