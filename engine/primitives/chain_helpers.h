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

// out[k] = |sum over j = -3..3 of taps[|j|] x[k + 2j]| for k < n, where
// x = re + j im: a spectrum under a window of cosines (windowed_spectrum.h).
// Reads re and im from index -6 to n + 5; taps holds 4 values.
void evenTapMagnitude(const double* re, const double* im, const double* taps,
                      double* out, int n);

// What spinAndSum learns of a run, z being the turned samples.
struct SpinSums {
  double sumRe, sumIm;  // sum of z
  double power;         // sum of |z|^2
  double lagRe, lagIm;  // sum of z[k] conj(z[k-1]), k >= 1
  double nextRe, nextIm;  // the turn for the sample after the run
};

// Turns x = re + j im [0..n-1] in place by an oscillator: z[k] = x[k]
// (c + j s) (stepC + j stepS)^k, with |c + j s| = |stepC + j stepS| = 1, and
// sums the run (SpinSums). A carrier-locked loop's de-rotation.
SpinSums spinAndSum(double* re, double* im, int n, double c, double s,
                    double stepC, double stepS);

// One second-order section over x[0..n-1] in place: y = b0 x + b1 x' +
// b2 x'' - a1 y' - a2 y'', coef = {b0, b1, b2, a1, a2}; state = {x', x'',
// y', y''} before the first sample, and after the last on return. An audio
// filter of the detectors, where the sample-to-sample wait is the cost.
void biquad(double* x, int n, const double* coef, double* state);

// A tone cancelled from x = re + j im [0..n-1] in place by a one-weight
// canceller whose weight is held over runs of `run` samples (block LMS):
// per run, c = w r, y[k] = x[k] - c t[k], then w += mu sum y[k] conj(r t[k])
// and r *= t[run]. t = tRe + j tIm holds run + 1 values exp(j omega k) of
// the tone's turn; state = {Re r, Im r, Re w, Im w}, carried. The automatic
// notch (auto_notch.h).
void cancelTone(double* re, double* im, int n, const double* tRe, const double* tIm,
                int run, double mu, double* state);

}  // namespace bw::nsp
