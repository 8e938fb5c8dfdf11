// The vector kernels, written once on the operations of simd_ops.h and built
// for each instruction set by kernels_<set>.cpp. Internal linkage only.
//
// Polar conversions. The chain needs each value to about 1e-13 relative
// (far below one output step even at 32-bit samples), not to the last ulp,
// so both directions use short polynomials on a reduced range instead of
// general library functions:
// - atan2: t = min(|x|,|y|) / max(|x|,|y|) in [0, 1]; above tan(pi/8) the
//   identity atan(t) = pi/4 - atan((1-t)/(1+t)) brings it into
//   [0, tan(pi/8)], done in the same division. atan(t) = t + t s P(s),
//   s = t², P of degree 8 (relative error below 4e-15), then the octant and
//   quadrant by reflections.
// - sincos: q = nearest integer to phase * 2/pi, r = phase - q pi/2 in two
//   fused steps (three exact-product steps, Cody and Waite's, without FMA),
//   sin r = r + r s S(s) and
//   cos r = 1 - s/2 + s² C(s), S and C of degree 4 (errors below 1.4e-14 and
//   8e-16 on [-pi/4, pi/4]), then swapped and signed by q mod 4.
// The polynomials are Chebyshev fits of the exact functions, checked in
// 40-digit arithmetic with the coefficients rounded to double.
#pragma once

#include <cmath>

#include "primitives/kernel_table.h"
#include "primitives/simd_ops.h"

