// Cartesian <-> polar conversion of split complex vectors.
#include <cmath>

#include "primitives/nsp.h"

namespace bw::nsp {

void nspdbrCartToPolar(const double* re, const double* im, double* mag,
                       double* phase, int n) {
  for (int i = 0; i < n; ++i) {
    // Read both inputs before writing: mag or phase may be an input array.
    const double x = re[i];
    const double y = im[i];
    mag[i] = std::hypot(x, y);
    phase[i] = std::atan2(y, x);
  }
}

void nspdbrPolarToCart(const double* mag, const double* phase, double* re,
                       double* im, int n) {
  for (int i = 0; i < n; ++i) {
    // Read both inputs before writing: re or im may be the same array as an
    // input.
    const double m = mag[i];
    const double p = phase[i];
    re[i] = m * std::cos(p);
    im[i] = m * std::sin(p);
  }
}

}  // namespace bw::nsp
