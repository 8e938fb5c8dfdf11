// The receive chain end to end at the console's configuration (48000 Hz,
// N = 2048, M = 4096, 16-bit PCM), built directly: tones land on known bins,
// sidebands vanish, the spectrum of a bin-exact tone is A·N.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "core/engine_state.h"
#include "dsp/receive_chain.h"
#include "support/chain_harness.h"
#include "support/engine_fixture.h"

namespace bw::test::pipeline {
namespace {

constexpr double kRate = 48000.0;
constexpr int kN = 2048;
constexpr double kBinWidth = kRate / (2 * kN);  // 11.71875 Hz

class PipelineTest : public ::testing::Test {
 protected:
  void configure(int order) { ASSERT_TRUE(chain.configure({order, 48000, 16})); }
  void send(const ReceiveParams& p) { params = p; }
  std::vector<std::uint8_t> runBlock(const std::vector<std::uint8_t>& input) {
    return harness.process(params, input);
  }
  std::vector<std::uint8_t> silence() {
    return std::vector<std::uint8_t>(chain.bufferBytes(), 0);
  }
  const double* spectrum() const { return harness.spectrum().data(); }

  ChainHarness harness{{11, 48000, 16}};  // a snapshot of M = 2 kN values
  ReceiveChain& chain = harness.chain();
  ReceiveParams params;

  // Streams `blocks` consecutive blocks of a continuous complex tone and
  // returns the last output block's two channels.
  void streamTone(double amplitude, double frequencyHz, int blocks,
                  std::vector<std::int32_t>& left,
                  std::vector<std::int32_t>& right) {
    std::vector<std::int32_t> i, q;
    for (int b = 0; b < blocks; ++b) {
      complexTone(amplitude, frequencyHz, kRate, std::int64_t{b} * kN, kN, i, q);
      harness.run(params, i, q, left, right);
    }
  }

