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
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "dsp/receive_chain.h"
#include "support/chain_harness.h"
#include "support/wav_file.h"

namespace bw::test {
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

// The capture through a fresh chain; the complex output (left + j right).
Signal receive(const Signal& capture, const ReceiveParams& p) {
  ChainHarness harness({kOrder, kRate, 24});
  const std::size_t n = static_cast<std::size_t>(harness.chain().blockSamples());
  Signal out;
  std::vector<std::int32_t> i(n), q(n), left, right;
  for (std::size_t start = 0; start + n <= capture.size(); start += n) {
    for (std::size_t k = 0; k < n; ++k) {
      i[k] = static_cast<std::int32_t>(std::lround(capture[start + k].real()));
      q[k] = static_cast<std::int32_t>(std::lround(capture[start + k].imag()));
    }
    harness.run(p, i, q, left, right);
    for (std::size_t k = 0; k < n; ++k) out.emplace_back(left[k], right[k]);
  }
  return out;
}

Signal tone(double amplitude, double hz, std::size_t length) {
  Signal s(length);
  for (std::size_t k = 0; k < length; ++k) s[k] = std::polar(amplitude, kTwoPi * hz * k / kRate);
  return s;
}

Signal whiteNoise(double rms, std::size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> gauss(0.0, rms / std::sqrt(2.0));
  Signal s(length);
  for (Complex& v : s) v = {gauss(random), gauss(random)};
  return s;
}

Signal operator+(Signal a, const Signal& b) {
  for (std::size_t k = 0; k < a.size(); ++k) a[k] += b[k] * 1.0;
  return a;
}
Signal scaled(Signal a, double g) {
  for (Complex& v : a) v *= g;
  return a;
}

double power(const Signal& s, std::size_t from = 0, std::size_t to = SIZE_MAX) {
  to = std::min(to, s.size());
  double sum = 0.0;
  for (std::size_t k = from; k < to; ++k) sum += std::norm(s[k]);
  return sum / static_cast<double>(to - from);
}

double dB(double ratio) { return 10.0 * std::log10(ratio); }

// Level of the complex tone at hz in s[from..to) (least squares).
Complex toneAt(const Signal& s, double hz, std::size_t from, std::size_t to) {
  Complex sum = 0.0;
  for (std::size_t k = from; k < to; ++k) sum += s[k] * std::polar(1.0, -kTwoPi * hz * k / kRate);
  return sum / static_cast<double>(to - from);
}

// SINAD of the 1000 Hz output tone over s[from..): all power over what is
// left when the tone is taken out.
double sinad(const Signal& s, std::size_t from) {
  const Complex a = toneAt(s, 1000.0, from, s.size());
  double rest = 0.0;
  for (std::size_t k = from; k < s.size(); ++k) {
    rest += std::norm(s[k] - a * std::polar(1.0, kTwoPi * 1000.0 * k / kRate));
  }
  return dB(power(s, from) * static_cast<double>(s.size() - from) / rest);
}

// Synthetic speech at kRate (linear interpolation from espeak-ng's 22050
// Hz), peak kLevel, as both sidebands around the tuning; empty when
// espeak-ng cannot be run.
Signal speech() {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("bw_noise_tools_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::filesystem::path wav = dir / "speech.wav";
  const std::string command = "espeak-ng -w '" + wav.string() +
                              "' 'The quick brown fox jumps over the lazy dog, "
                              "and then the radio operator calls again.' 2>/dev/null";
  Signal out;
  if (std::system(command.c_str()) == 0) {
    const Recording r = readWav(wav);
    const std::vector<double> x = r.channel(0);
    const double step = static_cast<double>(r.rate) / kRate;
    double peak = 1.0;
    for (double v : x) peak = std::max(peak, std::abs(v));
    for (double t = 0.0; t + 1.0 < static_cast<double>(x.size()); t += step) {
      const auto k = static_cast<std::size_t>(t);
      const double v = x[k] + (t - k) * (x[k + 1] - x[k]);
      out.emplace_back(v / peak * kLevel * std::cos(kTwoPi * kTuneHz * out.size() / kRate),
                       v / peak * kLevel * std::sin(kTwoPi * kTuneHz * out.size() / kRate));
    }
  }
  std::filesystem::remove_all(dir);
  return out;
}

TEST(NoiseTools, BlankerKeepsAToneSinadAmongImpulses) {
  // 100 impulses a second, 40 dB above the tone's peak, at random phases
  // and jittered times; each 10 us (under a sample), with the ringing of
  // the front end's anti-alias filter a sample before and two after. The
  // tone at 20 dB SINAD in the passband.
  const std::size_t length = kRate * 3 / 2;
  const Signal clean = tone(kLevel, kTuneHz + 1000.0, length) +
                       whiteNoise(kLevel * std::sqrt(0.01 * kRate / 2400.0), length, 7);
  Signal impulsive = clean;
  std::mt19937 random(3);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double shape[] = {0.08, 1.0, 0.3, 0.08};
  for (std::size_t k = 0; k + kRate / 100 < length; k += kRate / 100) {
    const Complex peak = std::polar(100.0 * kLevel, kTwoPi * unit(random));
    const auto at = k + static_cast<std::size_t>(unit(random) * kRate / 200);
    for (std::size_t j = 0; j < std::size(shape); ++j) impulsive[at + j] += shape[j] * peak;
  }
  const std::size_t from = kRate / 4;
  const double reference = sinad(receive(clean, toolParams(0)), from);
  struct Case {
    const char* name;
    const Signal& input;
    std::uint32_t tools;
    double minDb, maxDb;  // SINAD against the clean band's, no blanker
  };
  const Case cases[] = {
      {"clean band, blanker on", clean, SDR_TOOL_NOISE_BLANKER, -0.2, 0.2},
      {"impulses, blanker on", impulsive, SDR_TOOL_NOISE_BLANKER, -2.0, 0.2},
      {"impulses, blanker off", impulsive, 0, -100.0, -10.0},
  };
  for (const Case& c : cases) {
    const double change = sinad(receive(c.input, toolParams(c.tools)), from) - reference;
    std::cout << c.name << ": SINAD " << reference + change << " dB (clean " << reference
              << " dB)\n";
    EXPECT_GE(change, c.minDb) << c.name;
    EXPECT_LE(change, c.maxDb) << c.name;
  }
}

TEST(NoiseTools, NotchTakesACarrierOutAndLeavesSpeech) {
  const Signal voice = speech();
  if (voice.empty()) GTEST_SKIP() << "espeak-ng is not installed (scripts/setup installs it)";
  const std::size_t length = voice.size();
  const double carrierHz = 1503.7;  // off the bin grid
  const Signal carrier = tone(kLevel, kTuneHz + carrierHz, length);
  const std::size_t settled = kRate / 5;  // 200 ms
  struct Case {
    const char* name;
    std::uint8_t mode;
    const Signal& speech;
    double fromDb, toDb;  // the carrier after 200 ms, against the notch off
  };
  const Signal silence(length);
  const Case cases[] = {
      {"carrier alone", SDR_MODE_SIDEBAND, silence, -300.0, -40.0},
      {"carrier over speech", SDR_MODE_SIDEBAND, voice, -300.0, -40.0},
      {"carrier in CW: left alone", SDR_MODE_CW, silence, -0.1, 0.1},
  };
  const Signal noise = whiteNoise(kLevel * 1e-3, length, 11);
  for (const Case& c : cases) {
    const Signal input = carrier + scaled(c.speech, 0.3) + noise;
    const Signal off = receive(input, toolParams(0, c.mode));
    const Signal on = receive(input, toolParams(SDR_TOOL_NOTCH, c.mode));
    const std::size_t to = settled + kRate / 5;
    const double depth = dB(std::norm(toneAt(on, carrierHz, settled, to)) /
                            std::norm(toneAt(off, carrierHz, settled, to)));
    std::cout << c.name << ": carrier " << depth << " dB from 200 to 400 ms\n";
    EXPECT_GE(depth, c.fromDb) << c.name;
    EXPECT_LE(depth, c.toDb) << c.name;
  }
  const double change = dB(power(receive(voice, toolParams(SDR_TOOL_NOTCH))) /
                           power(receive(voice, toolParams(0))));
  std::cout << "speech alone: level " << change << " dB\n";
  EXPECT_LE(std::abs(change), 1.0);
}

// Segmental SNR of x against the clean reference, in 20 ms frames of
// active speech (within 40 dB of the loudest), each clipped to -10..35 dB.
double segmentalSnr(const Signal& reference, const Signal& x, std::size_t delay) {
  const std::size_t frame = kRate / 50;
  std::vector<double> energy, snr;
  for (std::size_t start = 0; start + frame + delay <= x.size(); start += frame) {
    double e = 0.0, err = 0.0;
    for (std::size_t k = start; k < start + frame; ++k) {
      e += std::norm(reference[k]);
      err += std::norm(reference[k] - x[k + delay]);
    }
    energy.push_back(e);
    snr.push_back(std::clamp(dB(e / std::max(err, 1e-9)), -10.0, 35.0));
  }
  const double loudest = *std::max_element(energy.begin(), energy.end());
  double sum = 0.0;
  int count = 0;
  for (std::size_t f = 0; f < snr.size(); ++f) {
    if (energy[f] > loudest * 1e-4) {
      sum += snr[f];
      ++count;
    }
  }
  return sum / count;
}

TEST(NoiseTools, NoiseReductionGainsSegmentalSnrOnSpeech) {
  const Signal voice = speech();
  if (voice.empty()) GTEST_SKIP() << "espeak-ng is not installed (scripts/setup installs it)";
  const std::size_t length = voice.size();
  const Signal reference = receive(voice, toolParams(0));
  const Signal noise = whiteNoise(kLevel, length, 5);
  // The chain is linear with these settings: scale the noise by its level
  // in the passband.
  const double unit = power(receive(noise, toolParams(0)));
  const std::size_t delay = static_cast<std::size_t>(1) << reductionFrameOrder(kRate);
  struct Case {
    double snrDb;
    double minGainDb;  // segmental SNR with the tool over without
  };
  for (const Case& c : {Case{0.0, 3.0}, Case{30.0, -1.0}}) {
    const Signal input =
        voice + scaled(noise, std::sqrt(power(reference) / unit * std::pow(10.0, -c.snrDb / 10)));
    const double before = segmentalSnr(reference, receive(input, toolParams(0)), 0);
    const double after =
        segmentalSnr(reference, receive(input, toolParams(SDR_TOOL_NOISE_REDUCTION)), delay);
    std::cout << c.snrDb << " dB SNR: segmental SNR " << before << " -> " << after << " dB\n";
    EXPECT_GE(after - before, c.minGainDb) << c.snrDb << " dB SNR";
  }
}

}  // namespace
}  // namespace bw::test
