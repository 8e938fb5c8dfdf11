// The table of vector kernels, one per instruction set (see kernel_set.h).
// Each table is defined in a file of its own compiled for its instruction set
// (kernels_sse2.cpp, kernels_avx2.cpp, kernels_avx512.cpp); only the table of
// a set the CPU runs is ever called.
//
// The polar kernels convert the longest prefix of whole vectors and return
// how many elements they did; the caller finishes the rest. Lanes outside the
// fast path's range are redone by the fix* functions below with libm. Outputs
// may be the input arrays themselves: a kernel reads a vector's inputs before
// writing its outputs.
#pragma once

#include <cstdint>

#include "primitives/chain_helpers.h"

namespace bw::nsp::detail {

struct Kernels {
  const char* name;
  int (*cartToPolar)(const double* re, const double* im, double* mag,
                     double* phase, int n);
  int (*polarToCart)(const double* mag, const double* phase, double* re,
                     double* im, int n);
  void (*mpy2)(const double* src, double* dst, int n);
  void (*add2)(const double* src, double* dst, int n);
  void (*add3)(const double* a, const double* b, double* dst, int n);
  void (*mpy1)(double value, double* dst, int n);
  void (*thresh1)(double* vec, int n, double level);
  // nspdMax for n >= 1, except that among equal largest values of different
  // sign (+0 and -0) any may be returned.
  double (*max)(const double* vec, int n);
  // counts[0]: elements above `floor`; counts[1]: those also above `level`.
  void (*countAbove)(const double* vec, int n, double floor, double level,
                     long long counts[2]);
  void (*roundToInt32)(const double* v, std::int32_t* out, int n);
  void (*rotateByTable)(double* re, double* im, const double* tableRe,
                        const double* tableIm, double c, double s, int n);
  double (*removeRunLevels)(double* x, int n, int stride, double gain,
                            const double* ramp, double level);
  void (*evenTapMagnitude)(const double* re, const double* im, const double* taps,
                           double* out, int n);
  SpinSums (*spinAndSum)(double* re, double* im, int n, double c, double s,
                         double stepC, double stepS);
  void (*biquad)(double* x, int n, const double* coef, double* state);
  void (*cancelTone)(double* re, double* im, int n, const double* tRe, const double* tIm,
                     int run, double mu, double* state);
};

extern const Kernels kSse2Kernels;
extern const Kernels kAvx2Kernels;
extern const Kernels kAvx512Kernels;

// The table in use (see kernel_set.h). Cheap: one atomic load.
const Kernels& activeKernels();

// Range of the fast polar paths.
// sqrt(x² + y²) is exact to an ulp or two while the sum stays normal and
// finite: from 2^-969 (so that squares lost to underflow are below 2^-106 of
// it) to DBL_MAX. Other lanes (also NaN and infinite ones) are redone with
// hypot and atan2; the exact origin stays on the fast path.
inline constexpr double kMinSafeSum = 0x1p-969;
inline constexpr double kMaxSafeSum = 1.7976931348623157e308;  // DBL_MAX
// The argument reduction of sincos is exact to well below 1e-15 for phases
// up to this size (quadrant count below 2^21); larger, NaN and infinite
// phases go to libm.
inline constexpr double kMaxFastPhase = 1e6;

// Redo with libm the lanes of the vector at element i whose bit is set, from
// the inputs as the kernel loaded them (xs, ys, ms, ps hold one vector).
// Compiled for baseline x86-64.
void fixPolar(const double* xs, const double* ys, double* mag, double* phase,
              int i, unsigned lanes);
void fixCartesian(const double* ms, const double* ps, double* re, double* im,
                  int i, unsigned lanes);

}  // namespace bw::nsp::detail
