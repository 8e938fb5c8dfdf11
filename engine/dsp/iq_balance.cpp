// Automatic I/Q balance. update and correct run on the processing thread: no
// allocation, no locks below process.
#include "dsp/iq_balance.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace bw {

namespace {
// A cell takes part only when its mirror's power exceeds its own by this
// ratio: where both sides are alike the pair says nothing about which side's
// image is which (and a DC offset's leakage, its own mirror, looks alike).
// A skew's image at 20 kHz of 48 kHz stands 2.3 dB below its signal, so the
// ratio must stay below 1.7.
constexpr double kDominance = 1.3;
// A cell takes part only when its two sides are coherent: |C|^2 > kCoherence
// P(k) P(M-k), which an image does as soon as it stands above the noise at
// its place (and an image below the noise needs no correction), while noise
// alone reaches it rarely, the more rarely the more it has been averaged.
constexpr double kCoherence = 0.5;
// Evidence a cell's smoothed weight must exceed to move the correction. The
// weight of a cell of plain noise is about the number of blocks averaged
// (up to about six); a signal 20 dB above what is left at its mirror weighs a
// hundred times more.
constexpr double kShrink = 200.0;
// Half-widths in cells of the two smoothing steps (each two box passes): the
// weighted estimate over +-2*kSpread cells, the correction after division over
// +-2*kPostSpread, narrower, so that where a strong signal decides a plateau
// of correction the value at the signal stays its own.
constexpr std::int32_t kSpread = 2;
constexpr std::int32_t kPostSpread = 1;
// The peak of the first smoothing's kernel (two boxes of 2 kSpread + 1).
constexpr double kKernelPeak = 1.0 / (2 * kSpread + 1);
// How many variances a correction's square must exceed to be applied whole;
// below one variance's worth per unit it is dropped.
constexpr double kSignificance = 4.0;
// Even bins a cell's statistics take at most.
constexpr std::int32_t kBinsPerCell = 4;
// Floors of the power left at a cell, relative to the mirror's and to the
// mean power of a cell: a noiseless input gives large but finite weights,
// and what stands 100 dB below the spectrum as a whole (the rounding of a
// bare carrier, repeated block after block) weighs nothing.
constexpr double kResidualFloor = 1e-12;
constexpr double kSpectrumFloor = 1e-10;

// Circular box average of half-width h (< n) over n values, in place (tmp:
// n values of scratch).
void boxSmooth(double* v, double* tmp, std::int32_t n, std::int32_t h) {
  double sum = 0.0;
  for (std::int32_t d = -h; d <= h; ++d) sum += v[d < 0 ? d + n : d];
  const double scale = 1.0 / (2 * h + 1);
  std::int32_t enter = h + 1, leave = n - h;  // (i + h + 1), (i - h) mod n
  for (std::int32_t i = 0; i < n; ++i) {
    tmp[i] = sum * scale;
    sum += v[enter] - v[leave];
    if (++enter == n) enter = 0;
    if (++leave == n) leave = 0;
  }
  std::copy(tmp, tmp + n, v);
}

// Two box passes (a triangle of half-width 2h) over each of `count` arrays.
void smoothTwice(double* const* arrays, int count, double* tmp, std::int32_t n,
                 std::int32_t h) {
  for (int a = 0; a < count; ++a) {
    boxSmooth(arrays[a], tmp, n, h);
    boxSmooth(arrays[a], tmp, n, h);
  }
}
}  // namespace

IqBalance::IqBalance(std::pmr::memory_resource* heap)
    : numRe_(heap), numIm_(heap), den_(heap), tmp_(heap), mirrorRe_(heap),
      mirrorIm_(heap) {}

void IqBalance::configure(const ChainFormat& f, State& s) {
  if (!isNewStream(format_, f)) {
    format_ = f;
    return;
  }
  format_ = f;
  const std::int32_t m = 2 << f.order;
  const std::int32_t sampleRate = f.sampleRate;
  m_ = m;
  binWidth_ = static_cast<double>(sampleRate) / m;
  cells_ = std::min(kCells, m / 2);
  cellBins_ = m / cells_;
  const double blockSeconds = 0.5 * m / sampleRate;
  updateEvery_ = std::max(1, static_cast<std::int32_t>(
                                 std::lround(kUpdateSeconds / blockSeconds)));
  keep_ = std::exp(-updateEvery_ * blockSeconds / kTimeConstantSeconds);
  for (Array* a : {&s.ownPow, &s.mirPow, &s.crossRe, &s.crossIm, &s.cellRe,
                   &s.cellIm, &numRe_, &numIm_, &den_, &tmp_}) {
    a->assign(static_cast<std::size_t>(cells_), 0.0);
  }
  for (Array* a : {&mirrorRe_, &mirrorIm_}) a->assign(static_cast<std::size_t>(m), 0.0);
  reset(s);
}

