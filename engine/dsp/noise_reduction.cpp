#include "dsp/noise_reduction.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

namespace bw {

namespace {
constexpr double kFrameSeconds = 0.021;
constexpr std::int64_t kHoldFrames = 2;     // passed unchanged after a start
constexpr std::int64_t kFirstFrames = 4;    // averaged into the first noise
constexpr double kNoiseSmoothing = 0.9;     // of the noise power, per frame
constexpr double kPresenceSmoothing = 0.9;  // of the presence, per frame
constexpr double kStuckPresence = 0.99;     // above this the bin creeps up
// The clean-to-noise ratio assumed where speech is present. Lower than the
// 15 dB usually taken: weak speech (a bin 3 to 5 dB over the noise) then
// counts as speech and stays out of the noise estimate, which at 30 dB SNR
// would otherwise eat the quiet ends of words.
constexpr double kPresenceSnr = 3.98;       // 6 dB
constexpr double kDecisionWeight = 0.98;    // decision-directed estimate
// -35 dB: low enough that the estimator's own least gain (about -37 dB)
// lies below the floors reductionLevel asks for.
constexpr double kMinPriorSnr = 3.16e-4;
constexpr double kTiny = 1e-30;
constexpr std::int32_t kEdgeBins = 4;  // beyond the passband's edges
constexpr double kLeakRatio = 1e-4;    // of one side's power to the other's
constexpr double kPresenceStep = 0.125;            // of the posterior SNR
constexpr double kLowestLog2 = -24.0, kLog2Step = 0.25;  // of v's rough log2

bool isAmMode(std::uint8_t mode) {
  return mode == SDR_MODE_AM || mode == SDR_MODE_SAM || mode == SDR_MODE_SAM_UPPER ||
         mode == SDR_MODE_SAM_LOWER;
}

// The exponential integral E1(x) for x > 0: its power series below 1, a
// continued fraction (evaluated by the modified Lentz method) above.
double exponentialIntegral(double x) {
  if (x < 1.0) {
    double sum = -std::numbers::egamma - std::log(x), term = 1.0;
    for (int k = 1; k < 30; ++k) {
      term *= -x / k;
      sum -= term / k;
    }
    return sum;
  }
  double b = x + 1.0, c = 1e300, d = 1.0 / b, h = d;
  for (int i = 1; i < 200; ++i) {
    const double a = -static_cast<double>(i) * i;
    b += 2.0;
    d = 1.0 / (a * d + b);
    c = b + a / c;
    const double step = c * d;
    h *= step;
    if (std::abs(step - 1.0) < 1e-15) break;
  }
  return h * std::exp(-x);
}

// log2 v, exact at powers of two and linear between (a double's exponent
// and mantissa bits read as one number): the factor's table is laid out on
// this abscissa, so only the interpolation between its points is rough.
double roughLog2(double v) {
  return static_cast<double>(std::bit_cast<std::int64_t>(v)) * 0x1p-52 - 1023.0;
}
double fromRoughLog2(double x) {
  const double whole = std::floor(x);
  return std::ldexp(1.0 + (x - whole), static_cast<int>(whole));
}

// out = in x window over n samples (separate arrays, so the loop vectorises).
void windowInto(const double* __restrict in, const double* __restrict window,
                double* __restrict out, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) out[i] = in[i] * window[i];
}

// The first half of the windowed frame onto the last frame's second half
// gives the hop's output; the second half is kept for the next frame.
void overlapAdd(const double* __restrict frame, const double* __restrict window,
                double* __restrict kept, double* __restrict out, std::int32_t half) {
  for (std::int32_t i = 0; i < half; ++i) {
    out[i] = kept[i] + frame[i] * window[i];
    kept[i] = frame[half + i] * window[half + i];
  }
}

// table at pos (in steps from its first point), linear between points,
// held at its ends.
template <std::size_t N>
double interpolate(const std::array<double, N>& table, double pos) {
  if (!(pos > 0.0)) return table[0];
  if (pos >= static_cast<double>(N - 1)) return table[N - 1];
  const auto k = static_cast<std::size_t>(pos);
  return table[k] + (pos - static_cast<double>(k)) * (table[k + 1] - table[k]);
}
}  // namespace

int reductionFrameOrder(std::int32_t sampleRate) {
  return std::max(7, static_cast<int>(std::lround(std::log2(sampleRate * kFrameSeconds))));
}

double reductionFloor(const ReceiveParams& p) {
  double level = p.modes.reductionLevel;
  if (!(level > 0.0 && level <= 1.0)) level = kReductionDefaultLevel;  // NaN too
  return std::pow(10.0, -kReductionMaxFloorDb * level / 20.0);
}