  static double peak(const std::vector<std::int32_t>& x) {
    std::int32_t m = 0;
    for (auto v : x) m = std::max(m, std::abs(v));
    return m;
  }
};

// Where a tone comes out of the console's receiver: at its tuned frequency
// (the AGC brings the envelope to 16384, and nothing is left where it went
// in), or, in a removed sideband, not at all.
TEST_F(PipelineTest, TonesComeOutWhereTuningAndSidebandPutThem) {
  struct Case {
    const char* what;
    std::uint32_t set, clear;  // flags changed from the console's
    std::int32_t offsetHz;
    double toneHz;
    double heardHz;  // where it plays; 0: silence
    double leakHz;   // where nothing may stay; 0: no check
    double quietPeak;
  };
  const Case cases[] = {
      // 1000 Hz: 85.33 bins, rounded 85, raised to 86; 128 - 86 = bin 42.
      {"tuned", 0, 0, 1000, 128 * kBinWidth, 42 * kBinWidth, 128 * kBinWidth, 0},
      {"untuned", 0, 0, 0, 1500.0, 1500.0, 492.1875, 0},
      // The real part of a tone at -1500 Hz is a 1500 Hz audio tone.
      {"lower sideband", SDR_FLAG_LOWER_SIDEBAND, SDR_FLAG_UPPER_SIDEBAND, 0, -1500.0, 1500.0, 0, 0},
      // Only the filter's stop-band leakage remains; the squelch mutes it.
      {"removed sideband", 0, 0, 0, -1500.0, 0, 0, 2.0},
      {"removed sideband, tuned", 0, 0, 1000, -1500.0, 0, 0, 2.0},
      // Silence from the sidebands alone.
      {"both sidebands", SDR_FLAG_LOWER_SIDEBAND, SDR_FLAG_SQUELCH_ON, 0, 1500.0, 0, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ReceiveParams p = consoleParams();
    p.flags = (p.flags & ~c.clear) | c.set;
    p.tuneOffsetHz = c.offsetHz;
    send(p);
    std::vector<std::int32_t> left, right;
    streamTone(8000.0, c.toneHz, 14, left, right);
    EXPECT_EQ(left, right);  // MonoOutput
    if (c.heardHz == 0) {
      EXPECT_LE(peak(left), c.quietPeak);
      continue;
    }
    const double wanted = toneAmplitude(left, c.heardHz, kRate);
    EXPECT_NEAR(wanted, 16384.0, 16384.0 * 0.02);
    if (c.leakHz > 0) {
      EXPECT_LT(toneAmplitude(left, c.leakHz, kRate), wanted * 1e-3);
    }
  }
}

// What agcHistoryBlocks says is what a fresh chain does: with the AGC on,
// the blocks before its history is full play silence and the one that
// fills it plays; with the AGC off the first block plays.
TEST_F(PipelineTest, AgcHistoryBlocksCountsTheSilentStart) {
  for (int requested : {10, 3, 1, 0, 11, -1}) {
    for (bool agc : {true, false}) {
      ReceiveParams p = consoleParams();
      p.agcBlocks = requested;
      p.gain = 1.0;
      if (!agc) p.flags &= ~SDR_FLAG_AGC_ON;
      const int history = agcHistoryBlocks(p);
      // The AGC holds 1..10 blocks; other counts hold one.
      const int held = requested >= 1 && requested <= 10 ? requested : 1;
      EXPECT_EQ(history, agc ? held : 0);
      ChainHarness fresh({11, 48000, 16});
      std::vector<std::int32_t> i, q, left, right;
      for (int b = 0; b < std::max(history, 1); ++b) {
        complexTone(8000.0, 1500.0, kRate, std::int64_t{b} * kN, kN, i, q);
        fresh.run(p, i, q, left, right);
        const bool last = b == std::max(history, 1) - 1;
        EXPECT_EQ(peak(left) > 100.0, last)
            << "hold " << requested << (agc ? " AGC" : " fixed") << " block " << b;
      }
    }
  }
}

TEST_F(PipelineTest, ZeroFlagsCopyTheCaptureBufferByteForByte) {
  ReceiveParams p = consoleParams();
  p.flags = 0;
  send(p);
  std::vector<std::uint8_t> input(chain.bufferBytes());
  std::iota(input.begin(), input.end(), 7);
  EXPECT_EQ(runBlock(input), input);
}

TEST_F(PipelineTest, StereoOutputCarriesTheImaginaryPartOnTheRight) {
  ReceiveParams p = consoleParams();
  p.flags &= ~SDR_FLAG_MONO_OUTPUT;
  send(p);
  std::vector<std::int32_t> left, right;
  streamTone(8000.0, 1500.0, 14, left, right);
  // The output is the analytic tone: right lags left by a quarter period.
  const double a = toneAmplitude(left, 1500.0, kRate);
  EXPECT_NEAR(toneAmplitude(right, 1500.0, kRate), a, a * 0.01);
  double cross = 0.0;
  for (int n = 0; n < kN; ++n) cross += double(left[n]) * right[n];
  EXPECT_LT(std::abs(cross) / (kN * a * a / 2.0), 0.02);  // in quadrature
  EXPECT_NE(left, right);
}

TEST_F(PipelineTest, SpectrumOfABinExactToneIsAmplitudeTimesN) {
  send(consoleParams());
  std::vector<std::int32_t> i, q;
  const int b = 100;
  complexTone(10000.0, b * kBinWidth * 2, kRate, 0, kN, i, q);  // period N/(2b)
  runBlock(packFrames(i, q, 16));
  const double* s = spectrum();
  // With N samples zero-extended to M, a tone on bin 2b of M lies exactly on
  // even bins: 2b holds A·N, the other even bins are empty.
  EXPECT_NEAR(s[2 * b], 10000.0 * kN, 10000.0 * kN * 1e-4);
  for (int k : {2 * b - 4, 2 * b - 2, 2 * b + 2, 2 * b + 4}) {
    EXPECT_LT(s[k], 10000.0 * kN * 1e-4) << "bin " << k;
  }
}

TEST_F(PipelineTest, MonoInputSpectrumIsSymmetric) {
  ReceiveParams p = consoleParams();
  p.flags |= SDR_FLAG_MONO_INPUT;
  send(p);
  std::vector<std::int32_t> i, q;
  complexTone(5000.0, 1234.5, kRate, 0, kN, i, q);
  runBlock(packFrames(i, q, 16));
  const double* s = spectrum();
  const int m = 2 * kN;
  // The snapshot holds bins 0..M-2, so bin 1's partner M-1 is never written.
  for (int k = 2; k < m - 1; ++k) {
    ASSERT_NEAR(s[k], s[m - k], 1e-6 * (s[k] + 1.0)) << "bin " << k;
  }
}

TEST_F(PipelineTest, SquelchMutesBlocksWithNothingAboveTwo) {
  ReceiveParams p = consoleParams();
  p.flags &= ~SDR_FLAG_AGC_ON;
  p.gain = 1.0;
  p.squelchLevel = 1e9;  // every counted value is quiet
  send(p);
  std::vector<std::int32_t> left, right;
  streamTone(8000.0, 1500.0, 3, left, right);
  EXPECT_EQ(peak(left), 0);

  p.squelchLevel = 0.0;  // every counted value is loud
  send(p);
  streamTone(8000.0, 1500.0, 3, left, right);
  EXPECT_GT(peak(left), 7000);
  streamTone(1.0, 1500.0, 3, left, right);  // envelope <= 2: muted anyway
  EXPECT_EQ(peak(left), 0);
}

TEST_F(PipelineTest, LargeGainSaturatesTheEnvelopeAndKeepsThePhase) {
  ReceiveParams p = consoleParams();
  p.flags = (p.flags & ~(SDR_FLAG_AGC_ON | SDR_FLAG_MONO_OUTPUT));
  p.gain = 1000.0;
  send(p);
  std::vector<std::int32_t> left, right;
  streamTone(8000.0, 1500.0, 3, left, right);
  for (int n = 0; n < kN; n += 97) {
    const double r = std::hypot(double(left[n]), double(right[n]));
    EXPECT_NEAR(r, 32767.0, 1.0) << n;
  }
  // Still a clean 1500 Hz tone: the phase went through untouched.
  EXPECT_NEAR(toneAmplitude(left, 1500.0, kRate), 32767.0, 32767.0 * 0.01);
}

TEST_F(PipelineTest, NegativeGainIsBoundedLikeAPositiveOne) {
  // A negative fixed gain or AGC ceiling turns the envelope negative; its
  // size must still be clipped, or the 16-bit samples wrap from full
  // positive to full negative.
  for (bool agc : {false, true}) {
    ReceiveParams p = consoleParams();
    p.flags = (p.flags & ~(SDR_FLAG_AGC_ON | SDR_FLAG_MONO_OUTPUT | SDR_FLAG_SQUELCH_ON)) |
              (agc ? SDR_FLAG_AGC_ON : 0);
    p.gain = -1000.0;
    send(p);
    std::vector<std::int32_t> left, right;
    streamTone(8000.0, 1500.0, 3, left, right);
    // A 1500 Hz tone of amplitude 32767 moves at most 6434 per sample.
    int jump = 0;
    for (int n = 1; n < kN; ++n) jump = std::max(jump, std::abs(left[n] - left[n - 1]));
    EXPECT_LE(jump, 6500) << "agc " << agc;
    EXPECT_NEAR(toneAmplitude(left, 1500.0, kRate), 32767.0, 32767.0 * 0.01) << "agc " << agc;
  }
}

// Values that would overflow or poison the chain: a block holding one is
// silence and the next good block plays as if it had not come; a huge value
// that cannot overflow plays. Spectrum and reading stay finite throughout.
TEST_F(PipelineTest, BlocksThatCannotBePlayedSilenceOnlyThemselves) {
  const double kHuge = std::numeric_limits<double>::max();
  const double kNan = std::nan(""), kInf = INFINITY;
  using P = ReceiveParams;
  struct Row {
    double P::*field;
    double value;
    std::uint32_t clear;  // flags taken off for the block
    bool plays;
  } rows[] = {
      {&P::iqPhaseCoef, kNan, 0, false},   {&P::iqGainCoef, kInf, 0, false},
      {&P::iqPhaseCoef, 1e308, 0, false},  {&P::iqGainCoef, -kHuge, 0, false},
      {&P::gain, kInf, SDR_FLAG_AGC_ON, false}, {&P::gain, kNan, SDR_FLAG_AGC_ON, false},
      {&P::gain, -kInf, 0, false},         {&P::outputGain, kInf, 0, false},
      {&P::gain, kHuge, SDR_FLAG_AGC_ON, true}, {&P::outputGain, kHuge, 0, true},
  };
  for (std::uint32_t early : {SDR_FLAG_BALANCE_EARLY, 0u}) {
    for (const Row& row : rows) {
      SCOPED_TRACE(testing::Message() << "early " << early << " row " << &row - rows);
      ReceiveParams p = consoleParams();
      p.flags = (p.flags & ~SDR_FLAG_BALANCE_EARLY) | early;
      send(p);
      std::vector<std::int32_t> left, right;
      streamTone(8000.0, 1500.0, 14, left, right);
      ReceiveParams bad = p;
      bad.*row.field = row.value;
      bad.flags &= ~row.clear;
      send(bad);
      streamTone(8000.0, 1500.0, 1, left, right);
      EXPECT_EQ(peak(left) > 0, row.plays);
      const double* s = spectrum();
      EXPECT_TRUE(std::all_of(s, s + 2 * kN, [](double v) { return std::isfinite(v); }));
      EXPECT_TRUE(std::isfinite(chain.reading()));
      send(p);
      streamTone(8000.0, 1500.0, 1, left, right);
      EXPECT_NEAR(toneAmplitude(left, 1500.0, kRate), 16384.0, 16384.0 * 0.02);
    }
  }
}

TEST_F(PipelineTest, FlushToggleClearsTailsAndPassThroughLeavesThem) {
  // A silent block after a tone plays the tone's overlap tail, unless its
  // toggle differs; a pass-through block in between leaves the tail alone.
  ReceiveParams p = consoleParams();
  ReceiveParams pass = p;
  pass.flags = 0;
  std::vector<std::int32_t> left, right;
  for (std::uint32_t toggle : {0u, 1u}) {
    send(p);
    streamTone(8000.0, 1500.0, 12, left, right);
    send(pass);
    runBlock(std::vector<std::uint8_t>(chain.bufferBytes(), 0x55));
    p.flags = SDR_FLAGS_CONSOLE | toggle;
    send(p);
    unpackFrames(runBlock(silence()), 16, left, right);
    if (toggle == 0) {
      EXPECT_GT(peak(left), 100);
    } else {
      EXPECT_EQ(peak(left), 0);
    }
  }
}

TEST_F(PipelineTest, InvalidBandEdgesNeverDesignAndLeaveSilence) {
  ReceiveParams p = consoleParams();
  p.flags &= ~(SDR_FLAG_AGC_ON | SDR_FLAG_SQUELCH_ON);
  p.gain = 1.0;
  for (auto [low, high] : {std::pair{300, 300}, {2700, 300}, {0, 2700}, {-5, 2700}}) {
    p.lowCutHz = low;
    p.highCutHz = high;
    send(p);
    std::vector<std::int32_t> left, right;
    streamTone(8000.0, 1500.0, 2, left, right);
    EXPECT_EQ(peak(left), 0) << low << ".." << high;
  }
  // One valid pair designs at once; a later invalid pair keeps it.
  p.lowCutHz = 300;
  p.highCutHz = 2700;
  send(p);
  std::vector<std::int32_t> left, right;
  streamTone(8000.0, 1500.0, 3, left, right);
  EXPECT_GT(peak(left), 7000);
  p.lowCutHz = 3000;
  send(p);
  streamTone(8000.0, 1500.0, 2, left, right);
  EXPECT_GT(peak(left), 7000);
}

TEST_F(PipelineTest, NewLengthForcesANewDesignAndClearsTails) {
  send(consoleParams());
  std::vector<std::int32_t> left, right;
  streamTone(8000.0, 1500.0, 12, left, right);
  configure(10);
  // The old tails are gone: a silent block plays nothing.
  unpackFrames(runBlock(silence()), 16, left, right);
  EXPECT_EQ(peak(left), 0);
  // The same band is designed anew for the new length.
  std::vector<std::int32_t> i, q;
  for (int b = 0; b < 12; ++b) {
    complexTone(8000.0, 1500.0, kRate, std::int64_t{b} * 1024, 1024, i, q);
    unpackFrames(runBlock(packFrames(i, q, 16)), 16, left, right);
  }
  EXPECT_NEAR(toneAmplitude(left, 1500.0, kRate), 16384.0, 16384.0 * 0.02);
}

TEST_F(PipelineTest, ConfigureRefusesWhatItCannotHoldAndKeepsItsSizes) {
  // The snapshot here holds M = 4096 values: order 12 would need 8192.
  for (ChainFormat f : {ChainFormat{12, 48000, 16}, ChainFormat{7, 48000, 16},
                        ChainFormat{17, 48000, 16}, ChainFormat{11, 12000, 16},
                        ChainFormat{11, 48000, 12}}) {
    EXPECT_FALSE(chain.configure(f)) << f.order << " " << f.sampleRate << " " << f.bitsPerSample;
    EXPECT_EQ(chain.blockSamples(), kN);
    EXPECT_EQ(chain.bufferBytes(), 4 * kN);
  }
}

// The engine's block processing calls the hook before the chain.
class EngineBlockTest : public EngineTest {};

TEST_F(EngineBlockTest, HookRunsFirstInEveryBlock) {
  static int calls = 0;
  calls = 0;
  configure();
  e().blockHook.store(+[] { ++calls; });
  send(consoleParams());
  runBlock(std::vector<std::uint8_t>(e().bufferBytes, 0));
  runBlock(std::vector<std::uint8_t>(e().bufferBytes, 0));
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace bw::test::pipeline
