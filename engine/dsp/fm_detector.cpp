#include "dsp/fm_detector.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "dsp/receive_mode.h"
#include "primitives/nsp.h"

namespace bw {

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kDeemphasisHz = 300.0;
constexpr double kAudioHighHz = 3000.0;
}  // namespace

FmDetector::FmDetector(std::pmr::memory_resource* heap) : angles_(heap), products_(heap) {}

void FmDetector::configure(const ChainFormat& f, State& s) {
  if (isNewStream(format_, f)) reset(s);
  angles_.resize(std::size_t{1} << f.order, 0.0);
  products_.resize(std::size_t{1} << f.order, 0.0);
  format_ = f;
  const double rate = f.sampleRate;
  lowPass_ = Biquad::design(Biquad::Kind::LowPass, kAudioHighHz, rate);
  deemphasisCoef_ = 1.0 - std::exp(-2.0 * kPi * kDeemphasisHz / rate);
  const std::complex<double> z = std::polar(1.0, -2.0 * kPi * 1000.0 / rate);
  deemphasisGain1k_ = deemphasisCoef_ / std::abs(1.0 - (1.0 - deemphasisCoef_) * z);
}

void FmDetector::process(State& s, const ReceiveParams& p, double* re, double* im,
                         std::int32_t n) {
  const double rate = format_.sampleRate;
  // The chain's value that plays at full scale: 24-bit output carries
  // 16-bit values (pcm::playbackSample).
  const double fullScale =
      format_.bitsPerSample == 24 ? 32767.0 : std::ldexp(1.0, format_.bitsPerSample - 1) - 1.0;
  const double toHz = rate / (2.0 * kPi);
  const double scale =
      toHz / fmDeviationHz(p.modes) * 0.5 * fullScale / deemphasisGain1k_;
  const Biquad highPass = Biquad::design(Biquad::Kind::HighPass, p.lowCutHz, rate);
  const double a = deemphasisCoef_;
  const double keep = 1.0 - a;

  State t = s;
  // The discriminator first, in loops of their own: its samples do not
  // depend on each other, the filters' do. The angle between a sample and
  // the one before is that of their product x[k] conj(x[k-1]), taken at the
  // kernel set's width (its magnitude lands in products_, unused).
  double* angle = angles_.data();
  double* product = products_.data();
  product[0] = re[0] * t.lastRe + im[0] * t.lastIm;
  angle[0] = im[0] * t.lastRe - re[0] * t.lastIm;
  for (std::int32_t k = 1; k < n; ++k) {
    product[k] = re[k] * re[k - 1] + im[k] * im[k - 1];
    angle[k] = im[k] * re[k - 1] - re[k] * im[k - 1];
  }
  nsp::nspdbrCartToPolar(product, angle, product, angle, n);
  t.lastRe = re[n - 1];
  t.lastIm = im[n - 1];
  // The noise above the audio band: a fourth difference of the
  // discriminator's output, within the block (two sums, so that the adds
  // do not wait on each other).
  double noisePower[2] = {0.0, 0.0};
  for (std::int32_t k = 4; k < n; ++k) {
    const double hiss = angle[k] - 4.0 * (angle[k - 1] + angle[k - 3]) +
                        6.0 * angle[k - 2] + angle[k - 4];
    noisePower[k & 1] += hiss * hiss;
  }
  for (std::int32_t k = 0; k < n; ++k) {
    t.deemphasis = a * angle[k] + keep * t.deemphasis;
    re[k] = t.lowPass.step(lowPass_, t.highPass.step(highPass, t.deemphasis)) * scale;
  }
  std::fill_n(im, n, 0.0);
  t.noiseLevel = std::sqrt((noisePower[0] + noisePower[1]) / (n - 4)) * toHz /
                 (kFmNoiseReference * std::max(p.highCutHz, SDR_MIN_CUT_HZ));
  if (p.modes.fmSquelchLevel > 0.0 && t.noiseLevel > p.modes.fmSquelchLevel) {
    std::fill_n(re, n, 0.0);
  }
  for (BiquadState* b : {&t.highPass, &t.lowPass}) b->flushTiny();
  if (std::abs(t.deemphasis) < 1e-200) t.deemphasis = 0.0;
  s = t;
}

}  // namespace bw
