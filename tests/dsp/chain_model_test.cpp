// The receive chain against a plain scalar model of the same steps, written
// here in long double without any of the engine's primitives: random
// parameter blocks over every order, width and flag combination, several
// blocks per case so that tails, the filter and the AGC carry over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "support/chain_harness.h"

namespace {

using Real = long double;
using Complex = std::complex<Real>;
constexpr Real kPi = std::numbers::pi_v<Real>;

// ---- The parameter block, written byte by byte. ----
namespace bit {
constexpr std::uint32_t Flush = 0x1, SwapIn = 0x10, SwapOut = 0x20,
                        MonoIn = 0x40, MonoOut = 0x80, SpectrumEarly = 0x100,
                        ShiftEarly = 0x200, SidebandEarly = 0x400, Agc = 0x800,
                        Squelch = 0x2000, BalanceEarly = 0x4000,
                        Upper = 0x100000, Lower = 0x200000;
}

struct Params {
  std::uint32_t flags = 0;
  double phaseCoef = 0, gainCoef = 0;
  std::int32_t low = 0, high = 0, tune = 0, agcBlocks = 0;
  double gain = 0, squelch = 0, outputGain = 0;
};

template <typename T>
void put(std::uint8_t* b, int at, T v) {
  std::memcpy(b + at, &v, sizeof v);
}

std::vector<std::uint8_t> encode(const Params& p) {
  std::vector<std::uint8_t> b(65, 0);
  b[0] = 1;
  put(b.data(), 1, p.flags);
  put(b.data(), 5, p.phaseCoef);
  put(b.data(), 13, p.gainCoef);
  put(b.data(), 21, p.low);
  put(b.data(), 25, p.high);
  put(b.data(), 29, p.tune);
  put(b.data(), 33, p.agcBlocks);
  put(b.data(), 37, p.gain);
  put(b.data(), 49, p.squelch);
  put(b.data(), 57, p.outputGain);
  return b;
}

// ---- PCM as the sound card holds it. ----
std::int32_t readSample(const std::uint8_t* p, int bits) {
  switch (bits) {
    case 8: return std::int32_t{p[0]} - 128;
    case 16: return std::int16_t(p[0] | p[1] << 8);
    case 24: return (std::int32_t(p[0] << 8 | p[1] << 16 | std::uint32_t(p[2]) << 24)) >> 8;
    default: {
      std::int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

void writeSample(std::uint8_t* p, int bits, std::int32_t v) {
  switch (bits) {
    case 8: p[0] = std::uint8_t(std::clamp(v, -128, 127) + 128); break;
    case 16: p[0] = std::uint8_t(v); p[1] = std::uint8_t(v >> 8); break;
    case 24: {  // saturated 16-bit value in the upper two bytes
      const std::int32_t s = std::clamp(v, -32768, 32767);
      p[0] = 0; p[1] = std::uint8_t(s); p[2] = std::uint8_t(s >> 8);
      break;
    }
    default: std::memcpy(p, &v, 4);
  }
}

// Played samples in comparable units (24-bit output carries 16-bit values).
std::vector<std::int32_t> playedSamples(const std::vector<std::uint8_t>& pcm, int bits) {
  const int bytes = bits / 8;
  std::vector<std::int32_t> s(pcm.size() / bytes);
  for (std::size_t i = 0; i < s.size(); ++i) {
    const std::uint8_t* p = &pcm[i * bytes];
    s[i] = bits == 24 ? std::int16_t(p[1] | p[2] << 8) + (p[0] ? 1 << 20 : 0)
                      : readSample(p, bits);
  }
  return s;
}

// ---- The model. ----
void fft(std::vector<Complex>& x, bool inverse) {
  const std::size_t m = x.size();
  for (std::size_t i = 1, j = 0; i < m; ++i) {
    std::size_t b = m >> 1;
    for (; j & b; b >>= 1) j ^= b;
    j |= b;
    if (i < j) std::swap(x[i], x[j]);
  }
  for (std::size_t len = 2; len <= m; len <<= 1) {
    const Real a = (inverse ? 2 : -2) * kPi / Real(len);
    for (std::size_t k = 0; k < len / 2; ++k) {
      const Complex w(std::cos(a * k), std::sin(a * k));
      for (std::size_t i = k; i < m; i += len) {
        const Complex u = x[i], v = x[i + len / 2] * w;
        x[i] = u + v;
        x[i + len / 2] = u - v;
      }
    }
  }
  if (inverse) for (Complex& v : x) v /= Real(m);
}

std::int32_t nearest(Real v) {
  if (v != v) return 0;
  v = std::clamp<Real>(v, INT32_MIN, INT32_MAX);
  return std::int32_t(std::nearbyint(v));
}

class ChainModel {
 public:
  ChainModel(int order, int rate, int bits)
      : n_(1 << order), m_(2 << order), rate_(rate), bits_(bits),
        maxAmp_((1LL << (bits - 1)) - 1), ramp_(rate / 1000),
        filterMag_(m_, 0), filterPhase_(m_, 0), tail_(n_, 0),
        ring_(10, 0), spectrum_(m_, 0) {}

  void process(const Params& p, const std::vector<std::uint8_t>& in,
               std::vector<std::uint8_t>& out) {
    out.assign(in.size(), 0);
    if (p.flags == 0) {
      out = in;
      return;
    }
    if ((p.flags & bit::Flush) != lastFlush_) {
      lastFlush_ = p.flags & bit::Flush;
      std::fill(tail_.begin(), tail_.end(), Complex{});
    }
    if ((p.low != curLow_ || p.high != curHigh_) && 0 < p.low && p.low < p.high) {
      curLow_ = p.low;
      curHigh_ = p.high;
      design(p.low, p.high);
    }
    const int bytes = bits_ / 8;
    std::vector<Complex> x(m_);
    for (int i = 0; i < n_; ++i) {
      Real first = readSample(&in[2 * i * bytes], bits_);
      Real second = readSample(&in[(2 * i + 1) * bytes], bits_);
      if (p.flags & bit::SwapIn) std::swap(first, second);
      x[i] = Complex(first, (p.flags & bit::MonoIn) ? first : second);
    }
    fft(x, false);
    if (p.flags & bit::BalanceEarly) balance(x, p);
    std::vector<Real> mag(m_), phase(m_);
    for (int k = 0; k < m_; ++k) {
      mag[k] = std::abs(x[k]);
      phase[k] = std::arg(x[k]);
    }
    if (p.flags & bit::SpectrumEarly) capture(mag);

    const bool shiftEarly = p.flags & bit::ShiftEarly;
    const bool sidebandEarly = p.flags & bit::SidebandEarly;
    if (shiftEarly) rotate(mag, phase, p.tune);
    if (sidebandEarly) sideband(mag, p.flags);
    for (int k = 0; k < m_; ++k) {
      mag[k] *= filterMag_[k];
      phase[k] += filterPhase_[k];
    }
    if (!sidebandEarly) sideband(mag, p.flags);
    if (!shiftEarly) rotate(mag, phase, p.tune);

    for (int k = 0; k < m_; ++k) x[k] = std::polar(mag[k], phase[k]);
    if (!(p.flags & bit::BalanceEarly)) balance(x, p);
    fft(x, true);
    for (int i = 0; i < n_ - 2; ++i) x[i] += tail_[i];
    std::copy(x.begin() + n_, x.end(), tail_.begin());
    for (int i = 0; i < n_; ++i) {
      mag[i] = std::abs(x[i]);
      phase[i] = std::arg(x[i]);
    }

    if (p.flags & bit::Agc) {
      agc(mag, p.agcBlocks, p.gain);
    } else {
      for (int i = 0; i < n_; ++i) mag[i] *= p.gain;
      reading_ = p.gain;
    }
    if (p.flags & bit::Squelch) {
      Real loud = 0, quiet = 1;
      for (int k = 1; k < m_; ++k) {
        if (mag[k] > 2) (mag[k] > p.squelch ? loud : quiet) += 1;
      }
      if (loud / quiet < Real(0.1)) std::fill(mag.begin(), mag.end(), 0);
    }
    if (p.outputGain > 0) for (int i = 0; i < n_; ++i) mag[i] *= p.outputGain;
    for (int i = 0; i < n_; ++i) mag[i] = std::min<Real>(mag[i], maxAmp_);
    if (!(p.flags & bit::SpectrumEarly)) capture(mag);

    for (int i = 0; i < n_; ++i) {
      const Complex y = std::polar(mag[i], phase[i]);
      std::int32_t left = nearest(y.real());
      std::int32_t right = (p.flags & bit::MonoOut) ? left : nearest(y.imag());
      if (p.flags & bit::SwapOut) std::swap(left, right);
      writeSample(&out[2 * i * bytes], bits_, left);
      writeSample(&out[(2 * i + 1) * bytes], bits_, right);
    }
  }

  const std::vector<Real>& spectrum() const { return spectrum_; }
  Real reading() const { return reading_; }
  Real binWidth() const { return Real(rate_) / m_; }

 private:
  void balance(std::vector<Complex>& x, const Params& p) const {
    for (Complex& v : x) {
      v = Complex(v.real() * (1 + Real(p.gainCoef)),
                  v.imag() + Real(p.phaseCoef) * v.real());
    }
  }

  void capture(const std::vector<Real>& mag) {
    std::copy(mag.begin(), mag.end() - 1, spectrum_.begin());
  }

  // Bins to rotate by: offset · M / rate to the nearest integer, ties to
  // even, in exact integer arithmetic; odd counts are raised by one.
  void rotate(std::vector<Real>& mag, std::vector<Real>& phase, std::int32_t hz) const {
    const std::int64_t num = std::int64_t{hz} * m_;
    std::int64_t q = num / rate_, r = num % rate_;
    if (r < 0) { q -= 1; r += rate_; }
    if (2 * r > rate_ || (2 * r == rate_ && (q & 1))) q += 1;
    if (q & 1) q += 1;
    const std::int64_t k = ((q % m_) + m_) % m_;
    std::rotate(mag.begin(), mag.begin() + k, mag.end());
    std::rotate(phase.begin(), phase.begin() + k, phase.end());
  }

  void sideband(std::vector<Real>& mag, std::uint32_t flags) const {
    if (flags & bit::Upper) std::fill(mag.begin() + m_ / 2, mag.end(), 0);
    if (flags & bit::Lower) std::fill(mag.begin(), mag.begin() + m_ / 2, 0);
  }

  void agc(std::vector<Real>& mag, std::int32_t holdBlocks, Real maxGain) {
    const int hold = (holdBlocks < 1 || holdBlocks > 10) ? 1 : holdBlocks;
    pos_ = pos_ >= hold - 1 ? 0 : pos_ + 1;
    const Real peak = *std::max_element(mag.begin(), mag.begin() + n_);
    if (peak != 0) {
      ring_[pos_] = 16384 / peak;
      reading_ = *std::min_element(ring_.begin(), ring_.begin() + hold);
    }
    if (maxGain < reading_) reading_ = maxGain;
    const Real step = (reading_ - previous_) / ramp_;
    for (int i = 0; i < n_; ++i) {
      mag[i] *= (i < ramp_ && previous_ != reading_) ? previous_ + (i + 1) * step
                                                     : reading_;
    }
    previous_ = reading_;
  }

  // Windowed-sinc band-pass of N taps (optimal Blackman window, unit gain at
  // the band centre), zero-padded to M points and transformed.
  void design(std::int32_t low, std::int32_t high) {
    if (low < 50 || high > 6000 || high <= low) { low = 50; high = 6000; }
    Real lo = Real(low) / rate_, hi = Real(high) / rate_;
    const Real edge = Real(0.5) - Real(1) / (2 * n_);
    if (lo >= Real(0.5)) lo = edge;
    if (hi >= Real(0.5)) hi = edge;
    if (!(lo < hi)) return;
    const int len = n_;
    const Real alpha = -Real(0.5) / (1 + std::cos(2 * kPi / (len - 1)));
    std::vector<Real> taps(len, 0);
    Real centreGain = 0;
    for (int t = 1; t < len - 1; ++t) {
      const Real d = t - (len - 1) / Real(2);
      const Real ideal = (std::sin(2 * kPi * hi * d) - std::sin(2 * kPi * lo * d)) / (kPi * d);
      const Real w = (alpha + 1) / 2 - std::cos(2 * kPi * t / (len - 1)) / 2 -
                     alpha / 2 * std::cos(4 * kPi * t / (len - 1));
      taps[t] = ideal * w;
      centreGain += taps[t] * std::cos(kPi * (lo + hi) * d);
    }
    std::vector<Complex> h(m_);
    for (int t = 0; t < len; ++t) h[t] = taps[t] / centreGain;
    fft(h, false);
    for (int k = 0; k < m_; ++k) {
      filterMag_[k] = std::abs(h[k]);
      filterPhase_[k] = std::arg(h[k]);
    }
  }

  int n_, m_, rate_, bits_;
  Real maxAmp_;
  int ramp_;
  std::vector<Real> filterMag_, filterPhase_;
  std::vector<Complex> tail_;
  std::vector<Real> ring_;
  std::vector<Real> spectrum_;
  std::uint32_t lastFlush_ = 0;
  std::int32_t curLow_ = 0, curHigh_ = 0;
  int pos_ = 0;
  Real previous_ = 0, reading_ = 0;
};

// ---- Random cases. ----
struct Coverage {
  bool order[17] = {}, width[33] = {}, spectral[4] = {};
  bool spectrumEarly[2] = {}, balanceEarly[2] = {}, balanceCoefs = false;
  bool oddRotation = false, negativeRotation = false, agcOnOffOn = false;
  bool squelch = false, outGainOff = false, outGainOn = false;
  bool upper = false, lower = false, monoIn[2] = {}, monoOut[2] = {};
};

std::vector<std::uint8_t> randomInput(std::mt19937& rng, int n, int bits,
                                      double rate, std::int64_t start) {
  std::uniform_real_distribution<double> u(-1, 1);
  const double full = double((1LL << (bits - 1)) - 1);
  const double f1 = u(rng) * rate / 3, f2 = u(rng) * rate / 8;
  const double a1 = full * (0.2 + 0.3 * std::abs(u(rng))), a2 = full * 0.1;
  std::vector<std::uint8_t> pcm(std::size_t(n) * 2 * (bits / 8));
  for (int i = 0; i < n; ++i) {
    const double w1 = 2 * std::numbers::pi * f1 * double(start + i) / rate;
    const double w2 = 2 * std::numbers::pi * f2 * double(start + i) / rate;
    const double re = a1 * std::cos(w1) + a2 * std::cos(w2) + full * 0.05 * u(rng);
    const double im = a1 * std::sin(w1) + a2 * std::sin(w2) + full * 0.05 * u(rng);
    writeSample(&pcm[2 * i * (bits / 8)], bits, std::int32_t(std::lround(std::clamp(re, -full, full))));
    writeSample(&pcm[(2 * i + 1) * (bits / 8)], bits, std::int32_t(std::lround(std::clamp(im, -full, full))));
  }
  return pcm;
}

TEST(ChainModelTest, ChainAgreesWithTheScalarModelOverRandomBlocks) {
  constexpr int kRates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
  constexpr int kWidths[] = {8, 16, 24, 32};
  std::mt19937 rng(20261208);
  std::uniform_real_distribution<double> u(0, 1);
  auto chance = [&](double p) { return u(rng) < p; };
  Coverage seen;

  for (int c = 0; c < 36; ++c) {
    const int order = 8 + c % 9;
    const int bits = kWidths[(c / 9 + c) % 4];
    const int rate = kRates[std::uniform_int_distribution<int>(0, 8)(rng)];
    const int n = 1 << order;
    // The chain is reached only through the parameter block's bytes.
    bw::test::ChainHarness chain({order, rate, bits});
    ChainModel model(order, rate, bits);
    SCOPED_TRACE("case " + std::to_string(c) + ": order " + std::to_string(order) +
                 ", " + std::to_string(bits) + " bits, " + std::to_string(rate) + " Hz");
    seen.order[order] = seen.width[bits] = true;

    Params p;
    p.flags = std::uint32_t(u(rng) * 0x10000) & 0x79F1;
    p.flags |= chance(0.5) ? bit::Upper : 0;
    p.flags |= chance(0.2) ? bit::Lower : 0;
    p.flags |= (c % 4) << 9;  // every ShiftEarly / SidebandEarly order
    p.low = std::int32_t(20 + u(rng) * 800);
    p.high = std::int32_t(p.low + 200 + u(rng) * 6000);
    if (chance(0.5)) {
      p.phaseCoef = (u(rng) - 0.5) * 0.2;
      p.gainCoef = (u(rng) - 0.5) * 0.2;
    }
    const int blocks = order >= 14 ? 3 : 4;
    const bool agcOnOffOn = c % 3 == 0;
    bool agcWasOff = false;
    for (int b = 0; b < blocks; ++b) {
      if (b == 0 || chance(0.5)) {
        const double bins = (u(rng) - 0.5) * 2 * n;
        p.tune = std::int32_t(std::lround((std::floor(bins / 2) * 2 + 1) * model.binWidth()));
        if (chance(0.3)) p.tune = std::int32_t((u(rng) - 0.5) * rate);
      }
      p.agcBlocks = std::int32_t(u(rng) * 14) - 2;
      p.gain = (p.flags & bit::Agc) ? 0.5 + u(rng) * 2000 : 0.1 + u(rng) * 3;
      p.squelch = u(rng) * 2000;
      p.outputGain = chance(0.4) ? -u(rng) : (chance(0.2) ? 0.0 : 0.2 + u(rng) * 3);
      if (agcOnOffOn) {
        p.flags = b == 1 ? p.flags & ~bit::Agc : p.flags | bit::Agc;
        if (!(p.flags & bit::Agc)) agcWasOff = true;
        if (agcWasOff && (p.flags & bit::Agc)) seen.agcOnOffOn = true;
      }
      if (chance(0.3)) p.flags ^= bit::Flush;
      if (chance(0.2)) p.low = p.high + 10;  // refused edges keep the filter
      else if (chance(0.2)) p.low = std::int32_t(20 + u(rng) * 800);

      const auto in = randomInput(rng, n, bits, rate, std::int64_t{b} * n);
      const auto got = chain.process(bw::decodeParams(encode(p).data()), in);
      std::vector<std::uint8_t> want;
      model.process(p, in, want);
      SCOPED_TRACE("block " + std::to_string(b) + ", flags " + std::to_string(p.flags));

      const auto g = playedSamples(got, bits), w = playedSamples(want, bits);
      int worst = 0;
      for (std::size_t i = 0; i < g.size(); ++i) worst = std::max(worst, std::abs(g[i] - w[i]));
      ASSERT_LE(worst, 1);

      const std::vector<Real>& ws = model.spectrum();
      const Real scale = *std::max_element(ws.begin(), ws.end()) + 1;
      Real spectrumError = 0;
      for (int k = 0; k < 2 * n - 1; ++k) {
        spectrumError = std::max(spectrumError, std::abs(chain.spectrum()[k] - ws[k]) / scale);
      }
      ASSERT_LE(spectrumError, 1e-9);
      ASSERT_NEAR(chain.chain().reading(), double(model.reading()),
                  1e-9 * std::abs(double(model.reading())));

      const std::int64_t rawBins = std::llrint(p.tune / double(model.binWidth()));
      seen.oddRotation |= (rawBins & 1) != 0;
      seen.negativeRotation |= rawBins < 0;
      seen.spectral[(p.flags >> 9) & 3] = true;
      seen.spectrumEarly[(p.flags & bit::SpectrumEarly) != 0] = true;
      seen.balanceEarly[(p.flags & bit::BalanceEarly) != 0] = true;
      seen.balanceCoefs |= p.phaseCoef != 0 && p.gainCoef != 0;
      seen.squelch |= (p.flags & bit::Squelch) != 0;
      seen.outGainOff |= p.outputGain <= 0;
      seen.outGainOn |= p.outputGain > 0;
      seen.upper |= (p.flags & bit::Upper) != 0;
      seen.lower |= (p.flags & bit::Lower) != 0 && !(p.flags & bit::Upper);
      seen.monoIn[(p.flags & bit::MonoIn) != 0] = true;
      seen.monoOut[(p.flags & bit::MonoOut) != 0] = true;
    }
  }

  // The draws must have reached every case the model is there to check.
  for (int o = 8; o <= 16; ++o) EXPECT_TRUE(seen.order[o]) << o;
  for (int w : kWidths) EXPECT_TRUE(seen.width[w]) << w;
  for (bool s : seen.spectral) EXPECT_TRUE(s);
  EXPECT_TRUE(seen.spectrumEarly[0] && seen.spectrumEarly[1]);
  EXPECT_TRUE(seen.balanceEarly[0] && seen.balanceEarly[1] && seen.balanceCoefs);
  EXPECT_TRUE(seen.oddRotation && seen.negativeRotation && seen.agcOnOffOn);
  EXPECT_TRUE(seen.squelch && seen.outGainOff && seen.outGainOn);
  EXPECT_TRUE(seen.upper && seen.lower);
  EXPECT_TRUE(seen.monoIn[0] && seen.monoIn[1] && seen.monoOut[0] && seen.monoOut[1]);
}

TEST(ChainModelTest, ZeroFlagsPassTheCaptureThrough) {
  bw::test::ChainHarness chain({8, 48000, 24});
  ChainModel model(8, 48000, 24);
  std::mt19937 rng(5);
  const auto in = randomInput(rng, 256, 24, 48000, 0);
  std::vector<std::uint8_t> want;
  model.process(Params{}, in, want);
  EXPECT_EQ(chain.process(bw::decodeParams(encode(Params{}).data()), in), want);
}

}  // namespace