namespace bw::nsp::detail {
namespace {

using D = Ops::D;
using M = Ops::M;
constexpr int kW = Ops::kWidth;
constexpr unsigned kAllLanes = (1u << kW) - 1;

constexpr double kPi = 0x1.921fb54442d18p+1;
constexpr double kHalfPi = 0x1.921fb54442d18p+0;
constexpr double kQuarterPi = 0x1.921fb54442d18p-1;
constexpr double kTanEighthPi = 0x1.a827999fcef32p-2;  // sqrt(2) - 1
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
// pi/2 = kPio2a + kPio2b + kPio2c; the first two have at most 32 significant
// bits, so their products with a quadrant count below 2^21 are exact.
constexpr double kPio2a = 0x1.921fb54400000p+0;
constexpr double kPio2b = 0x1.0b4611a600000p-34;
constexpr double kPio2c = 0x1.3198a2e037073p-69;
// pi/2 = kPio2Hi + kPio2Lo to 2^-107, for fused multiply-adds.
constexpr double kPio2Hi = 0x1.921fb54442d18p+0;
constexpr double kPio2Lo = 0x1.1a62633145c07p-54;
// Adding 1.5 * 2^52 rounds to an integer (ties to even) and leaves it, in two's
// complement, in the low bits of the sum.
constexpr double kRoundMagic = 0x1.8p52;

constexpr double kAtan[] = {-0.02723288406057488,  0.05168834935919362,
                            -0.0655090730756309,   0.07681045202742948,
                            -0.09090255952690657,  0.11111089649211055,
                            -0.14285713930378566,  0.19999999997724888,
                            -0.3333333333333093};
constexpr double kSin[] = {-2.4805636241834762e-08, 2.755599092956532e-06,
                           -0.00019841266916985966, 0.008333333331079223,
                           -0.16666666666663885};
constexpr double kCos[] = {2.0700600483433117e-09, -2.7556369695573007e-07,
                           2.4801585210990515e-05, -0.0013888888887277342,
                           0.04166666666666468};

template <int kCount>
inline D horner(const double (&c)[kCount], D s) {
  D p = Ops::set1(c[0]);
  for (int k = 1; k < kCount; ++k) p = Ops::fma(p, s, Ops::set1(c[k]));
  return p;
}

// The atan polynomial by Estrin's scheme: the same fit as horner(kAtan, s),
// with a quarter of its dependency chain, which is what limits the loop.
inline D atanPoly(D s) {
  const D s2 = Ops::mul(s, s);
  const D s4 = Ops::mul(s2, s2);
  const D s8 = Ops::mul(s4, s4);
  auto pair = [s](int k) {  // kAtan[k] s + kAtan[k + 1]
    return Ops::fma(Ops::set1(kAtan[k]), s, Ops::set1(kAtan[k + 1]));
  };
  const D low = Ops::fma(pair(5), s2, pair(7));
  const D high = Ops::fma(pair(1), s2, pair(3));
  return Ops::fma(Ops::set1(kAtan[0]), s8, Ops::fma(high, s4, low));
}

// atan2(y, x) for lanes where x² + y² is normal and finite, or x = y = 0.
inline D atan2Lanes(D y, D x) {
  const D sign = Ops::bits(kSignBit);
  const D ax = Ops::andNotBits(sign, x);
  const D ay = Ops::andNotBits(sign, y);
  const D a = Ops::min(ax, ay);
  const D b = Ops::max(ax, ay);
  const M reduce = Ops::gt(a, Ops::mul(b, Ops::set1(kTanEighthPi)));
  const D num = Ops::select(reduce, Ops::sub(b, a), a);
  // Adding 2^-1022 changes no denominator of a lane on the fast path (there
  // b >= 2^-485) and turns the origin's 0 / 0 into angle 0, reflected below
  // by the signs of x and y.
  const D den = Ops::add(Ops::select(reduce, Ops::add(b, a), b),
                         Ops::set1(0x1p-1022));
  const D t = Ops::div(num, den);
  const D s = Ops::mul(t, t);
  D r = Ops::fma(Ops::mul(t, s), atanPoly(s), t);
  r = Ops::select(reduce, Ops::sub(Ops::set1(kQuarterPi), r), r);
  r = Ops::select(Ops::gt(ay, ax), Ops::sub(Ops::set1(kHalfPi), r), r);
  r = Ops::select(Ops::signSet(x), Ops::sub(Ops::set1(kPi), r), r);
  return Ops::orBits(r, Ops::andBits(sign, y));
}

int cartToPolarKernel(const double* re, const double* im, double* mag,
                      double* phase, int n) {
  const D lo = Ops::set1(kMinSafeSum);
  const D hi = Ops::set1(kMaxSafeSum);
  const D zero = Ops::set1(0.0);
  int i = 0;
  for (; i + kW <= n; i += kW) {
    const D x = Ops::load(re + i);
    const D y = Ops::load(im + i);
    const D sum = Ops::fma(y, y, Ops::mul(x, x));
    const M inRange = Ops::mAnd(Ops::ge(sum, lo), Ops::le(sum, hi));
    const D p = atan2Lanes(y, x);
    Ops::store(mag + i, Ops::sqrt(sum));
    Ops::store(phase + i, p);
    unsigned unsafe = ~Ops::laneBits(inRange) & kAllLanes;
    if (unsafe != 0) {
      // The exact origin is right as it is; any other lane out of range is
      // redone. The inputs may have been overwritten in place: use the
      // loaded lanes.
      unsafe &= ~Ops::laneBits(Ops::mAnd(Ops::eq(x, zero), Ops::eq(y, zero)));
      alignas(64) double xs[kW], ys[kW];
      Ops::store(xs, x);
      Ops::store(ys, y);
      if (unsafe != 0) fixPolar(xs, ys, mag, phase, i, unsafe);
    }
  }
  return i;
}

int polarToCartKernel(const double* mag, const double* phase, double* re,
                      double* im, int n) {
  const D sign = Ops::bits(kSignBit);
  const D maxPhase = Ops::set1(kMaxFastPhase);
  const D zero = Ops::set1(0.0);
  int i = 0;
  for (; i + kW <= n; i += kW) {
    const D m = Ops::load(mag + i);
    const D p = Ops::load(phase + i);
    const D k = Ops::fma(p, Ops::set1(kTwoOverPi), Ops::set1(kRoundMagic));
    const D q = Ops::sub(k, Ops::set1(kRoundMagic));
    D r;
    if constexpr (Ops::kFma) {
      // Fused, each step rounds once and two parts of pi/2 suffice: what
      // they leave out is below 2^-107 of it.
      r = Ops::fma(q, Ops::set1(-kPio2Hi), p);
      r = Ops::fma(q, Ops::set1(-kPio2Lo), r);
    } else {
      r = Ops::fma(q, Ops::set1(-kPio2a), p);
      r = Ops::fma(q, Ops::set1(-kPio2b), r);
      r = Ops::fma(q, Ops::set1(-kPio2c), r);
    }
    D sinR, cosR;
    if (Ops::laneBits(Ops::eq(m, zero)) == kAllLanes) {
      // Zero magnitudes (a removed sideband): the products are zeros, and
      // only their signs are left to get right. sin r has the sign of r
      // (zero with zero), cos r is positive.
      sinR = r;
      cosR = Ops::set1(1.0);
    } else {
      const D s = Ops::mul(r, r);
      sinR = Ops::fma(Ops::mul(r, s), horner(kSin, s), r);
      cosR = Ops::fma(Ops::mul(s, s), horner(kCos, s),
                      Ops::fma(s, Ops::set1(-0.5), Ops::set1(1.0)));
    }
    // Quadrant q mod 4: odd q swaps sine and cosine; bit 1 of q negates the
    // sine, bit 1 of q + 1 (bit 1 xor bit 0 of q) the cosine. Bit 0 shifted
    // to the top is alone there: it is a sign bit as it stands.
    const D oddBit = Ops::shiftLeft<63>(k);
    const M swap = Ops::signSet(oddBit);
    const D sinFlip = Ops::andBits(sign, Ops::shiftLeft<62>(k));
    const D cosFlip = Ops::xorBits(sinFlip, oddBit);
    const D sinP = Ops::xorBits(Ops::select(swap, cosR, sinR), sinFlip);
    const D cosP = Ops::xorBits(Ops::select(swap, sinR, cosR), cosFlip);
    Ops::store(re + i, Ops::mul(m, cosP));
    Ops::store(im + i, Ops::mul(m, sinP));
    const unsigned fast =
        Ops::laneBits(Ops::le(Ops::andNotBits(sign, p), maxPhase));
    const unsigned slow = ~fast & kAllLanes;
    if (slow != 0) {
      alignas(64) double ms[kW], ps[kW];
      Ops::store(ms, m);
      Ops::store(ps, p);
      fixCartesian(ms, ps, re, im, i, slow);
    }
  }
  return i;
}

// --- element-wise loops, vectorised by the compiler at this file's width ---

void mpy2Loop(const double* src, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] *= src[i];
}

void add2Loop(const double* src, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] += src[i];
}

