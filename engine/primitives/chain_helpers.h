// Vector helpers the receive chain calls directly, besides the eleven
// primitives: one pass each at the active kernel set's width (kernel_set.h).
#pragma once

#include <cstdint>

namespace bw::nsp {

// counts[0]: elements of vec[0..n-1] above `floor`; counts[1]: how many of
// those are also above `level`. NaN elements are above nothing. Both are 0
// for n < 1. The squelch's measure of a block.
void countAbove(const double* vec, int n, double floor, double level,
                long long counts[2]);

// out[i] = v[i] rounded to the nearest integer, ties to even (the default
// rounding mode), held inside the int32 range; NaN becomes 0. Output samples.
void roundToInt32(const double* v, std::int32_t* out, int n);

// (re[i] + j im[i]) *= (c + j s) (tableRe[i] + j tableIm[i]) for i < n: a
// block turned by an oscillator's table and its phase at the block start.
void rotateByTable(double* re, double* im, const double* tableRe,
                   const double* tableIm, double c, double s, int n);

// The DC tracker over the whole runs of x[0..n-1] (runs of `stride`
// samples, stride a power of two): per run the level moves by
// gain * (run mean - level) and the straight line from the old level to the
// new one, ramp[i] = (i + 1) / stride, is subtracted. Returns the level
// after the last whole run; a shorter rest is left as it is.
double removeRunLevels(double* x, int n, int stride, double gain,
                       const double* ramp, double level);

}  // namespace bw::nsp
