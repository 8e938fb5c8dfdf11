// Element-wise vector operations and extrema. Counts below 1 do nothing.
#include "primitives/nsp.h"
#include "primitives/wide_clones.h"

// The element-wise loops are built at every vector width; the extrema stay
// scalar, because their comparison order decides what a NaN element does.

namespace bw::nsp {

BW_WIDE_CLONES void nspdbMpy2(const double* src, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] *= src[i];
}

BW_WIDE_CLONES void nspdbAdd2(const double* src, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] += src[i];
}

BW_WIDE_CLONES void nspdbAdd3(const double* a, const double* b, double* dst,
                              int n) {
  for (int i = 0; i < n; ++i) dst[i] = a[i] + b[i];
}

BW_WIDE_CLONES void nspdbMpy1(double value, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] *= value;
}

BW_WIDE_CLONES void nspdbThresh1(double* vec, int n, double level,
                                 int relation) {
  if (relation != kThreshGreater) return;
  for (int i = 0; i < n; ++i) {
    if (vec[i] > level) vec[i] = level;
  }
}

double nspdMax(const double* vec, int n) {
  if (vec == nullptr || n < 1) return 0.0;
  double best = vec[0];
  for (int i = 1; i < n; ++i) {
    if (vec[i] > best) best = vec[i];
  }
  return best;
}

double nspdMin(const double* vec, int n) {
  if (vec == nullptr || n < 1) return 0.0;
  double best = vec[0];
  for (int i = 1; i < n; ++i) {
    if (vec[i] < best) best = vec[i];
  }
  return best;
}

}  // namespace bw::nsp
