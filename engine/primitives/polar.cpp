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
#include <emmintrin.h>
#include <sleef.h>

#include <cfloat>
#include <cstddef>
#include <cmath>

#include "primitives/nsp.h"
#include "primitives/polar_kernels.h"

namespace bw::nsp {

namespace detail {
// Redoes the lanes whose bit is set in `slow` with libm.
void fixCartesian(const double* mag, const double* phase, double* re,
                  double* im, int i, unsigned slow) {
  for (int lane = 0; slow != 0; ++lane, slow >>= 1) {
    if ((slow & 1u) != 0) {
      re[i + lane] = mag[i + lane] * std::cos(phase[i + lane]);
      im[i + lane] = mag[i + lane] * std::sin(phase[i + lane]);
    }
  }
}

// Redoes the magnitudes of lanes whose bit is set in `unsafe` with hypot.
void fixMagnitudes(const double* re, const double* im, double* mag, int i,
                   unsigned unsafe) {
  for (int lane = 0; unsafe != 0; ++lane, unsafe >>= 1) {
    if ((unsafe & 1u) != 0) mag[i + lane] = std::hypot(re[i + lane], im[i + lane]);
  }
}

}  // namespace detail

namespace {

using detail::fixCartesian;
using detail::fixMagnitudes;
using detail::kMinSafeSum;
using detail::kMaxSafeSum;
using detail::kMaxFastPhase;

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

// --- dispatch ----------------------------------------------------------------

constexpr detail::PolarKernels kAvx512{"avx512f", detail::cartToPolarAvx512,
                                        detail::polarToCartAvx512};
constexpr detail::PolarKernels kAvx2{"avx2", detail::cartToPolarAvx2,
                                     detail::polarToCartAvx2};
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
