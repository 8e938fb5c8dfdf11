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
// Evidence a cell's smoothed weight must exceed to move the correction; the
// weight of a cell of plain noise is about one.
constexpr double kShrink = 1.0;
// Half-widths in cells of the two smoothing steps (each two box passes): the
// weighted estimate over +-2*kSpread cells, the correction after division over
// +-2*kPostSpread, narrower, so that where a strong signal decides a plateau
// of correction the value at the signal stays its own.
constexpr std::int32_t kSpread = 4;
constexpr std::int32_t kPostSpread = 2;
// Relative floor of the power left after correction, so that a noiseless
// input gives large but finite weights.
constexpr double kResidualFloor = 1e-12;

// Circular box average of half-width h over n values, in place (tmp: n
// values of scratch).
void boxSmooth(double* v, double* tmp, std::int32_t n, std::int32_t h) {
  double sum = 0.0;
  for (std::int32_t d = -h; d <= h; ++d) sum += v[(d + n) % n];
  const double scale = 1.0 / (2 * h + 1);
  for (std::int32_t i = 0; i < n; ++i) {
    tmp[i] = sum * scale;
    sum += v[(i + h + 1) % n] - v[(i - h + n) % n];
  }
  std::copy(tmp, tmp + n, v);
}

void smoothTwice(double* v, double* tmp, std::int32_t n, std::int32_t h) {
  boxSmooth(v, tmp, n, h);
  boxSmooth(v, tmp, n, h);
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}
}  // namespace

IqBalance::IqBalance(std::pmr::memory_resource* heap)
    : ownPow_(heap), mirPow_(heap), crossRe_(heap), crossIm_(heap),
      cellRe_(heap), cellIm_(heap), binRe_(heap), binIm_(heap),
      numRe_(heap), numIm_(heap), den_(heap), tmp_(heap) {}

void IqBalance::configure(std::int32_t m, std::int32_t sampleRate) {
  m_ = m;
  cells_ = std::min(kCells, m);
  cellBins_ = m / cells_;
  const double blockSeconds = 0.5 * m / sampleRate;
  updateEvery_ = std::max(1, static_cast<std::int32_t>(
                                 std::lround(kUpdateSeconds / blockSeconds)));
  keep_ = std::exp(-updateEvery_ * blockSeconds / kTimeConstantSeconds);
  for (Array* a : {&ownPow_, &mirPow_, &crossRe_, &crossIm_, &cellRe_,
                   &cellIm_, &numRe_, &numIm_, &den_, &tmp_}) {
    a->assign(static_cast<std::size_t>(cells_), 0.0);
  }
  binRe_.assign(static_cast<std::size_t>(m), 0.0);
  binIm_.assign(static_cast<std::size_t>(m), 0.0);
  reset();
}

void IqBalance::reset() {
  for (Array* a : {&ownPow_, &mirPow_, &crossRe_, &crossIm_, &cellRe_,
                   &cellIm_, &binRe_, &binIm_}) {
    std::fill(a->begin(), a->end(), 0.0);
  }
  countdown_ = 0;
}

void IqBalance::process(double* re, double* im) {
  if (m_ < 2) return;
  if (countdown_ <= 0) {
    accumulate(re, im);
    estimate();
    expandToBins();
    countdown_ = updateEvery_;
  }
  --countdown_;

  // Y(k) = Z(k) - w(k) conj(Z(M-k)) for every pair at once, from the values
  // before correction. Bins 0 and M/2 are their own mirrors.
  const std::int32_t n = m_ / 2;
  for (std::int32_t k : {0, n}) {
    const double zr = re[k], zi = im[k];
    const double wr = binRe_[k], wi = binIm_[k];
    re[k] = zr - (wr * zr + wi * zi);
    im[k] = zi - (wi * zr - wr * zi);
  }
  double* __restrict loRe = re + 1;
  double* __restrict loIm = im + 1;
  double* __restrict hiRe = re + (m_ - 1);
  double* __restrict hiIm = im + (m_ - 1);
  const double* __restrict wLoRe = binRe_.data() + 1;
  const double* __restrict wLoIm = binIm_.data() + 1;
  const double* __restrict wHiRe = binRe_.data() + (m_ - 1);
  const double* __restrict wHiIm = binIm_.data() + (m_ - 1);
  for (std::int32_t i = 0; i < n - 1; ++i) {
    const double ar = loRe[i], ai = loIm[i];
    const double br = hiRe[-i], bi = hiIm[-i];
    loRe[i] = ar - (wLoRe[i] * br + wLoIm[i] * bi);
    loIm[i] = ai - (wLoIm[i] * br - wLoRe[i] * bi);
    hiRe[-i] = br - (wHiRe[-i] * ar + wHiIm[-i] * ai);
    hiIm[-i] = bi - (wHiIm[-i] * ar - wHiRe[-i] * ai);
  }
}