void add3Loop(const double* a, const double* b, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] = a[i] + b[i];
}

void mpy1Loop(double value, double* dst, int n) {
  for (int i = 0; i < n; ++i) dst[i] *= value;
}

void thresh1Loop(double* vec, int n, double level) {
  for (int i = 0; i < n; ++i) {
    if (vec[i] > level) vec[i] = level;
  }
}

// The largest element by the scalar rule "take v when v > best", lane by
// lane from vec[0]: a NaN is never taken, unless vec[0] is one, and then
// every lane keeps it. max(v, best) is exactly that rule.
double maxKernel(const double* vec, int n) {
  D best = Ops::set1(vec[0]);
  int i = 0;
  for (; i + kW <= n; i += kW) best = Ops::max(Ops::load(vec + i), best);
  alignas(64) double lanes[kW];
  Ops::store(lanes, best);
  double result = lanes[0];
  for (int lane = 1; lane < kW; ++lane) {
    if (lanes[lane] > result) result = lanes[lane];
  }
  for (; i < n; ++i) {
    if (vec[i] > result) result = vec[i];
  }
  return result;
}

// Counted as 1.0 per lane: the sums are whole numbers far below 2^53, so
// exact in any order.
void countAboveKernel(const double* vec, int n, double floor, double level,
                      long long counts[2]) {
  const D one = Ops::set1(1.0);
  const D zero = Ops::set1(0.0);
  const D lo = Ops::set1(floor);
  const D hi = Ops::set1(level);
  D counted = Ops::set1(0.0);
  D loud = Ops::set1(0.0);
  int i = 0;
  for (; i + kW <= n; i += kW) {
    const D v = Ops::load(vec + i);
    const D inside = Ops::select(Ops::gt(v, lo), one, zero);
    counted = Ops::add(counted, inside);
    loud = Ops::add(loud, Ops::select(Ops::gt(v, hi), inside, zero));
  }
  alignas(64) double c[kW], l[kW];
  Ops::store(c, counted);
  Ops::store(l, loud);
  long long total = 0, above = 0;
  for (int lane = 0; lane < kW; ++lane) {
    total += static_cast<long long>(c[lane]);
    above += static_cast<long long>(l[lane]);
  }
  for (; i < n; ++i) {
    if (vec[i] > floor) {
      ++total;
      if (vec[i] > level) ++above;
    }
  }
  counts[0] = total;
  counts[1] = above;
}

