// The receive modes through the chain, on synthetic signals: where the CW
// tone lands and what it rejects, AM's audio, FM's SINAD and squelch, and
// version 2 with no mode being version 1.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

#include "dsp/receive_params.h"
#include "support/chain_harness.h"
#include "support/engine_fixture.h"

namespace bw::test::receive_modes {
namespace {

using Complex = std::complex<double>;
using Signal = std::function<Complex(std::int64_t)>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kRate = 48000, kOrder = 11, kBlocks = 20, kSettle = 4;
constexpr double kFull = 0x1p22;  // a loud signal, far below 32-bit clipping

// A version-2 block of `mode` at fixed gain 1, exact tuning, no squelch.
ReceiveParams modeBlock(std::uint8_t mode, std::int32_t offsetHz, std::int32_t low,
                        std::int32_t high) {
  ReceiveParams p = consoleParams();
  p.version = SDR_PARAM_VERSION_MODES;
  p.flags &= ~(SDR_FLAG_AGC_ON | SDR_FLAG_SQUELCH_ON);
  p.gain = 1.0;
  p.extensions = SDR_EXT_EXACT_TUNING;
  p.tuneOffsetHz = offsetHz;
  p.lowCutHz = low;
  p.highCutHz = high;
  p.modes.mode = mode;
  return p;
}

// kBlocks blocks of `signal` (sample units) through a fresh 32-bit chain;
// the left channel after the first kSettle blocks.
std::vector<double> play(const ReceiveParams& p, const Signal& signal) {
  ChainHarness h({kOrder, kRate, 32});
  const int n = 1 << kOrder;
  std::vector<std::int32_t> i(n), q(n), left, right;
  std::vector<double> out;
  for (int b = 0; b < kBlocks; ++b) {
    for (int k = 0; k < n; ++k) {
      const Complex x = signal(std::int64_t{b} * n + k);
      i[k] = static_cast<std::int32_t>(std::lround(x.real()));
      q[k] = static_cast<std::int32_t>(std::lround(x.imag()));
    }
    h.run(p, i, q, left, right);
    if (b >= kSettle) out.insert(out.end(), left.begin(), left.end());
  }
  return out;
}

// The complex amplitude of a real tone at hz over x[from..to).
Complex tone(const std::vector<double>& x, double hz, std::size_t from, std::size_t to) {
  Complex sum;
  for (std::size_t k = from; k < to; ++k) sum += x[k] * std::polar(1.0, -kTwoPi * hz * k / kRate);
  return 2.0 * sum / double(to - from);
}

// Residual power over a tone's power, dB (THD+N, or minus the SINAD): the
// tone at hz fitted over a whole number of its periods and taken away.
double residualDb(const std::vector<double>& x, double hz) {
  const std::size_t len = x.size() - x.size() % std::size_t(kRate / hz);
  const Complex a = tone(x, hz, 0, len);
  double rest = 0.0;
  for (std::size_t k = 0; k < len; ++k) {
    rest += std::pow(x[k] - std::real(a * std::polar(1.0, kTwoPi * hz * k / kRate)), 2);
  }
  return 10.0 * std::log10(rest / len / (std::norm(a) / 2));
}

TEST(ReceiveModes, CwToneSitsAtThePitchAndRejectsBeyondThePassband) {
  constexpr std::int32_t kCarrier = 3001, kPitch = 700;
  for (std::uint8_t mode : {SDR_MODE_CW, SDR_MODE_CW_REVERSED}) {
    const double sign = mode == SDR_MODE_CW ? 1.0 : -1.0;
    // A tone heard at audio frequency f (negative: the other sideband).
    const auto at = [&](double f) -> Signal {
      return [=](std::int64_t k) {
        return std::polar(kFull, kTwoPi * (kCarrier + sign * (f - kPitch)) * k / kRate);
      };
    };
    for (std::int32_t width : {50, 200, 500, 1000}) {
      SCOPED_TRACE(testing::Message() << "mode " << int(mode) << " width " << width);
      const ReceiveParams p =
          modeBlock(mode, kCarrier, kPitch - width / 2, kPitch + width / 2);
      const std::vector<double> y = play(p, at(kPitch));
      // The tone's frequency from its phase advance between the two halves.
      const std::size_t half = y.size() / 2;
      const Complex first = tone(y, kPitch, 0, half), second = tone(y, kPitch, half, 2 * half);
      const double errorHz = std::arg(second / first) / kTwoPi * kRate / double(half);
      EXPECT_LT(std::abs(errorHz), 0.1);
      EXPECT_NEAR(std::abs(first), kFull, 0.02 * kFull);
      for (double f : {kPitch + width / 2 + 250.0, kPitch - width / 2 - 250.0}) {
        const double db = 20.0 * std::log10(std::abs(tone(play(p, at(f)), std::abs(f), 0, y.size())) / kFull);
        std::printf("[figure] CW mode %d width %4d: error %+.4f Hz, tone at %6.0f Hz %.1f dB\n",
                    int(mode), width, errorHz, f, db);
        EXPECT_LT(db, -70.0) << "tone at " << f << " Hz";
      }
    }
  }
}

TEST(ReceiveModes, AmGivesTheModulationWithoutTheCarrier) {
  // 50 % modulation by 1 kHz of a carrier at 5003 Hz.
  const std::vector<double> y = play(modeBlock(SDR_MODE_AM, 5003, 100, 4500), [](std::int64_t k) {
    return std::polar(0.5 * kFull * (1.0 + 0.5 * std::cos(kTwoPi * 1000.0 * k / kRate)),
                      kTwoPi * 5003.0 * k / kRate);
  });
  const double thdn = residualDb(y, 1000.0);
  std::printf("[figure] AM THD+N %.1f dB (%.4f %%)\n", thdn, 100 * std::pow(10, thdn / 20));
  EXPECT_LT(thdn, -40.0);  // 1 %, the carrier's level included
  EXPECT_NEAR(std::abs(tone(y, 1000.0, 0, y.size())), 0.25 * kFull, 0.01 * kFull);
}

// A 1 kHz tone at `deviation` Hz on a carrier at 2003 Hz (amplitude 0 for
// none) in complex white noise of rms `noise` kFull a component.
Signal fmSignal(double amplitude, double deviation, double noiseRms) {
  auto rng = std::make_shared<std::mt19937>(5);
  return [=](std::int64_t k) {
    std::normal_distribution<double> noise(0.0, noiseRms * kFull);
    const double phase = kTwoPi * 2003.0 * k / kRate +
                         deviation / 1000.0 * std::sin(kTwoPi * 1000.0 * k / kRate);
    return std::polar(amplitude, phase) + Complex(noise(*rng), noise(*rng));
  };
}

TEST(ReceiveModes, FmSinadFollowsTheDeviationAndTheSquelchMutesNoise) {
  struct Case { std::int32_t deviation; double noise, minSinadDb; };
  // The carrier 17 dB above the noise in the passband of 2.5 kHz deviation
  // (+-5.5 kHz), 16 dB in that of 5 kHz (+-8 kHz); and nearly clean.
  for (const Case c : {Case{2500, 0.1, 25.0}, Case{5000, 0.1, 30.0},
                       Case{2500, 1e-4, 50.0}, Case{5000, 1e-4, 50.0}}) {
    ReceiveParams p = modeBlock(SDR_MODE_FM, 2003, 300, c.deviation + 3000);
    p.modes.fmDeviationHz = c.deviation;
    const std::vector<double> y = play(p, fmSignal(0.5 * kFull, c.deviation, c.noise));
    const double sinad = -residualDb(y, 1000.0);
    const double level = std::abs(tone(y, 1000.0, 0, y.size())) / (0.5 * 0x1p31);
    std::printf("[figure] FM deviation %d noise %g: SINAD %.1f dB\n", c.deviation, c.noise, sinad);
    EXPECT_GT(sinad, c.minSinadDb) << c.deviation;
    EXPECT_NEAR(level, 1.0, 0.1) << c.deviation;

    p.modes.fmSquelchLevel = 0.5;
    double noiseOnly = 0.0, signal = 0.0;
    for (double x : play(p, fmSignal(0.0, c.deviation, c.noise))) noiseOnly += x * x;
    for (double x : play(p, fmSignal(0.5 * kFull, c.deviation, c.noise))) signal += x * x;
    EXPECT_EQ(noiseOnly, 0.0) << c.deviation;
    EXPECT_GT(signal, 0.0) << c.deviation;
  }
}

TEST(ReceiveModes, VersionTwoWithAZeroTailIsVersionOne) {
  for (std::uint32_t extensions : {0u, unsigned{SDR_EXT_ALL}}) {
    ReceiveParams p = consoleParams();
    p.tuneOffsetHz = 1234;
    p.extensions = extensions;
    std::uint8_t v1[SDR_PARAM_BLOCK_V2_BYTES] = {}, v2[SDR_PARAM_BLOCK_V2_BYTES];
    encodeParams(p, v1);
    encodeParamsV2(p, v2);
    ChainHarness one({kOrder, kRate, 16}), two({kOrder, kRate, 16});
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    for (int b = 0; b < 12; ++b) {
      std::vector<std::uint8_t> in(static_cast<std::size_t>(one.chain().bufferBytes()));
      for (std::uint8_t& byte : in) byte = static_cast<std::uint8_t>(sample(rng));
      ASSERT_EQ(one.process(decodeParams(v1), in), two.process(decodeParams(v2), in));
    }
  }
}

}  // namespace
}  // namespace bw::test::receive_modes
