#include "dsp/noise_reduction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace bw {

namespace {
constexpr double kFrameSeconds = 0.021;
constexpr double kSmoothing = 0.7;          // of the power, per frame
constexpr double kMinWindowSeconds = 1.5;   // minimum statistics' span
constexpr double kNoiseBias = 1.5;          // the minimum's bias
constexpr double kDecisionWeight = 0.98;    // decision-directed estimate
constexpr double kTiny = 1e-30;
constexpr std::int32_t kEdgeBins = 4;  // beyond the passband's edges

bool isAmMode(std::uint8_t mode) {
  return mode == SDR_MODE_AM || mode == SDR_MODE_SAM || mode == SDR_MODE_SAM_UPPER ||
         mode == SDR_MODE_SAM_LOWER;
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
    : time_(heap), freq_(heap), window_(heap) {}

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
  const double framesPerSecond = static_cast<double>(f.sampleRate) / hop_;
  framesPerWindow_ = std::max(
      1, static_cast<int>(std::ceil(kMinWindowSeconds * framesPerSecond / kMinStatWindows)));
  const auto size = static_cast<std::size_t>(frame);
  if (isNewStream(format_, f) || s.inRe.size() != size) {
    for (auto* v : {&s.inRe, &s.inIm, &s.smoothed, &s.minNow, &s.minStored, &s.clean}) {
      v->assign(size, 0.0);
    }
    for (auto* v : {&s.outRe, &s.outIm, &s.accRe, &s.accIm}) v->assign(size / 2, 0.0);
    s.minWindows.assign(size * kMinStatWindows, 0.0);
    reset(s);
  }
  format_ = f;
  return true;
}

void NoiseReduction::reset(State& s) {
  for (auto* v : {&s.inRe, &s.inIm, &s.outRe, &s.outIm, &s.accRe, &s.accIm, &s.smoothed,
                  &s.minNow, &s.minStored, &s.minWindows, &s.clean}) {
    std::fill(v->begin(), v->end(), 0.0);
  }
  s.fill = 0;
  s.frames = 0;
}

void NoiseReduction::process(State& s, const ReceiveParams& p, double* re, double* im,
                             std::int32_t n) {
  if (!(p.modes.tools & SDR_TOOL_NOISE_REDUCTION) || p.modes.mode == SDR_MODE_FM) return;
  if (frame_ == 0 || s.inRe.size() != static_cast<std::size_t>(frame_)) return;
  const std::int32_t h = hop_;
  std::int32_t k = 0;
  while (k < n) {
    // The new samples go in behind the last F - H; the ready ones come out.
    const std::int32_t chunk = std::min(h - s.fill, n - k);
    const std::int32_t at = s.fill;
    for (std::int32_t j = 0; j < chunk; ++j) {
      const double inRe = re[k + j], inIm = im[k + j];
      re[k + j] = s.outRe[static_cast<std::size_t>(at + j)];
      im[k + j] = s.outIm[static_cast<std::size_t>(at + j)];
      s.inRe[static_cast<std::size_t>(frame_ - h + at + j)] = inRe;
      s.inIm[static_cast<std::size_t>(frame_ - h + at + j)] = inIm;
    }
    s.fill += chunk;
    k += chunk;
    if (s.fill == h) {
      runFrame(s, p);
      s.fill = 0;
    }
  }
}

void NoiseReduction::runFrame(State& s, const ReceiveParams& p) {
  const std::int32_t f = frame_, h = hop_;
  const auto at = [](std::int32_t i) { return static_cast<std::size_t>(i); };
  double* tRe = time_.re();
  double* tIm = time_.im();
  for (std::int32_t i = 0; i < f; ++i) {
    tRe[i] = s.inRe[at(i)] * window_[at(i)];
    tIm[i] = s.inIm[at(i)] * window_[at(i)];
  }
  transform_.forward(tRe, freq_.re());

  const bool first = s.frames == 0;
  const bool windowDone = (s.frames + 1) % framesPerWindow_ == 0;
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
  for (std::int32_t signedBin = -reach; signedBin <= reach; ++signedBin) {
    const std::int32_t i = signedBin < 0 ? signedBin + f : signedBin;
    const double power = xRe[i] * xRe[i] + xIm[i] * xIm[i];
    double& smooth = s.smoothed[at(i)];
    double& minNow = s.minNow[at(i)];
    if (first) {
      smooth = minNow = s.minStored[at(i)] = power;
    } else {
      smooth = kSmoothing * smooth + (1.0 - kSmoothing) * power;
      minNow = std::min(minNow, smooth);
    }
    const double noise = kNoiseBias * std::min(minNow, s.minStored[at(i)]) + kTiny;
    const double post = power / noise;
    const double prior = kDecisionWeight * s.clean[at(i)] / noise +
                         (1.0 - kDecisionWeight) * std::max(post - 1.0, 0.0);
    double gain = std::max(prior / (1.0 + prior), floor);
    if (std::abs(signedBin * binWidth_) < keepHz) gain = 1.0;
    s.clean[at(i)] = gain * gain * power;
    xRe[i] *= gain;
    xIm[i] *= gain;
  }
  if (first || windowDone) {
    // The sub-window is complete: store its minima and start the next one.
    // (The first frame fills every sub-window, the noise's first guess.)
    const std::size_t slot =
        static_cast<std::size_t>((s.frames / framesPerWindow_) % kMinStatWindows);
    for (std::size_t w = first ? 0 : slot; w < (first ? kMinStatWindows : slot + 1); ++w) {
      std::copy(s.minNow.begin(), s.minNow.end(), s.minWindows.begin() + w * at(f));
    }
    for (std::int32_t i = 0; i < f; ++i) {
      double least = std::numeric_limits<double>::infinity();
      for (std::size_t w = 0; w < kMinStatWindows; ++w) {
        least = std::min(least, s.minWindows[w * at(f) + at(i)]);
      }
      s.minStored[at(i)] = least;
      s.minNow[at(i)] = s.smoothed[at(i)];
    }
  }
  ++s.frames;

  transform_.inverse(xRe, tRe);
  for (std::int32_t i = 0; i < h; ++i) {
    s.outRe[at(i)] = s.accRe[at(i)] + tRe[i] * window_[at(i)];
    s.outIm[at(i)] = s.accIm[at(i)] + tIm[i] * window_[at(i)];
    s.accRe[at(i)] = tRe[h + i] * window_[at(h + i)];
    s.accIm[at(i)] = tIm[h + i] * window_[at(h + i)];
  }
  std::copy(s.inRe.begin() + h, s.inRe.end(), s.inRe.begin());
  std::copy(s.inIm.begin() + h, s.inIm.end(), s.inIm.begin());
}

}  // namespace bw