// NaN to 0, then held inside the int32 range, then converted in the default
// rounding mode: to nearest, ties to even.
void roundToInt32Kernel(const double* v, std::int32_t* out, int n) {
  const D lo = Ops::set1(-2147483648.0);
  const D hi = Ops::set1(2147483647.0);
  const D zero = Ops::set1(0.0);
  int i = 0;
  for (; i + kW <= n; i += kW) {
    D x = Ops::load(v + i);
    x = Ops::select(Ops::eq(x, x), x, zero);
    Ops::storeInt32(out + i, Ops::min(Ops::max(x, lo), hi));
  }
  for (; i < n; ++i) {
    double x = v[i] == v[i] ? v[i] : 0.0;
    x = x < -2147483648.0 ? -2147483648.0 : (x > 2147483647.0 ? 2147483647.0 : x);
    out[i] = static_cast<std::int32_t>(std::nearbyint(x));
  }
}

// (re + j im) *= (c + j s)(tableRe + j tableIm), element by element.
void rotateByTableLoop(double* re, double* im, const double* tableRe,
                       const double* tableIm, double c, double s, int n) {
  for (int i = 0; i < n; ++i) {
    const double wr = c * tableRe[i] - s * tableIm[i];
    const double wi = c * tableIm[i] + s * tableRe[i];
    const double xr = re[i];
    const double xi = im[i];
    re[i] = xr * wr - xi * wi;
    im[i] = xr * wi + xi * wr;
  }
}

// The DC tracker's runs (see chain_helpers.h): per run of `stride` samples
// the level moves by gain * (run mean - level), and the straight line from
// the old level to the new one (ramp[i] = (i + 1) / stride) is subtracted.
double removeRunLevelsKernel(double* x, int n, int stride, double gain,
                             const double* ramp, double level) {
  const double perSample = 1.0 / stride;
  for (int start = 0; start + stride <= n; start += stride) {
    double* run = x + start;
    D acc = Ops::set1(0.0);
    int i = 0;
    for (; i + kW <= stride; i += kW) acc = Ops::add(acc, Ops::load(run + i));
    alignas(64) double lanes[kW];
    Ops::store(lanes, acc);
    double total = 0.0;
    for (int lane = 0; lane < kW; ++lane) total += lanes[lane];
    for (; i < stride; ++i) total += run[i];
    const double delta = gain * (total * perSample - level);
    for (int k = 0; k < stride; ++k) run[k] -= level + delta * ramp[k];
    level += delta;
  }
  return level;
}

// out[k] = |sum over j = -3..3 of taps[|j|] x[k + 2j]| with x = re + j im,
// in the order of one scalar pass (the centre, then the pairs outward).
void evenTapMagnitudeKernel(const double* re, const double* im, const double* taps,
                            double* out, int n) {
  const D t0 = Ops::set1(taps[0]), t1 = Ops::set1(taps[1]);
  const D t2 = Ops::set1(taps[2]), t3 = Ops::set1(taps[3]);
  const auto filtered = [&](const double* x, int k) {
    D sum = Ops::mul(t0, Ops::load(x + k));
    sum = Ops::fma(t1, Ops::add(Ops::load(x + k - 2), Ops::load(x + k + 2)), sum);
    sum = Ops::fma(t2, Ops::add(Ops::load(x + k - 4), Ops::load(x + k + 4)), sum);
    return Ops::fma(t3, Ops::add(Ops::load(x + k - 6), Ops::load(x + k + 6)), sum);
  };
  int k = 0;
  for (; k + kW <= n; k += kW) {
    const D r = filtered(re, k);
    const D i = filtered(im, k);
    Ops::store(out + k, Ops::sqrt(Ops::fma(i, i, Ops::mul(r, r))));
  }
  for (; k < n; ++k) {
    double r = taps[0] * re[k], i = taps[0] * im[k];
    for (int j = 1; j < 4; ++j) {
      r += taps[j] * (re[k - 2 * j] + re[k + 2 * j]);
      i += taps[j] * (im[k - 2 * j] + im[k + 2 * j]);
    }
    out[k] = std::sqrt(r * r + i * i);
  }
}

