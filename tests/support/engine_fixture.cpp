#include "support/engine_fixture.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "audio/simulated/simulated_backend.h"
#include "brackwell/brackwell.h"
#include "core/configuration.h"
#include "core/lifecycle.h"
#include "core/receiver.h"

namespace bw::test {

void EngineTest::SetUp() { engineAttach(); }
void EngineTest::TearDown() { engineDetach(); }

void EngineTest::configure(int order, int sampleRate, int bits) {
  ASSERT_EQ(configureFormat(4, order, sampleRate, bits), SDR_OK);
}

void EngineTest::send(const ReceiveParams& p) {
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  encodeParams(p, block);
  ASSERT_EQ(setNewParam(block), SDR_OK);
}

std::vector<std::uint8_t> EngineTest::runBlock(
    const std::vector<std::uint8_t>& input) {
  EXPECT_EQ(input.size(), static_cast<std::size_t>(e().bufferBytes));
  std::vector<std::uint8_t> output(input.size());
  processBlock(input.data(), output.data());
  return output;
}

std::vector<std::uint8_t> packFrames(const std::vector<std::int32_t>& i,
                                     const std::vector<std::int32_t>& q,
                                     int bits) {
  const int bytes = bits / 8;
  std::vector<std::uint8_t> pcm(i.size() * 2 * bytes);
  auto put = [&](std::size_t at, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(bits == 8 ? v + 128 : v);
    for (int b = 0; b < bytes; ++b) pcm[at + b] = static_cast<std::uint8_t>(u >> (8 * b));
  };
  for (std::size_t n = 0; n < i.size(); ++n) {
    put(n * 2 * bytes, i[n]);
    put(n * 2 * bytes + bytes, q[n]);
  }
  return pcm;
}

void unpackFrames(const std::vector<std::uint8_t>& pcm, int bits,
                  std::vector<std::int32_t>& left,
                  std::vector<std::int32_t>& right) {
  const int bytes = bits / 8;
  const std::size_t frames = pcm.size() / (2 * bytes);
  left.resize(frames);
  right.resize(frames);
  auto get = [&](std::size_t at) {
    std::uint32_t u = 0;
    for (int b = 0; b < bytes; ++b) u |= std::uint32_t{pcm[at + b]} << (8 * b);
    if (bits == 8) return static_cast<std::int32_t>(u) - 128;
    const int shift = 32 - bits;
    return static_cast<std::int32_t>(u << shift) >> shift;
  };
  for (std::size_t n = 0; n < frames; ++n) {
    left[n] = get(n * 2 * bytes);
    right[n] = get(n * 2 * bytes + bytes);
  }
}

void complexTone(double amplitude, double frequencyHz, double sampleRate,
                 std::int64_t start, int frames, std::vector<std::int32_t>& i,
                 std::vector<std::int32_t>& q) {
  i.resize(frames);
  q.resize(frames);
  for (int n = 0; n < frames; ++n) {
    const double w = 2.0 * std::numbers::pi * frequencyHz * double(start + n) / sampleRate;
    i[n] = static_cast<std::int32_t>(std::lround(amplitude * std::cos(w)));
    q[n] = static_cast<std::int32_t>(std::lround(amplitude * std::sin(w)));
  }
}

double toneAmplitude(const std::vector<std::int32_t>& x, double frequencyHz,
                     double sampleRate) {
  double re = 0.0, im = 0.0;
  for (std::size_t n = 0; n < x.size(); ++n) {
    const double w = 2.0 * std::numbers::pi * frequencyHz * double(n) / sampleRate;
    re += x[n] * std::cos(w);
    im -= x[n] * std::sin(w);
  }
  return 2.0 * std::hypot(re, im) / double(x.size());
}

namespace {
int numberOf(int count, const char* (*name)(int32_t), const char* want) {
  for (int n = 2; n <= count; ++n) {
    if (std::strcmp(name(n), want) == 0) return n;
  }
  return 0;
}
}  // namespace

SimulatedDevices findSimulatedDevices() {
  return {numberOf(sdrGetNumInDevice(), sdrGetNameInDevice, audio::kSimulatedCaptureName),
          numberOf(sdrGetNumOutDevice(), sdrGetNameOutDevice, audio::kSimulatedPlaybackName)};
}

}  // namespace bw::test
