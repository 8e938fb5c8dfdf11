// Element-wise vector operations and extrema. Counts below 1 do nothing.
// The element-wise loops run at the active kernel set's width (kernel_set.h);
// nspdMax runs lane by lane with the scalar rule, so NaN elements do what
// they do in one scalar pass; nspdMin is only ever given a few elements.
#include "primitives/chain_helpers.h"
#include "primitives/kernel_table.h"
#include "primitives/nsp.h"

namespace bw::nsp {

void nspdbMpy2(const double* src, double* dst, int n) {
  if (n > 0) detail::activeKernels().mpy2(src, dst, n);
}

void nspdbAdd2(const double* src, double* dst, int n) {
  if (n > 0) detail::activeKernels().add2(src, dst, n);
}

void nspdbAdd3(const double* a, const double* b, double* dst, int n) {
  if (n > 0) detail::activeKernels().add3(a, b, dst, n);
}

void nspdbMpy1(double value, double* dst, int n) {
  if (n > 0) detail::activeKernels().mpy1(value, dst, n);
}

void nspdbThresh1(double* vec, int n, double level, int relation) {
  if (relation != kThreshGreater || n < 1) return;
  detail::activeKernels().thresh1(vec, n, level);
}

double nspdMax(const double* vec, int n) {
  if (vec == nullptr || n < 1) return 0.0;
  const double fast = detail::activeKernels().max(vec, n);
  if (fast != 0.0) return fast;
  // A largest value of zero: the first zero decides the sign, as below.
  double best = vec[0];
  for (int i = 1; i < n; ++i) {
    if (vec[i] > best) best = vec[i];
  }
  return best;
}

void countAbove(const double* vec, int n, double floor, double level,
                long long counts[2]) {
  counts[0] = counts[1] = 0;
  if (vec != nullptr && n > 0) {
    detail::activeKernels().countAbove(vec, n, floor, level, counts);
  }
}

void roundToInt32(const double* v, std::int32_t* out, int n) {
  if (n > 0) detail::activeKernels().roundToInt32(v, out, n);
}

void rotateByTable(double* re, double* im, const double* tableRe,
                   const double* tableIm, double c, double s, int n) {
  if (n > 0) detail::activeKernels().rotateByTable(re, im, tableRe, tableIm, c, s, n);
}

double removeRunLevels(double* x, int n, int stride, double gain,
                       const double* ramp, double level) {
  if (n < 1 || stride < 1) return level;
  return detail::activeKernels().removeRunLevels(x, n, stride, gain, ramp, level);
}

void evenTapMagnitude(const double* re, const double* im, const double* taps,
                      double* out, int n) {
  if (n > 0) detail::activeKernels().evenTapMagnitude(re, im, taps, out, n);
}

SpinSums spinAndSum(double* re, double* im, int n, double c, double s,
                    double stepC, double stepS) {
  if (n < 1) return {0.0, 0.0, 0.0, 0.0, 0.0, c, s};
  return detail::activeKernels().spinAndSum(re, im, n, c, s, stepC, stepS);
}

void biquad(double* x, int n, const double* coef, double* state) {
  if (n > 0) detail::activeKernels().biquad(x, n, coef, state);
}

void cancelTone(double* re, double* im, int n, const double* tRe, const double* tIm,
                int run, double mu, double* state) {
  if (n > 0 && run > 0) detail::activeKernels().cancelTone(re, im, n, tRe, tIm, run, mu, state);
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