// z[k] = x[k] (c + j s) (stepC + j stepS)^k, x = re + j im, in place, with
// the run's sums (chain_helpers.h). Each lane starts on its own power of the
// step (by doubling: a short dependency chain) and a vector moves on by the
// step to the kW-th power.
SpinSums spinAndSumKernel(double* re, double* im, int n, double c, double s,
                          double stepC, double stepS) {
  alignas(64) double turnRe[kW], turnIm[kW];
  turnRe[0] = c;
  turnIm[0] = s;
  double powRe = stepC, powIm = stepS;  // step^have
  for (int have = 1; have < kW; have *= 2) {
    for (int l = 0; l < have; ++l) {
      turnRe[have + l] = turnRe[l] * powRe - turnIm[l] * powIm;
      turnIm[have + l] = turnRe[l] * powIm + turnIm[l] * powRe;
    }
    const double t = powRe * powRe - powIm * powIm;
    powIm = 2.0 * powRe * powIm;
    powRe = t;
  }
  const D zero = Ops::set1(0.0);
  const D vecRe = Ops::set1(powRe), vecIm = Ops::set1(powIm);
  D wr = Ops::load(turnRe), wi = Ops::load(turnIm);
  D sumRe = zero, sumIm = zero, power = zero, lagRe = zero, lagIm = zero;
  D lastRe = zero, lastIm = zero;
  int k = 0;
  for (; k + kW <= n; k += kW) {
    const D x = Ops::load(re + k), y = Ops::load(im + k);
    const D zr = Ops::sub(Ops::mul(x, wr), Ops::mul(y, wi));
    const D zi = Ops::fma(x, wi, Ops::mul(y, wr));
    Ops::store(re + k, zr);
    Ops::store(im + k, zi);
    sumRe = Ops::add(sumRe, zr);
    sumIm = Ops::add(sumIm, zi);
    power = Ops::fma(zi, zi, Ops::fma(zr, zr, power));
    const D pr = Ops::slideIn(lastRe, zr), pi = Ops::slideIn(lastIm, zi);
    lagRe = Ops::fma(zi, pi, Ops::fma(zr, pr, lagRe));
    lagIm = Ops::sub(Ops::fma(zi, pr, lagIm), Ops::mul(zr, pi));
    lastRe = zr;
    lastIm = zi;
    const D t = Ops::sub(Ops::mul(wr, vecRe), Ops::mul(wi, vecIm));
    wi = Ops::fma(wr, vecIm, Ops::mul(wi, vecRe));
    wr = t;
  }
  alignas(64) double lanes[7][kW];
  const D parts[7] = {sumRe, sumIm, power, lagRe, lagIm, wr, wi};
  for (int p = 0; p < 7; ++p) Ops::store(lanes[p], parts[p]);
  double total[5] = {};
  for (int p = 0; p < 5; ++p) {
    for (int l = 0; l < kW; ++l) total[p] += lanes[p][l];
  }
  // The rest one sample at a time from the next lane's turn.
  double ar = lanes[5][0], ai = lanes[6][0];
  double zr0 = k > 0 ? re[k - 1] : 0.0, zi0 = k > 0 ? im[k - 1] : 0.0;
  for (; k < n; ++k) {
    const double zr = re[k] * ar - im[k] * ai;
    const double zi = re[k] * ai + im[k] * ar;
    re[k] = zr;
    im[k] = zi;
    total[0] += zr;
    total[1] += zi;
    total[2] += zr * zr + zi * zi;
    total[3] += zr * zr0 + zi * zi0;
    total[4] += zi * zr0 - zr * zi0;
    zr0 = zr;
    zi0 = zi;
    const double t = ar * stepC - ai * stepS;
    ai = ar * stepS + ai * stepC;
    ar = t;
  }
  return {total[0], total[1], total[2], total[3], total[4], ar, ai};
}

// a b + c, fused where the set has FMA (one rounding, and a shorter wait).
inline double fusedScalar(double a, double b, double c) {
  if constexpr (Ops::kFma) {
    return __builtin_fma(a, b, c);
  } else {
    return a * b + c;
  }
}

