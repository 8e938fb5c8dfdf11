// Cartesian <-> polar conversion of split complex vectors.
//
// The chain converts two or three M-point vectors per block, which makes these
// the most expensive primitives after the transforms. The work is done by the
// active kernel set's vector kernels (simd_kernels.h), accurate to about 1e-14
// relative; the remainder below a vector width and any lane outside the fast
// path's range (non-finite, huge or tiny values) go through libm.
//
// Outputs may be the same arrays as inputs (element by element in place).
#include <cmath>

#include "primitives/kernel_table.h"
#include "primitives/nsp.h"

namespace bw::nsp {

namespace detail {
void fixPolar(const double* xs, const double* ys, double* mag, double* phase,
              int i, unsigned lanes) {
  for (int lane = 0; lanes != 0; ++lane, lanes >>= 1) {
    if ((lanes & 1u) != 0) {
      mag[i + lane] = std::hypot(xs[lane], ys[lane]);
      phase[i + lane] = std::atan2(ys[lane], xs[lane]);
    }
  }
}

void fixCartesian(const double* ms, const double* ps, double* re, double* im,
                  int i, unsigned lanes) {
  for (int lane = 0; lanes != 0; ++lane, lanes >>= 1) {
    if ((lanes & 1u) != 0) {
      re[i + lane] = ms[lane] * std::cos(ps[lane]);
      im[i + lane] = ms[lane] * std::sin(ps[lane]);
    }
  }
}
}  // namespace detail

void nspdbrCartToPolar(const double* re, const double* im, double* mag,
                       double* phase, int n) {
  if (n < 1) return;
  for (int i = detail::activeKernels().cartToPolar(re, im, mag, phase, n);
       i < n; ++i) {
    const double x = re[i];
    const double y = im[i];
    mag[i] = std::hypot(x, y);
    phase[i] = std::atan2(y, x);
  }
}

void nspdbrPolarToCart(const double* mag, const double* phase, double* re,
                       double* im, int n) {
  if (n < 1) return;
  for (int i = detail::activeKernels().polarToCart(mag, phase, re, im, n);
       i < n; ++i) {
    const double m = mag[i];
    const double p = phase[i];
    re[i] = m * std::cos(p);
    im[i] = m * std::sin(p);
  }
}

}  // namespace bw::nsp
