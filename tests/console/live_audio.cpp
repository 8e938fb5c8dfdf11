#include "live_audio.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/wav_file.h"

namespace lanternfly::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The left channel of a 16-bit stereo WAV file, to its end whatever the
// header's size says (a recorder cut short may leave it unset, which
// libsndfile would not read).
std::vector<double> readLeft(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<double> left;
  for (std::size_t at = 12; at + 8 <= all.size();) {
    std::uint32_t size = 0;
    std::memcpy(&size, &all[at + 4], 4);
    if (std::memcmp(&all[at], "data", 4) == 0) {
      for (std::size_t p = at + 8; p + 4 <= all.size(); p += 4) {
        std::int16_t v = 0;
        std::memcpy(&v, &all[p], 2);
        left.push_back(v);
      }
      break;
    }
    at += 8 + size;
  }
  return left;
}

// Power at `hz` of a Hann-windowed second from `from` (a direct DFT term).
double powerAt(const std::vector<double>& x, std::size_t from, double hz) {
  double re = 0, im = 0;
  for (std::size_t i = 0; i < kLiveRate; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * kPi * i / (kLiveRate - 1));
    re += w * x[from + i] * std::cos(2 * kPi * hz * i / kLiveRate);
    im -= w * x[from + i] * std::sin(2 * kPi * hz * i / kLiveRate);
  }
  return re * re + im * im;
}

}  // namespace

void writeIqTones(const std::string& path, std::initializer_list<double> hz, int seconds) {
  bw::test::Frames iq;
  for (int n = 0; n < seconds * kLiveRate; ++n) {
    double i = 0, q = 0;
    for (const double f : hz) {
      const double phase = 2 * kPi * f * n / kLiveRate;
      i += std::cos(phase);
      q += std::sin(phase);
    }
    iq.push_back(static_cast<std::int32_t>(std::lround(8000 * i)));
    iq.push_back(static_cast<std::int32_t>(std::lround(8000 * q)));
  }
  bw::test::writeWav(path, iq, kLiveRate, bw::test::Storage::Pcm16);
}

std::vector<double> playAndRecord(const bw::test::PrivatePulse& pulse, const std::string& tone) {
  const std::string heard = pulse.folder() + "/heard.wav";
  const pid_t recorder =
      pulse.spawn({"parecord", "--device=speaker.monitor", "--rate=48000", "--channels=2",
                   "--format=s16le", "--file-format=wav", heard});
  const int played = pulse.run({"paplay", "--device=iqband", tone}, 20000);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  bw::test::PrivatePulse::finish(recorder, true);
  return played == 0 ? readLeft(heard) : std::vector<double>{};
}

ToneContrast contrastInLoudestSecond(const std::vector<double>& left, double wanted,
                                     double unwanted) {
  std::size_t best = 0;
  double bestEnergy = -1;
  for (std::size_t from = 0; from + kLiveRate <= left.size(); from += kLiveRate / 4) {
    double e = 0;
    for (std::size_t i = from; i < from + kLiveRate; ++i) e += left[i] * left[i];
    if (e > bestEnergy) bestEnergy = e, best = from;
  }
  const ToneContrast c{std::sqrt(bestEnergy / kLiveRate),
                       10 * std::log10(powerAt(left, best, wanted) /
                                       (powerAt(left, best, unwanted) + 1e-9))};
  std::printf("audio rms %.0f, %.0f Hz over %.0f Hz: %.1f dB\n", c.rms, wanted, unwanted, c.db);
  return c;
}

}  // namespace lanternfly::test