void IqBalance::reset(State& s) {
  for (Array* a : {&s.ownPow, &s.mirPow, &s.crossRe, &s.crossIm, &s.cellRe,
                   &s.cellIm}) {
    std::fill(a->begin(), a->end(), 0.0);
  }
  s.meanPower = s.weightSum = s.weightSquares = 0.0;
  s.countdown = 0;
}

void IqBalance::process(State& s, const ReceiveParams& p, double* re, double* im) {
  if (!(p.extensions & SDR_EXT_AUTO_IQ_BALANCE) || m_ < 2) return;
  const double centreHz = p.tuneOffsetHz;
  if (s.countdown <= 0) {
    accumulate(s, re, im);
    estimate(s);
    s.countdown = updateEvery_;
  }
  --s.countdown;

  // Y(k) = Z(k) - w(k) conj(Z(M-k)) over the bins within kReachHz of the
  // centre, from the mirror values before correction (copied first, as a
  // mirror may lie in the same range). The range is cut where it wraps, so
  // that the loops run over plain runs of bins.
  const std::int32_t mask = m_ - 1;
  const auto reach = static_cast<std::int32_t>(std::ceil(kReachHz / binWidth_));
  const auto count = std::min(m_, 2 * reach + 1);
  const auto first = static_cast<std::int32_t>(
      (std::llrint(centreHz / binWidth_) - reach) & mask);
  double* mirRe = mirrorRe_.data();
  double* mirIm = mirrorIm_.data();
  // Mirrors of bins first, first + 1, ...: bins M - first, M - first - 1, ...
  // down to 0, then from M - 1 down.
  const std::int32_t top = (m_ - first) & mask;
  const std::int32_t down = std::min(count, top + 1);
  for (std::int32_t i = 0; i < down; ++i) {
    mirRe[i] = re[top - i];
    mirIm[i] = im[top - i];
  }
  for (std::int32_t i = down; i < count; ++i) {
    mirRe[i] = re[m_ - 1 - (i - down)];
    mirIm[i] = im[m_ - 1 - (i - down)];
  }
  const std::int32_t run = std::min(count, m_ - first);
  correctRun(s, re + first, im + first, mirRe, mirIm, first, run);
  correctRun(s, re, im, mirRe + run, mirIm + run, 0, count - run);
}

// Corrects `count` bins from bin `first` (no wrap) with the cells' values.
void IqBalance::correctRun(const State& s, double* __restrict re, double* __restrict im,
                           const double* __restrict mirRe,
                           const double* __restrict mirIm, std::int32_t first,
                           std::int32_t count) const {
  const std::int32_t g = cellBins_;
  for (std::int32_t i = 0; i < count;) {
    const std::int32_t cell = (first + i) / g;
    const std::int32_t end = std::min(count, (cell + 1) * g - first);
    const double wr = s.cellRe[cell], wi = s.cellIm[cell];
    for (; i < end; ++i) {
      re[i] -= wr * mirRe[i] + wi * mirIm[i];
      im[i] -= wi * mirRe[i] - wr * mirIm[i];
    }
  }
}

// Adds this block's powers and cross products per cell into the averages.
// They are taken from the even bins, which are the block's own N-point
// transform X(k) = Z(2k) (the odd bins, interpolated by the zero padding,
// would add little), at most kBinsPerCell of them a cell, evenly spread (more
// would cost time in proportion to the order for little gain), seen through
// a Hann window: 0.5 X(k) - 0.25 (X(k-1) +
// X(k+1)). Through the block's rectangular window a strong signal leaks over
// the whole spectrum, and a signal that repeats with the block (a tone on a
// bin) leaks the same mirror products block after block, which would read as
// an image; the Hann window's leakage falls off fast enough to leave them
// out.
void IqBalance::accumulate(State& s, const double* re, const double* im) const {
  const std::int32_t n = m_ / 2;
  const std::int32_t nMask = n - 1;
  // The windowed value of even bin 2k, from bins 2k and 2k +- 2.
  auto hann = [&](const double* v, std::int32_t k) {
    return 0.5 * v[2 * k] -
           0.25 * (v[2 * ((k - 1) & nMask)] + v[2 * ((k + 1) & nMask)]);
  };
  const std::int32_t g = n / cells_;  // even bins a cell
  const std::int32_t step = std::max(1, g / kBinsPerCell);
  const double fresh = 1.0 - keep_;
  double total = 0.0;
  for (std::int32_t d = 0; d < cells_; ++d) {
    double own = 0.0, mir = 0.0, cr = 0.0, ci = 0.0;
    for (std::int32_t k = d * g; k < (d + 1) * g; k += step) {
      const std::int32_t j = (n - k) & nMask;
      const double ar = hann(re, k), ai = hann(im, k);
      const double br = hann(re, j), bi = hann(im, j);
      own += ar * ar + ai * ai;
      mir += br * br + bi * bi;
      cr += ar * br - ai * bi;
      ci += ar * bi + ai * br;
    }
    s.ownPow[d] = keep_ * s.ownPow[d] + fresh * own;
    total += own;
    s.mirPow[d] = keep_ * s.mirPow[d] + fresh * mir;
    s.crossRe[d] = keep_ * s.crossRe[d] + fresh * cr;
    s.crossIm[d] = keep_ * s.crossIm[d] + fresh * ci;
  }
  s.meanPower = keep_ * s.meanPower + fresh * total / cells_;
  // The averages' effective number of blocks, (sum of weights)^2 / sum of
  // squared weights: 1 after the first update, (1 + keep) / (1 - keep) later.
  s.weightSum = keep_ * s.weightSum + fresh;
  s.weightSquares = keep_ * keep_ * s.weightSquares + fresh * fresh;
}

