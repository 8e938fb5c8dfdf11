// The synchronous AM detector on synthetic baseband: a carrier at an offset
// with tones beside it, the carrier fading by 20 dB (its sidebands not)
// from 0.8 s to 1.0 s. The loop must lock within 0.5 s and hold to the end;
// in the fade the audio's THD+N must stay within 1 % where an envelope
// detector's (|x| less its mean) exceeds 10 %; one-sideband modes must
// reject the other side. Tones are measured over whole periods by
// correlation, so the fit needs no windows.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "dsp/sam_detector.h"

namespace bw::test {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kSeconds = 2.0;
constexpr double kFadeStart = 0.8, kFadeEnd = 1.0;  // s
constexpr double kMeasureStart = 1.2, kMeasureEnd = 1.9;  // s: whole periods
constexpr double kToneHz = 1000.0, kSideband = 0.4;

// The amplitude of `hz` in y and the RMS of the rest, the mean aside: over
// whole periods the tone, the mean and the rest are orthogonal (Parseval).
std::pair<double, double> fitTone(const std::vector<double>& y, double rate, double hz) {
  const auto from = static_cast<std::size_t>(kMeasureStart * rate);
  const auto to = static_cast<std::size_t>(kMeasureEnd * rate);
  const double count = static_cast<double>(to - from);
  double mean = 0.0, power = 0.0;
  std::complex<double> tone = 0.0;
  for (std::size_t k = from; k < to; ++k) {
    mean += y[k] / count;
    power += y[k] * y[k] / count;
    tone += y[k] * std::polar(2.0 / count, -2.0 * kPi * hz * k / rate);
  }
  const double a = std::abs(tone);
  return {a, std::sqrt(std::max(0.0, power - mean * mean - a * a / 2.0))};
}

// AM by kToneHz at 80 % (sidebands of 0.4 against the carrier's 1.0). With
// a neighbour (as strong as a sideband, on one side) the one-sideband modes
// must reject it by 35 dB; without, the audio's THD+N must stay within 1 %.
// Offsets: the carrier's from the tuning; the neighbour's from the carrier
// (signed; 0: none).
struct Case { const char* name; std::int32_t rate; std::uint8_t mode; double offsetHz, neighbourHz; };
const Case kCases[] = {
    {"am_at_m2000", 48000, SDR_MODE_SAM, -2000.0, 0.0},
    {"am_at_0", 48000, SDR_MODE_SAM, 0.0, 0.0},
    {"am_at_p137", 48000, SDR_MODE_SAM, 137.0, 0.0},
    {"am_at_p2000", 48000, SDR_MODE_SAM, 2000.0, 0.0},
    {"am_at_8000Hz", 8000, SDR_MODE_SAM, 1900.0, 0.0},
    {"am_at_96000Hz", 96000, SDR_MODE_SAM, -1900.0, 0.0},
    {"upper_beside_a_lower_neighbour", 48000, SDR_MODE_SAM_UPPER, 2000.0, -1700.0},
    {"lower_beside_an_upper_neighbour", 48000, SDR_MODE_SAM_LOWER, -2000.0, 1700.0},
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SamDetectorTest : public ::testing::TestWithParam<Case> {};

TEST_P(SamDetectorTest, LocksHoldsThroughAFadeAndDetects) {
  const Case& c = GetParam();
  const double rate = c.rate;
  const double omega = 2.0 * kPi * c.offsetHz / rate, phase0 = 0.7;
  const auto total = static_cast<std::int32_t>(kSeconds * rate);
  std::mt19937 random(5);
  std::normal_distribution<double> noise(0.0, 1e-3 / std::sqrt(2.0));  // -60 dBc
  std::vector<double> re(total), im(total), envelope(total);
  for (std::int32_t k = 0; k < total; ++k) {
    const double t = k / rate;
    const double x = std::clamp((t - kFadeStart) / (kFadeEnd - kFadeStart), 0.0, 1.0);
    const double carrier = 1.0 - 0.9 * (0.5 - 0.5 * std::cos(kPi * x));  // to -20 dB
    const std::complex<double> z =
        std::polar(1.0, omega * k + phase0) *
            (carrier + 2.0 * kSideband * std::cos(2.0 * kPi * kToneHz * t) +
             std::polar(c.neighbourHz != 0.0 ? kSideband : 0.0, 2.0 * kPi * c.neighbourHz * t)) +
        std::complex<double>(noise(random), noise(random));
    re[k] = z.real(), im[k] = z.imag(), envelope[k] = std::abs(z);
  }

  ReceiveParams p;
  p.modes.mode = c.mode;
  p.lowCutHz = 100;
  const ChainFormat format{10, c.rate, 16};
  const std::int32_t n = 1 << format.order;
  SamDetector detector;
  SamDetector::State state;
  detector.configure(format, state);
  double lockedSince = 0.0;  // s: the end of the last block out of lock
  for (std::int32_t k = 0; k + n <= total; k += n) {
    detector.process(state, p, re.data() + k, im.data() + k, n);
    const double phaseError = std::remainder(state.phase() - omega * (k + n) - phase0, 2 * kPi);
    const double frequencyErrorHz = (state.frequency - omega) * rate / (2 * kPi);
    if (std::fabs(phaseError) > 0.2 || std::fabs(frequencyErrorHz) > 2.0) lockedSince = (k + n) / rate;
  }
  EXPECT_LT(lockedSince, 0.5);
  if (c.neighbourHz == 0.0) {
    const auto [sam, samRest] = fitTone(re, rate, kToneHz);
    const auto [am, amRest] = fitTone(envelope, rate, kToneHz);
    EXPECT_LE(samRest / (sam / std::sqrt(2.0)), 0.01);  // THD+N
    EXPECT_GT(amRest / (am / std::sqrt(2.0)), 0.10);
  } else {
    // One sideband doubled gives the tone the level both give, and would
    // give the neighbour as much, were it on the chosen side.
    const double rejectionDb = 20.0 * std::log10(fitTone(re, rate, kToneHz).first /
                                                 fitTone(re, rate, std::fabs(c.neighbourHz)).first);
    EXPECT_GE(rejectionDb, 35.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SamDetectorTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bw::test
