// The noise blanker, automatic notch and noise reduction through the receive
// chain (48000 Hz, order 11, 24-bit, upper sideband 300..2700 Hz tuned to
// 6000 Hz, fixed gain 1): a tone among impulses, a carrier beside speech,
// speech in white noise. Speech comes from espeak-ng, made in the test's own
// temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <numbers>
#include <random>

#include "support/chain_harness.h"
#include "support/wav_file.h"

namespace bw::test::noise_tools {
namespace {

using Complex = std::complex<double>;
using Signal = std::vector<Complex>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr int kRate = 48000, kOrder = 11, kTuneHz = 6000;
constexpr double kLevel = 1e4;  // the wanted signal's peak, of 2^23 full scale

ReceiveParams toolParams(std::uint32_t tools, std::uint8_t mode = SDR_MODE_SIDEBAND) {
  ReceiveParams p = consoleParams();
  p.flags &= ~(SDR_FLAG_MONO_OUTPUT | SDR_FLAG_AGC_ON | SDR_FLAG_SQUELCH_ON);
  p.gain = 1.0;
  p.tuneOffsetHz = kTuneHz;
  p.version = SDR_PARAM_VERSION_MODES;
  p.modes.mode = mode;
  p.modes.tools = tools;
  return p;
}

// The capture through a fresh chain, with the parameters paramsOf(block)
// for each block; the complex output (left + j right).
Signal receive(const Signal& capture,
               const std::function<ReceiveParams(std::size_t)>& paramsOf) {
  ChainHarness harness({kOrder, kRate, 24});
  const std::size_t n = static_cast<std::size_t>(harness.chain().blockSamples());
  Signal out;
  std::vector<std::int32_t> i(n), q(n), left, right;
  for (std::size_t start = 0; start + n <= capture.size(); start += n) {
    for (std::size_t k = 0; k < n; ++k) {
      i[k] = static_cast<std::int32_t>(std::lround(capture[start + k].real()));
      q[k] = static_cast<std::int32_t>(std::lround(capture[start + k].imag()));
    }
    harness.run(paramsOf(start / n), i, q, left, right);
    for (std::size_t k = 0; k < n; ++k) out.emplace_back(left[k], right[k]);
  }
  return out;
}

Signal receive(const Signal& capture, const ReceiveParams& p) {
  return receive(capture, [&](std::size_t) { return p; });
}

// A complex tone of `amplitude` at hz plus complex white noise of `rms`.
Signal toneInNoise(double amplitude, double hz, double rms, std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, rms / std::sqrt(2.0));
  Signal s(length);
  for (std::size_t k = 0; k < length; ++k) {
    s[k] = std::polar(amplitude, kTwoPi * hz * k / kRate) + Complex(gauss(random), gauss(random));
  }
  return s;
}

// a + g b over a's length.
Signal mix(Signal a, const Signal& b, double g = 1.0) {
  for (std::size_t k = 0; k < a.size(); ++k) a[k] += g * b[k];
  return a;
}

double power(const Signal& s, std::size_t from = 0) {
  double sum = 0.0;
  for (std::size_t k = from; k < s.size(); ++k) sum += std::norm(s[k]);
  return sum / static_cast<double>(s.size() - from);
}

double dB(double ratio) { return 10.0 * std::log10(ratio); }

// Level of the complex tone at hz in s[from..to) (least squares).
Complex toneAt(const Signal& s, double hz, std::size_t from, std::size_t to) {
  Complex sum = 0.0;
  for (std::size_t k = from; k < to; ++k) sum += s[k] * std::polar(1.0, -kTwoPi * hz * k / kRate);
  return sum / static_cast<double>(to - from);
}

// Synthetic speech at kRate (linear interpolation from espeak-ng's 22050
// Hz), peak kLevel, as both sidebands around the tuning; empty when
// espeak-ng cannot be run.
Signal speech() {
  const auto dir = std::filesystem::temp_directory_path() / ("bw_noise_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string command = "espeak-ng -w '" + (dir / "s.wav").string() +
                              "' 'The quick brown fox jumps over the lazy dog, and then "
                              "the radio operator calls again.' 2>/dev/null";
  Signal out;
  if (std::system(command.c_str()) == 0) {
    const std::vector<double> x = readWav(dir / "s.wav").channel(0);
    double peak = 1.0;
    for (double v : x) peak = std::max(peak, std::abs(v));
    for (double t = 0.0; t + 1.0 < static_cast<double>(x.size()); t += 22050.0 / kRate) {
      const auto k = static_cast<std::size_t>(t);
      const double v = (x[k] + (t - k) * (x[k + 1] - x[k])) / peak * kLevel;
      out.push_back(std::polar(v, kTwoPi * kTuneHz * out.size() / kRate));
    }
  }
  std::filesystem::remove_all(dir);
  return out;
}

// Segmental SNR of x (delay samples late) against the clean reference, in
// 20 ms frames of active speech (energy above 1/1000 of the mean frame's),
// each clipped to -10..35 dB.
double segmentalSnr(const Signal& reference, const Signal& x, std::size_t delay) {
  const std::size_t frame = kRate / 50;
  const double active = 1e-3 * power(reference) * frame;
  double sum = 0.0, count = 0.0;
  for (std::size_t start = 0; start + frame + delay <= x.size(); start += frame) {
    double e = 0.0, err = 0.0;
    for (std::size_t k = start; k < start + frame; ++k) {
      e += std::norm(reference[k]);
      err += std::norm(reference[k] - x[k + delay]);
    }
    if (e > active) {
      sum += std::clamp(dB(e / std::max(err, 1e-9)), -10.0, 35.0);
      ++count;
    }
  }
  return sum / count;
}

// Each row: a figure of the output with the tools on, less the same figure
// of a baseline input's output with them off, within bounds (dB).
TEST(NoiseTools, EachToolHoldsItsFigures) {
  const Signal voice = speech();
  if (voice.empty()) GTEST_SKIP() << "espeak-ng is not installed (scripts/setup installs it)";
  const std::size_t length = voice.size();

  // A tone at 20 dB SINAD in the passband; 100 impulses a second, 40 dB
  // above its peak, at random phases and jittered times, each 10 us (under
  // a sample) with the ringing of the front end's anti-alias filter a
  // sample before and two after.
  const Signal clean =
      toneInNoise(kLevel, kTuneHz + 1000.0, kLevel * std::sqrt(0.01 * kRate / 2400.0), length, 7);
  Signal impulsive = clean;
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (std::size_t k = 0; k + kRate / 100 < length; k += kRate / 100) {
    const Complex peak = std::polar(100.0 * kLevel, kTwoPi * unit(random));
    auto at = k + static_cast<std::size_t>(unit(random) * kRate / 200);
    for (double ring : {0.08, 1.0, 0.3, 0.08}) impulsive[at++] += ring * peak;
  }
  // SINAD from 250 ms: all power over what is left without the tone.
  const auto sinad = [](const Signal& out, std::uint32_t) {
    const double all = power(out, kRate / 4);
    return dB(all / (all - std::norm(toneAt(out, 1000.0, kRate / 4, out.size()))));
  };

  // A steady carrier off the bin grid over a faint noise floor, alone (in
  // CW) or with speech 10 dB below it; its level from 200 to 400 ms.
  const double carrierHz = 1503.7;
  const Signal carrier = toneInNoise(kLevel, kTuneHz + carrierHz, kLevel * 1e-3, length, 11);
  const Signal carrierAndVoice = mix(carrier, voice, 0.3);
  const auto carrierLevel = [&](const Signal& out, std::uint32_t) {
    return dB(std::norm(toneAt(out, carrierHz, kRate / 5, 2 * kRate / 5)));
  };

  // Speech in white noise at 0 and 30 dB in the passband (the chain is
  // linear with these settings: the noise is scaled by its level there).
  const Signal reference = receive(voice, toolParams(0));
  const Signal noise = toneInNoise(0.0, 0.0, kLevel, length, 5);
  const double noiseScale = std::sqrt(power(reference) / power(receive(noise, toolParams(0))));
  const Signal noisy0 = mix(voice, noise, noiseScale);
  const Signal noisy30 = mix(voice, noise, noiseScale * std::pow(10.0, -30.0 / 20.0));
  const auto segmental = [&](const Signal& out, std::uint32_t tools) {
    const std::size_t frame = std::size_t{1} << reductionFrameOrder(kRate);
    return segmentalSnr(reference, out, tools & SDR_TOOL_NOISE_REDUCTION ? frame : 0);
  };

  struct Case {
    const char* name;
    const Signal& input;
    std::uint32_t tools;
    std::uint8_t mode;
    const Signal& baseline;  // through the chain with no tools
    std::function<double(const Signal&, std::uint32_t)> measure;
    double lowDb, highDb;    // of the difference
  };
  const std::uint32_t blanker = SDR_TOOL_NOISE_BLANKER, notch = SDR_TOOL_NOTCH;
  const std::uint8_t ssb = SDR_MODE_SIDEBAND;
  const Case cases[] = {
      {"blanker on a clean band: SINAD", clean, blanker, ssb, clean, sinad, -0.2, 0.2},
      {"blanker among impulses: SINAD", impulsive, blanker, ssb, clean, sinad, -2.0, 0.2},
      {"no blanker among impulses: SINAD", impulsive, 0, ssb, clean, sinad, -100.0, -10.0},
      {"notch: carrier over speech", carrierAndVoice, notch, ssb, carrierAndVoice,
       carrierLevel, -300.0, -40.0},
      {"notch in CW: carrier left", carrier, notch, SDR_MODE_CW, carrier, carrierLevel, -0.1, 0.1},
      {"notch: speech level", voice, notch, ssb, voice,
       [](const Signal& out, std::uint32_t) { return dB(power(out)); }, -1.0, 1.0},
      {"noise reduction at 0 dB SNR: segmental SNR", noisy0, SDR_TOOL_NOISE_REDUCTION, ssb,
       noisy0, segmental, 6.0, 100.0},
      {"noise reduction at 30 dB SNR: segmental SNR", noisy30, SDR_TOOL_NOISE_REDUCTION, ssb,
       noisy30, segmental, -1.0, 100.0},
  };
  for (const Case& c : cases) {
    const double base = c.measure(receive(c.baseline, toolParams(0, c.mode)), 0);
    const double with = c.measure(receive(c.input, toolParams(c.tools, c.mode)), c.tools);
    std::cout << c.name << ": " << base << " -> " << with << " dB\n";
    EXPECT_GE(with - base, c.lowDb) << c.name;
    EXPECT_LE(with - base, c.highDb) << c.name;
  }
}

// Switched off and on again, noise reduction starts as if it had never been
// on: nothing of the audio or noise it held then comes back.
TEST(NoiseTools, ReductionStartsAfreshWhenSwitchedOnAgain) {
  constexpr std::size_t n = std::size_t{1} << kOrder;  // a block's samples
  const Signal noisy = toneInNoise(kLevel, kTuneHz + 1000.0, kLevel, 40 * n, 9);
  // On for blocks 0..19 (or not), off until 29, on from block 30.
  const auto switched = [&](bool onAtFirst) {
    const Signal out = receive(noisy, [&](std::size_t block) {
      const bool on = block >= 30 || (onAtFirst && block < 20);
      return toolParams(on ? SDR_TOOL_NOISE_REDUCTION : 0);
    });
    return Signal(out.begin() + 30 * n, out.end());
  };
  EXPECT_EQ(switched(true), switched(false));
}

}  // namespace
}  // namespace bw::test::noise_tools
