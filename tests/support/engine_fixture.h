// A fresh engine for each test, with helpers to configure it, send parameter
// blocks and run blocks of PCM through the chain.
#pragma once

#include <gtest/gtest.h>

#include <atomic>

#include <complex>
#include <cstdint>
#include <vector>

#include "core/engine_state.h"
#include "dsp/receive_params.h"

namespace bw::test {

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // configureFormat with the console's ring of 4; fails the test on refusal.
  void configure(int order = 11, int sampleRate = 48000, int bits = 16);
  void send(const ReceiveParams& p);
  // Runs one block; input and the result are bufferBytes of PCM.
  std::vector<std::uint8_t> runBlock(const std::vector<std::uint8_t>& input);

  EngineState& e() { return engine(); }
};

// Interleaved stereo PCM of `frames` frames at `bits` bits from I and Q
// sample values (already at the width's integer scale; 8-bit values are
// signed and stored as unsigned bytes centred on 128).
std::vector<std::uint8_t> packFrames(const std::vector<std::int32_t>& i,
                                     const std::vector<std::int32_t>& q,
                                     int bits);
// The reverse: left and right sample values of a PCM buffer.
void unpackFrames(const std::vector<std::uint8_t>& pcm, int bits,
                  std::vector<std::int32_t>& left,
                  std::vector<std::int32_t>& right);

// A complex tone A·exp(j2π f n / rate) for frames starting at sample `start`,
// rounded to integers: I = A cos, Q = A sin.
void complexTone(double amplitude, double frequencyHz, double sampleRate,
                 std::int64_t start, int frames, std::vector<std::int32_t>& i,
                 std::vector<std::int32_t>& q);

// Magnitude of the DFT of x at frequency f (Hz), normalised so that a real
// sinusoid of amplitude A measures A (direct Goertzel-style sum).
double toneAmplitude(const std::vector<std::int32_t>& x, double frequencyHz,
                     double sampleRate);

// The numbers of the simulated capture and playback devices in the engine's
// lists, as sdrSetGlobal takes them (0: not listed); the engine attached.
struct SimulatedDevices {
  int in = 0, out = 0;
};
SimulatedDevices findSimulatedDevices();

// A block hook for sdrStart that counts the blocks the engine processes, on
// the processing thread; tests read the count to see streaming go on or stop.
inline std::atomic<long> g_blocks{0};
inline void countBlock() { g_blocks.fetch_add(1, std::memory_order_relaxed); }

}  // namespace bw::test