// One fixed-point step of the estimate per cell, weighted, smoothed, shrunk
// and capped (see the header).
void IqBalance::estimate(State& s) {
  const std::int32_t g = cellBins_;
  const double blocks = s.weightSquares > 0.0
                            ? s.weightSum * s.weightSum / s.weightSquares
                            : 0.0;
  const double floor = kSpectrumFloor * s.meanPower;
  for (std::int32_t d = 0; d < cells_; ++d) {
    numRe_[d] = numIm_[d] = den_[d] = 0.0;
    const double a = s.mirPow[d];  // the mirror side: the signal
    const double b = s.ownPow[d];  // this side: its image and noise
    const double cr = s.crossRe[d], ci = s.crossIm[d];
    const double cross2 = cr * cr + ci * ci;
    const bool centre = d == 0 || d == cells_ - 1;
    if (centre || !(a > kDominance * b) || !(cross2 > kCoherence * a * b)) {
      continue;
    }
    // w at the mirror cell, and here, from the last estimate.
    const std::int32_t mirror = ((m_ - d * g - g / 2) & (m_ - 1)) / g;
    const double sr = s.cellRe[mirror], si = s.cellIm[mirror];
    // u = (C - wS b) / (a - wS conj(C))
    const double nr = cr - sr * b, ni = ci - si * b;
    const double dr = a - (sr * cr + si * ci), di = -(si * cr - sr * ci);
    const double dd = dr * dr + di * di;
    if (!(dd > 0.0)) continue;
    const double ur = (nr * dr + ni * di) / dd;
    const double ui = (ni * dr - nr * di) / dd;
    // The weight: the mirror's power over what is left here that the
    // mirror does not explain (b - |C|^2 / a, the noise under the image).
    // It does not depend on the present correction, which would otherwise
    // favour cells that agree with it.
    const double left = b - cross2 / a;
    const double weight =
        blocks * a / (std::max(left, 0.0) + kResidualFloor * a + floor);
    if (!std::isfinite(weight * ur) || !std::isfinite(weight * ui)) continue;
    numRe_[d] = weight * ur;
    numIm_[d] = weight * ui;
    den_[d] = weight;
  }
  double* tmp = tmp_.data();
  double* const weighted[] = {numRe_.data(), numIm_.data(), den_.data()};
  smoothTwice(weighted, 3, tmp, cells_, kSpread);
  for (std::int32_t d = 0; d < cells_; ++d) {
    const double evidence = den_[d] + kShrink;
    double vr = numRe_[d] / evidence, vi = numIm_[d] / evidence;
    // Keep only what stands clear of its own uncertainty: a correction no
    // larger than its error would add as much image as it removes. The
    // variance is that of evidence from a single cell, the kernel's peak
    // over the smoothed weight.
    const double size2 = vr * vr + vi * vi;
    const double variance = kKernelPeak / evidence;
    const double keep = size2 > 0.0 ? 1.0 - kSignificance * variance / size2 : 0.0;
    if (!(keep > 0.0) || !std::isfinite(size2)) {
      vr = vi = 0.0;
    } else {
      const double cap = kMaxCorrection / std::sqrt(size2);
      const double scale = std::min(keep, cap);
      vr *= scale;
      vi *= scale;
    }
    s.cellRe[d] = vr;
    s.cellIm[d] = vi;
  }
  double* const corrections[] = {s.cellRe.data(), s.cellIm.data()};
  smoothTwice(corrections, 2, tmp, cells_, kPostSpread);
}

}  // namespace bw