// One second-order section in place (chain_helpers.h). The output's own
// terms come last, so a sample waits on the one before for one fused step.
void biquadKernel(double* x, int n, const double* coef, double* state) {
  const double b0 = coef[0], b1 = coef[1], b2 = coef[2];
  const double minusA1 = -coef[3], minusA2 = -coef[4];
  double x1 = state[0], x2 = state[1], y1 = state[2], y2 = state[3];
  for (int k = 0; k < n; ++k) {
    const double in = x[k];
    const double feed = fusedScalar(b2, x2, fusedScalar(b1, x1, b0 * in));
    const double y = fusedScalar(minusA1, y1, fusedScalar(minusA2, y2, feed));
    x2 = x1;
    x1 = in;
    y2 = y1;
    y1 = y;
    x[k] = y;
  }
  state[0] = x1;
  state[1] = x2;
  state[2] = y1;
  state[3] = y2;
}

// The one-weight tone canceller (chain_helpers.h). With the weight held over
// a run, its update needs only sum x conj(t), which no sample's output
// feeds: sum y conj(r t) = conj(r) (sum x conj(t) - c sum |t|^2), |t| = 1.
void cancelToneKernel(double* re, double* im, int n, const double* tRe, const double* tIm,
                      int run, double mu, double* state) {
  double rRe = state[0], rIm = state[1], wRe = state[2], wIm = state[3];
  const double stepRe = tRe[run], stepIm = tIm[run];
  for (int start = 0; start < n; start += run) {
    const int length = n - start < run ? n - start : run;
    double* xr = re + start;
    double* xi = im + start;
    const double cRe = wRe * rRe - wIm * rIm;  // w r at the run's start
    const double cIm = wRe * rIm + wIm * rRe;
    const D vcRe = Ops::set1(cRe), vcIm = Ops::set1(cIm);
    D sRe = Ops::set1(0.0), sIm = Ops::set1(0.0);
    int k = 0;
    for (; k + kW <= length; k += kW) {
      const D x = Ops::load(xr + k), y = Ops::load(xi + k);
      const D tr = Ops::load(tRe + k), ti = Ops::load(tIm + k);
      sRe = Ops::fma(y, ti, Ops::fma(x, tr, sRe));
      sIm = Ops::sub(Ops::fma(y, tr, sIm), Ops::mul(x, ti));
      Ops::store(xr + k, Ops::sub(x, Ops::sub(Ops::mul(vcRe, tr), Ops::mul(vcIm, ti))));
      Ops::store(xi + k, Ops::sub(y, Ops::fma(vcRe, ti, Ops::mul(vcIm, tr))));
    }
    alignas(64) double lanesRe[kW], lanesIm[kW];
    Ops::store(lanesRe, sRe);
    Ops::store(lanesIm, sIm);
    double sumRe = 0.0, sumIm = 0.0;
    for (int l = 0; l < kW; ++l) {
      sumRe += lanesRe[l];
      sumIm += lanesIm[l];
    }
    for (; k < length; ++k) {
      const double x = xr[k], y = xi[k];
      sumRe += x * tRe[k] + y * tIm[k];
      sumIm += y * tRe[k] - x * tIm[k];
      xr[k] = x - (cRe * tRe[k] - cIm * tIm[k]);
      xi[k] = y - (cRe * tIm[k] + cIm * tRe[k]);
    }
    const double aRe = sumRe - length * cRe, aIm = sumIm - length * cIm;
    wRe += mu * (rRe * aRe + rIm * aIm);
    wIm += mu * (rRe * aIm - rIm * aRe);
    const double nextRe = rRe * stepRe - rIm * stepIm;
    rIm = rRe * stepIm + rIm * stepRe;
    rRe = nextRe;
  }
  state[0] = rRe;
  state[1] = rIm;
  state[2] = wRe;
  state[3] = wIm;
}

constexpr Kernels makeTable(const char* name) {
  return {name,      cartToPolarKernel, polarToCartKernel,  mpy2Loop,
          add2Loop,  add3Loop,          mpy1Loop,           thresh1Loop,
          maxKernel, countAboveKernel,  roundToInt32Kernel, rotateByTableLoop,
          removeRunLevelsKernel, evenTapMagnitudeKernel, spinAndSumKernel,
          biquadKernel,    cancelToneKernel};
}

}  // namespace
}  // namespace bw::nsp::detail
