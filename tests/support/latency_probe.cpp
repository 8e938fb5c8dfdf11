#include "support/latency_probe.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <thread>

#include "brackwell/brackwell.h"
#include "brackwell/param_block.h"

namespace bw::test {

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 4;  // mix: iqband's pair, then speaker's

void writeBursts(const LatencyRun& run, const std::string& path) {
  const auto burst = std::size_t(run.burstMs * kRate / 1000);
  std::vector<std::int16_t> iq;
  auto silence = [&](double ms) { iq.resize(iq.size() + 2 * std::size_t(ms * kRate / 1000)); };
  silence(200);
  for (int k = 0; k < run.repeats; ++k) {
    for (std::size_t n = 0; n < burst; ++n) {
      const double phase = 2 * std::numbers::pi * run.toneHz * double(n) / kRate;
      iq.push_back(std::int16_t(std::lrint(8000 * std::cos(phase))));
      iq.push_back(std::int16_t(std::lrint(8000 * std::sin(phase))));
    }
    // A few milliseconds more each time, so that the bursts fall at every
    // phase of the receiver's blocks.
    silence(run.spacingMs - run.burstMs + 3.1 * k);
  }
  silence(run.spacingMs);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(iq.data()), std::streamsize(iq.size() * 2));
}

// The interleaved samples of a 16-bit WAV file parecord wrote: everything
// after the data chunk's header (a recording ended by a signal may not have
// its sizes filled in).
std::vector<std::int16_t> wavSamples(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<std::int16_t> x;
  const std::size_t data = bytes.find("data");
  if (data == std::string::npos) return x;
  for (std::size_t at = data + 8; at + 2 <= bytes.size(); at += 2) {
    x.push_back(std::int16_t(std::uint8_t(bytes[at]) | (std::uint8_t(bytes[at + 1]) << 8)));
  }
  return x;
}

// Frames at which a burst starts in `channel`: the first sample above half
// the channel's peak after at least `quiet` frames without one.
std::vector<std::size_t> onsets(const std::vector<std::int16_t>& x, int channel,
                                std::size_t quiet) {
  int peak = 0;
  for (std::size_t k = std::size_t(channel); k < x.size(); k += kChannels) {
    peak = std::max(peak, std::abs(int(x[k])));
  }
  std::vector<std::size_t> found;
  if (peak < 100) return found;
  std::size_t lastLoud = 0;
  bool any = false;
  for (std::size_t frame = 0; frame * kChannels + std::size_t(channel) < x.size(); ++frame) {
    if (2 * std::abs(int(x[frame * kChannels + std::size_t(channel)])) <= peak) continue;
    if (!any || frame - lastLoud > quiet) found.push_back(frame);
    lastLoud = frame;
    any = true;
  }
  return found;
}

std::vector<double> sorted(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v;
}

}  // namespace

double LatencyFigures::median() const {
  if (ms.empty()) return NAN;
  const std::vector<double> s = sorted(ms);
  return s.size() % 2 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
}

double LatencyFigures::p95() const {
  if (ms.empty()) return NAN;
  const std::vector<double> s = sorted(ms);
  return s[std::size_t(std::ceil(0.95 * double(s.size()))) - 1];  // nearest rank
}

double LatencyFigures::max() const {
  return ms.empty() ? NAN : *std::max_element(ms.begin(), ms.end());
}

int startFixedGainReceiver(int in, int out, int order, std::uint32_t extensions) {
  SdrReceiveParams p = sdrConsoleParams();
  p.flags &= ~SDR_FLAG_AGC_ON;
  p.gain = 2.0;
  p.extensions = extensions;
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  sdrEncodeParams(&p, block);
  int status = sdrSetGlobal(in, out, 4, order, kRate, 16);
  if (status == SDR_OK) status = sdrSetNewParam(block);
  return status == SDR_OK ? sdrStart(nullptr) : status;
}

LatencyFigures measureLatency(const PrivatePulse& server, const LatencyRun& run) {
  using namespace std::chrono_literals;
  LatencyFigures f;
  const std::string bursts = server.folder() + "/bursts.raw";
  const std::string heard = server.folder() + "/mix.wav";
  writeBursts(run, bursts);
  std::filesystem::remove(heard);
  const pid_t recorder = server.spawn(
      {"parecord", "--device=mix.monitor", "--latency-msec=10", "--rate=48000",
       "--channels=4", "--channel-map=front-left,front-right,rear-left,rear-right",
       "--format=s16le", "--file-format=wav", heard});
  // Played only once the recording runs and the receiver has settled on
  // the latency the recorder's arrival left it (a new stream on the server
  // can hold the others up once).
  bool recording = false;
  for (int waited = 0; waited < 10000 && !recording; waited += 10) {
    std::error_code ec;
    recording = std::filesystem::file_size(heard, ec) > 4096 && !ec;
    std::this_thread::sleep_for(10ms);
  }
  std::this_thread::sleep_for(1500ms);
  const int played =
      recording ? server.run({"paplay", "--raw", "--device=iqband", "--rate=48000",
                              "--channels=2", "--format=s16le", bursts},
                             int(run.repeats * run.spacingMs) + 10000)
                : -1;
  std::this_thread::sleep_for(std::chrono::milliseconds(int(run.spacingMs) + 300));
  PrivatePulse::finish(recorder, true);
  if (!recording || played != 0) {
    f.error = !recording ? "mix's monitor could not be recorded" : "paplay failed";
    f.missed = run.repeats;
    return f;
  }

  const std::vector<std::int16_t> x = wavSamples(heard);
  const auto quiet = std::size_t((run.spacingMs - run.burstMs) * kRate / 2000);
  const std::vector<std::size_t> in = onsets(x, 0, quiet);
  const std::vector<std::size_t> out = onsets(x, 2, quiet);
  for (std::size_t k = 0; k < in.size(); ++k) {
    const std::size_t next = k + 1 < in.size() ? in[k + 1] : SIZE_MAX;
    const auto o = std::lower_bound(out.begin(), out.end(), in[k]);
    if (o != out.end() && *o < next) f.ms.push_back(1000.0 * double(*o - in[k]) / kRate);
  }
  f.missed = run.repeats - int(f.ms.size());
  if (in.empty()) f.error = "no burst reached iqband";
  return f;
}

}  // namespace bw::test