NoiseReduction::NoiseReduction(std::pmr::memory_resource* heap)
    : time_(heap), freq_(heap), window_(heap) {
  // Beyond the table (a posterior SNR over 16) speech is held certain: even
  // the 1e-5 left there would let a strong voice into the noise estimate.
  for (std::size_t k = 0; k + 1 < presence_.size(); ++k) {
    const double post = static_cast<double>(k) * kPresenceStep;
    presence_[k] = 1.0 / (1.0 + (1.0 + kPresenceSnr) *
                                    std::exp(-post * kPresenceSnr / (1.0 + kPresenceSnr)));
  }
  presence_.back() = 1.0;
  // Below the table (v under 6e-8, rare) the factor is held at its end.
  for (std::size_t k = 0; k < factor_.size(); ++k) {
    const double v = fromRoughLog2(kLowestLog2 + static_cast<double>(k) * kLog2Step);
    factor_[k] = std::exp(0.5 * exponentialIntegral(v));
  }
}

bool NoiseReduction::configure(const ChainFormat& f, State& s) {
  const int order = reductionFrameOrder(f.sampleRate);
  if (transform_.order() != order && !transform_.plan(order)) return false;
  const std::int32_t frame = 1 << order;
  if (frame != frame_) {
    time_.resize(order);
    freq_.resize(order);
    window_.resize(static_cast<std::size_t>(frame));
    for (std::int32_t k = 0; k < frame; ++k) {
      window_[static_cast<std::size_t>(k)] = std::sin(std::numbers::pi * k / frame);
    }
  }
  frame_ = frame;
  hop_ = frame / 2;
  binWidth_ = static_cast<double>(f.sampleRate) / frame;
  const auto size = static_cast<std::size_t>(frame);
  if (isNewStream(format_, f) || s.inRe.size() != size) {
    for (auto* v : {&s.inRe, &s.inIm, &s.noise, &s.presence, &s.clean}) v->assign(size, 0.0);
    for (auto* v : {&s.outRe, &s.outIm, &s.accRe, &s.accIm}) v->assign(size / 2, 0.0);
    reset(s);
  }
  format_ = f;
  return true;
}

void NoiseReduction::reset(State& s) {
  for (auto* v : {&s.inRe, &s.inIm, &s.outRe, &s.outIm, &s.accRe, &s.accIm, &s.noise,
                  &s.clean}) {
    std::fill(v->begin(), v->end(), 0.0);
  }
  std::fill(s.presence.begin(), s.presence.end(), 0.5);
  s.fill = 0;
  s.frames = 0;
}

void NoiseReduction::process(State& s, const ReceiveParams& p, double* re, double* im,
                             std::int32_t n) {
  if (!(p.modes.tools & SDR_TOOL_NOISE_REDUCTION) || p.modes.mode == SDR_MODE_FM) {
    // Switched on again later, the stage starts afresh: what it held when
    // it was switched off is old audio and an old band's noise.
    if (s.frames != 0 || s.fill != 0) reset(s);
    return;
  }
  if (frame_ == 0 || s.inRe.size() != static_cast<std::size_t>(frame_)) return;
  const std::int32_t h = hop_;
  std::int32_t k = 0;
  while (k < n) {
    // The new samples go in behind the last F - H; the ready ones come out.
    const std::int32_t chunk = std::min(h - s.fill, n - k);
    const auto in = static_cast<std::ptrdiff_t>(frame_ - h + s.fill);
    const auto out = static_cast<std::ptrdiff_t>(s.fill);
    std::copy(re + k, re + k + chunk, s.inRe.begin() + in);
    std::copy(im + k, im + k + chunk, s.inIm.begin() + in);
    std::copy(s.outRe.begin() + out, s.outRe.begin() + out + chunk, re + k);
    std::copy(s.outIm.begin() + out, s.outIm.begin() + out + chunk, im + k);
    s.fill += chunk;
    k += chunk;
    if (s.fill == h) {
      runFrame(s, p);
      s.fill = 0;
    }
  }
}