// Adds this block's powers and cross products per cell into the averages,
// of the block seen through a Hann window: 0.5 Z(k) - 0.25 (Z(k-2) + Z(k+2))
// in the spectrum of N samples and N zeros. Through the block's own
// rectangular window a strong signal leaks over the whole spectrum, and a
// signal that repeats with the block (every tone on a bin) leaks the same
// mirror products block after block, which would read as an image; the
// Hann window's leakage falls off fast enough to leave them out.
void IqBalance::accumulate(const double* re, const double* im) {
  const std::int32_t g = cellBins_;
  const std::int32_t mask = m_ - 1;
  const double fresh = 1.0 - keep_;
  auto hannRe = [&](std::int32_t k) {
    return 0.5 * re[k] - 0.25 * (re[(k - 2) & mask] + re[(k + 2) & mask]);
  };
  auto hannIm = [&](std::int32_t k) {
    return 0.5 * im[k] - 0.25 * (im[(k - 2) & mask] + im[(k + 2) & mask]);
  };
  for (std::int32_t d = 0; d < cells_; ++d) {
    double own = 0.0, mir = 0.0, cr = 0.0, ci = 0.0;
    for (std::int32_t k = d * g; k < (d + 1) * g; ++k) {
      const std::int32_t j = (m_ - k) & mask;
      const double ar = hannRe(k), ai = hannIm(k);
      const double br = hannRe(j), bi = hannIm(j);
      own += ar * ar + ai * ai;
      mir += br * br + bi * bi;
      cr += ar * br - ai * bi;
      ci += ar * bi + ai * br;
    }
    ownPow_[d] = keep_ * ownPow_[d] + fresh * own;
    mirPow_[d] = keep_ * mirPow_[d] + fresh * mir;
    crossRe_[d] = keep_ * crossRe_[d] + fresh * cr;
    crossIm_[d] = keep_ * crossIm_[d] + fresh * ci;
  }
}

// One fixed-point step of the estimate per cell, weighted, smoothed, shrunk
// and capped (see the header).
void IqBalance::estimate() {
  const std::int32_t g = cellBins_;
  for (std::int32_t d = 0; d < cells_; ++d) {
    numRe_[d] = numIm_[d] = den_[d] = 0.0;
    const double a = mirPow_[d];  // the mirror side: the signal
    const double b = ownPow_[d];  // this side: its image and noise
    const bool centre = d == 0 || d == cells_ - 1;
    if (centre || !(a > kDominance * b)) continue;
    const double cr = crossRe_[d], ci = crossIm_[d];
    // w at the mirror cell, and here, from the last estimate.
    const std::int32_t mirror = ((m_ - d * g - g / 2) & (m_ - 1)) / g;
    const double sr = cellRe_[mirror], si = cellIm_[mirror];
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
    const double left = b - (cr * cr + ci * ci) / a;
    const double weight = a / (std::max(left, 0.0) + kResidualFloor * a);
    if (!std::isfinite(weight * ur) || !std::isfinite(weight * ui)) continue;
    numRe_[d] = weight * ur;
    numIm_[d] = weight * ui;
    den_[d] = weight;
  }
  double* tmp = tmp_.data();
  smoothTwice(numRe_.data(), tmp, cells_, kSpread);
  smoothTwice(numIm_.data(), tmp, cells_, kSpread);
  smoothTwice(den_.data(), tmp, cells_, kSpread);
  for (std::int32_t d = 0; d < cells_; ++d) {
    const double scale = 1.0 / (den_[d] + kShrink);
    double vr = numRe_[d] * scale, vi = numIm_[d] * scale;
    const double size = std::hypot(vr, vi);
    if (!std::isfinite(size)) {
      vr = vi = 0.0;
    } else if (size > kMaxCorrection) {
      vr *= kMaxCorrection / size;
      vi *= kMaxCorrection / size;
    }
    cellRe_[d] = vr;
    cellIm_[d] = vi;
  }
  smoothTwice(cellRe_.data(), tmp, cells_, kPostSpread);
  smoothTwice(cellIm_.data(), tmp, cells_, kPostSpread);
}

// The correction per bin: linear between the cells' centres.
void IqBalance::expandToBins() {
  const std::int32_t g = cellBins_;
  const double half = 0.5 * (g - 1);
  for (std::int32_t k = 0; k < m_; ++k) {
    const double x = (k - half) / g;
    const double lower = std::floor(x);
    const double t = x - lower;
    const std::int32_t d0 =
        (static_cast<std::int32_t>(lower) + cells_) % cells_;
    const std::int32_t d1 = (d0 + 1) % cells_;
    binRe_[k] = (1.0 - t) * cellRe_[d0] + t * cellRe_[d1];
    binIm_[k] = (1.0 - t) * cellIm_[d0] + t * cellIm_[d1];
  }
}

bool IqBalance::Carried::operator==(const Carried& o) const {
  return sameBits(stats, o.stats) && sameBits(cells, o.cells) &&
         countdown == o.countdown;
}

void IqBalance::save(Carried& c) const {
  c.stats.clear();
  for (const Array* a : {&ownPow_, &mirPow_, &crossRe_, &crossIm_}) {
    c.stats.insert(c.stats.end(), a->begin(), a->end());
  }
  c.cells.assign(cellRe_.begin(), cellRe_.end());
  c.cells.insert(c.cells.end(), cellIm_.begin(), cellIm_.end());
  c.countdown = countdown_;
}

void IqBalance::restore(const Carried& c) {
  const std::size_t n = static_cast<std::size_t>(cells_);
  if (c.stats.size() != 4 * n || c.cells.size() != 2 * n) return;
  std::size_t at = 0;
  for (Array* a : {&ownPow_, &mirPow_, &crossRe_, &crossIm_}) {
    std::copy_n(c.stats.begin() + at, n, a->begin());
    at += n;
  }
  std::copy_n(c.cells.begin(), n, cellRe_.begin());
  std::copy_n(c.cells.begin() + n, n, cellIm_.begin());
  countdown_ = c.countdown;
  expandToBins();
}

}  // namespace bw
