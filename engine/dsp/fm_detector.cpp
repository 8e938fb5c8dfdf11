#include "dsp/fm_detector.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "dsp/receive_mode.h"

namespace bw {

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kDeemphasisHz = 300.0;
constexpr double kAudioHighHz = 3000.0;

// atan2 without its branches and library call, to 1e-5 rad: the
// discriminator runs it once a sample, and the library's costs as much as
// the rest of the block.
inline double fastAtan2(double y, double x) {
  const double ax = std::abs(x), ay = std::abs(y);
  const double big = std::max(ax, ay), small = std::min(ax, ay);
  const double a = big > 0.0 ? small / big : 0.0;
  const double s = a * a;
  double r = a * (0.99997726 + s * (-0.33262347 + s * (0.19354346 +
                  s * (-0.11643287 + s * (0.05265332 + s * -0.01172120)))));
  r = ay > ax ? kPi / 2 - r : r;
  r = x < 0.0 ? kPi - r : r;
  return y < 0.0 ? -r : r;
}
}  // namespace

void FmDetector::configure(const ChainFormat& f, State& s) {
  if (isNewStream(format_, f)) reset(s);
  format_ = f;
  const double rate = f.sampleRate;
  lowPass_ = Biquad::design(Biquad::Kind::LowPass, kAudioHighHz, rate);
  // The band above the audio: 4..7 kHz, squeezed below the Nyquist
  // frequency at the low rates.
  const double noiseLow = std::min(4000.0, 0.3 * rate);
  const double noiseHigh = std::min(7000.0, 0.45 * rate);
  const double centre = std::sqrt(noiseLow * noiseHigh);
  noise_ = Biquad::design(Biquad::Kind::BandPass, centre, rate,
                          centre / (noiseHigh - noiseLow));
  deemphasisCoef_ = 1.0 - std::exp(-2.0 * kPi * kDeemphasisHz / rate);
  const std::complex<double> z = std::polar(1.0, -2.0 * kPi * 1000.0 / rate);
  deemphasisGain1k_ = deemphasisCoef_ / std::abs(1.0 - (1.0 - deemphasisCoef_) * z);
}

void FmDetector::process(State& s, const ReceiveParams& p, double* re, double* im,
                         std::int32_t n) const {
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

  State t = s;
  double noisePower = 0.0;
  for (std::int32_t k = 0; k < n; ++k) {
    const double xr = re[k], xi = im[k];
    const double d = fastAtan2(xi * t.lastRe - xr * t.lastIm, xr * t.lastRe + xi * t.lastIm);
    t.lastRe = xr;
    t.lastIm = xi;
    const double hiss = t.noise.step(noise_, d);
    noisePower += hiss * hiss;
    t.deemphasis += a * (d - t.deemphasis);
    re[k] = t.lowPass.step(lowPass_, t.highPass.step(highPass, t.deemphasis)) * scale;
    im[k] = 0.0;
  }
  t.noiseLevel = std::sqrt(noisePower / n) * toHz / (kFmNoiseReference * std::max(p.highCutHz, SDR_MIN_CUT_HZ));
  if (p.modes.fmSquelchLevel > 0.0 && t.noiseLevel > p.modes.fmSquelchLevel) {
    std::fill_n(re, n, 0.0);
  }
  for (BiquadState* b : {&t.highPass, &t.lowPass, &t.noise}) b->flushTiny();
  if (std::abs(t.deemphasis) < 1e-200) t.deemphasis = 0.0;
  s = t;
}

}  // namespace bw