inline void NoiseReduction::updateBin(State& s, std::size_t i, double& re, double& im,
                                      double floor) const {
  const double power = re * re + im * im;
  double& noise = s.noise[i];
  // The gain is taken against the noise known before this frame, so one
  // division serves the tracker and the gain (in the first frames that is
  // the average so far; with none yet the bin passes almost whole).
  const double inverse = 1.0 / (noise + kTiny);
  const double post = power * inverse;
  const std::int64_t first = s.frames - kHoldFrames;
  if (first < kFirstFrames || noise == 0.0) {
    // A bin silent so far (digital silence) starts afresh.
    const double seen = noise == 0.0 ? 0.0 : static_cast<double>(first);
    noise = (noise * seen + power) / (seen + 1.0);
  } else {
    const double presence = interpolate(presence_, post * (1.0 / kPresenceStep));
    double& smoothed = s.presence[i];
    smoothed = kPresenceSmoothing * smoothed + (1.0 - kPresenceSmoothing) * presence;
    const double weight = smoothed > kStuckPresence ? std::min(presence, kStuckPresence)
                                                    : presence;
    const double noiseSeen = (1.0 - weight) * power + weight * noise;
    noise = kNoiseSmoothing * noise + (1.0 - kNoiseSmoothing) * noiseSeen;
  }
  const double prior =
      std::max(kMinPriorSnr, kDecisionWeight * s.clean[i] * inverse +
                                 (1.0 - kDecisionWeight) * std::max(post - 1.0, 0.0));
  // The second step's ratio is the first Wiener gain squared times post,
  // prior^2 post / (1 + prior)^2; its Wiener gain then takes one division.
  const double over = prior * prior * post, under = (1.0 + prior) * (1.0 + prior);
  const double refinedWiener = over < kMinPriorSnr * under
                                   ? kMinPriorSnr / (1.0 + kMinPriorSnr)
                                   : over / (under + over);
  const double v = refinedWiener * post + kTiny;
  const double gain =
      refinedWiener * interpolate(factor_, (roughLog2(v) - kLowestLog2) * (1.0 / kLog2Step));
  s.clean[i] = gain * gain * power;
  const double applied = std::max(gain, floor);
  re *= applied;
  im *= applied;
}

void NoiseReduction::runFrame(State& s, const ReceiveParams& p) {
  const std::int32_t f = frame_, h = hop_;
  const auto at = [](std::int32_t i) { return static_cast<std::size_t>(i); };
  double* __restrict tRe = time_.re();
  double* __restrict tIm = time_.im();
  const double* __restrict w = window_.data();
  windowInto(s.inRe.data(), w, tRe, f);
  windowInto(s.inIm.data(), w, tIm, f);
  // The first frames after a start pass as they are: unit gains leave the
  // windowed frame unchanged, so the transforms are skipped.
  if (s.frames >= kHoldFrames) {
    transform_.forward(tRe, freq_.re());
    const double floor = reductionFloor(p);
    // In AM the carrier and the bins next to it are no noise to reduce.
    const double keepHz = isAmMode(p.modes.mode)
                              ? std::max(static_cast<double>(p.lowCutHz), 50.0) + binWidth_
                              : -1.0;
    double* xRe = freq_.re();
    double* xIm = freq_.im();
    // Only the bins of the passband (and a few beyond its edges) carry
    // anything after the band filter: the rest are left as they are.
    const double reachHz = std::max(std::abs(static_cast<double>(p.lowCutHz)),
                                    std::abs(static_cast<double>(p.highCutHz)));
    const std::int32_t reach =
        std::min(f / 2 - 1, static_cast<std::int32_t>(reachHz / binWidth_) + kEdgeBins);
    // A sideband's passband lies on one side of zero: the side that holds
    // less than 1e-4 of the other's power holds only what the filter leaks,
    // and is left as it is (half the work in the sideband modes).
    double below = 0.0, above = 0.0;
    for (std::int32_t k = 1; k <= reach; ++k) {
      above += xRe[k] * xRe[k] + xIm[k] * xIm[k];
      below += xRe[f - k] * xRe[f - k] + xIm[f - k] * xIm[f - k];
    }
    const std::int32_t from = below < kLeakRatio * above ? 0 : -reach;
    const std::int32_t to = above < kLeakRatio * below ? 0 : reach;
    for (std::int32_t signedBin = from; signedBin <= to; ++signedBin) {
      const std::int32_t i = signedBin < 0 ? signedBin + f : signedBin;
      if (std::abs(signedBin * binWidth_) < keepHz) continue;
      updateBin(s, at(i), xRe[i], xIm[i], floor);
    }
    transform_.inverse(xRe, tRe);
  }
  ++s.frames;

  overlapAdd(tRe, w, s.accRe.data(), s.outRe.data(), h);
  overlapAdd(tIm, w, s.accIm.data(), s.outIm.data(), h);
  std::copy(s.inRe.begin() + h, s.inRe.end(), s.inRe.begin());
  std::copy(s.inIm.begin() + h, s.inIm.end(), s.inIm.begin());
}

}  // namespace bw
