// Exact tuning, DC removal and the minimum-phase filter through the receive
// chain, on recordings made
// here: off-grid tones at several rates and orders, DC offsets, retunes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <memory_resource>
#include <numbers>
#include <tuple>
#include <vector>

#include "dsp/dc_removal.h"
#include "dsp/fine_tuning.h"
#include "dsp/receive_chain.h"
#include "support/chain_harness.h"
#include "support/engine_fixture.h"

namespace bw::test::receiver_extensions {
namespace {

using Complex = std::complex<double>;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// The console's receiver (upper sideband, 300..2700 Hz, tuning first) with
// both output channels, fixed gain 1 and no squelch, so that levels and
// phases can be compared.
ReceiveParams plainParams(std::int32_t offsetHz, std::uint32_t extensions) {
  ReceiveParams p = consoleParams();
  p.flags &= ~(SDR_FLAG_MONO_OUTPUT | SDR_FLAG_AGC_ON | SDR_FLAG_SQUELCH_ON);
  p.gain = 1.0;
  p.tuneOffsetHz = offsetHz;
  p.extensions = extensions;
  return p;
}

// One chain; fills input blocks from a source and keeps the complex output
// (left + j right).
class Rig {
 public:
  // I and Q for `frames` samples starting at sample `start`.
  using Source = std::function<void(std::int64_t start, int frames,
                                    std::vector<std::int32_t>& i,
                                    std::vector<std::int32_t>& q)>;

  Rig(int order, int rate, int bits = 16) : rate_(rate), harness_({order, rate, bits}) {}
  int n() const { return harness_.chain().blockSamples(); }
  ReceiveChain& chain() { return harness_.chain(); }
  const std::vector<double>& spectrum() const { return harness_.spectrum(); }

  // Runs `blocks` blocks of `source` with p; returns the output samples.
  std::vector<Complex> run(const ReceiveParams& p, int blocks, const Source& source) {
    std::vector<Complex> out;
    std::vector<std::int32_t> i, q, left, right;
    for (int b = 0; b < blocks; ++b) {
      source(next_, n(), i, q);
      next_ += n();
      harness_.run(p, i, q, left, right);
      for (int k = 0; k < n(); ++k) out.emplace_back(left[k], right[k]);
    }
    return out;
  }

  Source tone(double amplitude, double hz) const {
    const double rate = rate_;
    return [=](std::int64_t start, int frames, std::vector<std::int32_t>& i,
               std::vector<std::int32_t>& q) {
      complexTone(amplitude, hz, rate, start, frames, i, q);
    };
  }

 private:
  int rate_;
  std::int64_t next_ = 0;
  ChainHarness harness_;
};

// Frequency of a complex tone from its mean phase step over z[from..].
double toneHz(const std::vector<Complex>& z, std::size_t from, double rate) {
  Complex sum = 0.0;
  for (std::size_t k = from + 1; k < z.size(); ++k) sum += z[k] * std::conj(z[k - 1]);
  return std::arg(sum) * rate / kTwoPi;
}

// Amplitude of the complex tone exp(j 2 pi hz k / rate) in z[from..to),
// through a Hann window so that a tone 200 Hz away does not leak in.
double toneLevel(const std::vector<Complex>& z, std::size_t from, std::size_t to,
                 double hz, double rate) {
  Complex sum = 0.0;
  double weights = 0.0;
  const double length = static_cast<double>(to - from);
  for (std::size_t k = from; k < to; ++k) {
    const double w = 0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(k - from) / length);
    sum += w * z[k] * std::polar(1.0, -kTwoPi * hz * static_cast<double>(k) / rate);
    weights += w;
  }
  return std::abs(sum) / weights;
}

// Where the even-bin rotation alone tunes: the offset rounded to whole bins,
// an odd count raised by one.
double gridTuning(std::int32_t offsetHz, double binWidth) {
  std::int64_t k = std::llrint(offsetHz / binWidth);
  if (k & 1) ++k;
  return static_cast<double>(k) * binWidth;
}

TEST(ExactTuning, OffGridTonesComeOutWhereAskedAtEveryRateAndOrder) {
  struct Case {
    int rate, order;
  };
  const Case cases[] = {{8000, 8},  {11025, 9}, {22050, 12}, {44100, 10},
                        {48000, 11}, {96000, 13}, {16000, 14}};
  const std::int32_t offsets[] = {-1237, 1001, 2777};
  const double audio = 1000.0;  // where the tone belongs in the output
  for (const Case& c : cases) {
    for (std::int32_t offset : offsets) {
      for (std::uint32_t shiftEarly : {SDR_FLAG_SHIFT_EARLY, 0u}) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, order " << c.order
                                        << ", offset " << offset << ", flags "
                                        << shiftEarly);
        // Tuning last filters at the input's own frequencies: the tone sits
        // at 1000 Hz there and leaves at 1000 Hz - offset.
        const double in = shiftEarly ? offset + audio : audio;
        const double want = in - offset;
        double got[2];
        double binWidth = 0.0;
        for (int on = 0; on < 2; ++on) {
          Rig rig(c.order, c.rate);
          binWidth = rig.chain().binWidth();
          ReceiveParams p = plainParams(offset, on ? SDR_EXT_EXACT_TUNING : 0u);
          p.flags = (p.flags & ~SDR_FLAG_SHIFT_EARLY) | shiftEarly;
          const auto z = rig.run(p, 3, rig.tone(8000.0, in));
          got[on] = toneHz(z, static_cast<std::size_t>(rig.n()), c.rate);
        }
        EXPECT_NEAR(got[1], want, 0.1);
        // Without the extension: the error of the even-bin grid.
        EXPECT_NEAR(got[0], in - gridTuning(offset, binWidth), 0.1);
      }
    }
  }
}

TEST(ExactTuning, PassbandAndSpectrumFollowTheOffset) {
  // At 48 kHz, order 11, 7500 Hz is on the grid (640 bins) and 7510 Hz is
  // 13.4 Hz past the grid. A tone 320 Hz above the offset, on the filter's
  // lower slope, must come out at the same level for both.
  const std::int32_t onGrid = 7500, offGrid = 7510;
  double level[2][2];  // [extension][offset]
  for (int on = 0; on < 2; ++on) {
    for (int o = 0; o < 2; ++o) {
      const std::int32_t offset = o ? offGrid : onGrid;
      Rig rig(11, 48000);
      ReceiveParams p = plainParams(offset, on ? SDR_EXT_EXACT_TUNING : 0u);
      const auto z = rig.run(p, 4, rig.tone(8000.0, offset + 320.0));
      const double at = offset + 320.0 - (on ? offset : gridTuning(offset, rig.chain().binWidth()));
      level[on][o] = toneLevel(z, 2 * rig.n(), z.size(), at, 48000);
      // The input spectrum stays in place: its peak is the tone's bin.
      const auto& s = rig.spectrum();
      const auto peak = std::max_element(s.begin(), s.end() - 1) - s.begin();
      EXPECT_EQ(peak, std::lrint((offset + 320.0) / rig.chain().binWidth()))
          << "extension " << on << ", offset " << offset;
    }
  }
  const auto dB = [](double a, double b) { return 20 * std::log10(a / b); };
  EXPECT_NEAR(dB(level[1][1], level[1][0]), 0.0, 0.05);
  // The grid moved the tone down the slope by 13.4 Hz.
  EXPECT_LT(dB(level[0][1], level[0][0]), -0.5);
}

TEST(ExactTuning, OscillatorIsPhaseContinuousAcrossBlocksAndRetunes) {
  const int n = 256, rate = 8000;
  std::pmr::monotonic_buffer_resource heap;
  FineTuner tuner(&heap);
  FineTuner::State state;
  tuner.configure({8, rate, 16}, state);
  const double residuals[] = {-13.25, -13.25, 7.5, 7.5, 0.0, -40.0};
  std::vector<Complex> z;
  std::vector<double> steps;  // residual in force for each sample
  std::vector<double> re(n), im(n);
  for (double r : residuals) {
    std::fill(re.begin(), re.end(), 1.0);
    std::fill(im.begin(), im.end(), 0.0);
    tuner.rotate(state, re.data(), im.data(), r);
    for (int k = 0; k < n; ++k) {
      z.emplace_back(re[k], im[k]);
      steps.push_back(r);
    }
  }
  EXPECT_NEAR(std::abs(z[0] - 1.0), 0.0, 1e-15);
  // Each sample is the one before turned by -2 pi r / fs of the residual in
  // force for that one: no step at block joins or retunes.
  for (std::size_t k = 1; k < z.size(); ++k) {
    const Complex expected = z[k - 1] * std::polar(1.0, -kTwoPi * steps[k - 1] / rate);
    ASSERT_NEAR(std::abs(z[k] - expected), 0.0, 1e-12) << "sample " << k;
  }
}

// Energy away from the tone in the three blocks around a retune at block 6
// (a tone at 10 kHz, tuned from o1 to o2), over the tone's, in dB.
double retuneSplatter(std::int32_t o1, std::int32_t o2, std::uint32_t extensions) {
  Rig rig(11, 48000);
  const auto tone = rig.tone(8000.0, 10000.0);
  auto z = rig.run(plainParams(o1, extensions), 6, tone);
  const auto after = rig.run(plainParams(o2, extensions), 6, tone);
  z.insert(z.end(), after.begin(), after.end());
  const double binWidth = rig.chain().binWidth();
  const auto lands = [&](std::int32_t o) {
    return 10000.0 - (extensions ? o : gridTuning(o, binWidth));
  };
  const std::size_t n = rig.n();
  double near = 0.0, away = 0.0;
  for (double hz = 0; hz <= 3000; hz += 10) {  // the lower sideband is removed
    const double level = toneLevel(z, 5 * n, 8 * n, hz, 48000);
    const bool atTone = std::abs(hz - lands(o1)) < 60 || std::abs(hz - lands(o2)) < 60;
    (atTone ? near : away) += level * level;
  }
  return 10 * std::log10(away / near);
}

TEST(ExactTuning, RetuneIsNoRougherThanTheSmallestRetuneWithoutIt) {
  // Today's smallest retune moves one grid step (23.4 Hz); with the
  // extension a 2 Hz retune keeps the oscillator's phase and splatters less.
  // (An oscillator restarted at the retune measures about -12 dB here.)
  const double today = retuneSplatter(7500, 7523, 0);
  EXPECT_LT(retuneSplatter(7510, 7512, SDR_EXT_EXACT_TUNING), today - 10.0);
  // A large retune splatters as much as it does today.
  EXPECT_NEAR(retuneSplatter(7510, 7883, SDR_EXT_EXACT_TUNING),
              retuneSplatter(7500, 7875, 0), 1.0);
}

// Recordings with a DC offset of 1 % of full scale on both channels and a
// tone 200 Hz above the band centre; the receiver is tuned 1125 Hz below the
// centre (on the bin grid), so the centre lands at 1125 Hz, inside the
// passband. The offset is there from the start, or steps in at block 4.
TEST(DcRemoval, CentreSpikeFallsAndNearbySignalStays) {
  constexpr int kBlocks = 12, kStepBlock = 4;
  struct Variant {
    std::uint32_t flags;
    bool step;
  };
  for (const Variant v : {Variant{0, false}, Variant{SDR_FLAG_SWAP_INPUT, false},
                          Variant{SDR_FLAG_MONO_INPUT, false}, Variant{0, true}}) {
    SCOPED_TRACE(testing::Message() << "input flags " << v.flags << ", step " << v.step);
    double spike[2][kBlocks], signal[2];
    for (int on = 0; on < 2; ++on) {
      Rig rig(11, 48000);
      ReceiveParams p = plainParams(-1125, on ? SDR_EXT_DC_REMOVAL : 0u);
      p.flags |= v.flags;
      const std::int64_t n = rig.n();
      // Swapped channels turn the tone round; it is generated the other
      // way so that it arrives at +200 Hz.
      const double hz = (v.flags & SDR_FLAG_SWAP_INPUT) ? -200.0 : 200.0;
      const auto source = [&](std::int64_t start, int frames,
                              std::vector<std::int32_t>& i,
                              std::vector<std::int32_t>& q) {
        complexTone(3000.0, hz, 48000, start, frames, i, q);
        const std::int32_t dc = (v.step && start < kStepBlock * n) ? 0 : 327;
        for (auto& x : i) x += dc;
        for (auto& x : q) x += dc;
      };
      const auto z = rig.run(p, kBlocks, source);
      for (int b = 0; b < kBlocks; ++b) {
        spike[on][b] = toneLevel(z, b * n, (b + 1) * n, 1125.0, 48000);
      }
      signal[on] = toneLevel(z, 2 * n, z.size(), 1325.0, 48000);
    }
    // At least 40 dB down within 0.13 s (3 blocks) of the start or a step.
    for (int b = v.step ? kStepBlock + 3 : 3; b < kBlocks; ++b) {
      EXPECT_LT(spike[1][b], spike[0][b] * 0.01) << "block " << b;
    }
    EXPECT_GT(spike[0][kBlocks - 1], 400.0);
    // From the start the tracker begins at the first block's mean: already
    // 20 dB down in the first block.
    if (!v.step) {
      EXPECT_LT(spike[1][0], spike[0][kBlocks - 1] * 0.1);
    }
    EXPECT_NEAR(20 * std::log10(signal[1] / signal[0]), 0.0, 0.5);
  }
}

TEST(WindowedSpectrum, WeakToneBesideACarrierStandsOutOnlyUnderTheWindow) {
  // A carrier off the block's bin grid (the rectangular window's worst
  // leakage) and a tone 80 dB below it, 2 kHz above or below; the receiver
  // tuned elsewhere, so the early spectrum is published from rotated bins.
  // Each case: rate, order, carrier Hz, tone Hz.
  const double cases[][4] = {{48000, 11, 5011.3, 7011.3}, {48000, 11, -7005.9, -9005.9},
                             {8000, 8, 1017.0, 3017.0}, {96000, 13, 20003.1, 18003.1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c[0] << " Hz, carrier " << c[2]);
    double level[2][2], peak[2];  // [window on][tone present], at the tone's bin
    for (int k = 0; k < 4; ++k) {
      Rig rig(static_cast<int>(c[1]), static_cast<int>(c[0]), 24);
      const auto strong = rig.tone(4.0e6, c[2]), faint = rig.tone((k % 2) * 400.0, c[3]);
      rig.run(plainParams(-3000, k / 2 ? SDR_EXT_WINDOWED_SPECTRUM : 0u), 2,
              [&](std::int64_t at, int frames, auto& i, auto& q) {
                std::vector<std::int32_t> i2, q2;
                strong(at, frames, i, q), faint(at, frames, i2, q2);
                for (int n = 0; n < frames; ++n) i[n] += i2[n], q[n] += q2[n];
              });
      const auto& s = rig.spectrum();
      const auto bin = [&](double hz) {
        return std::lrint(hz / rig.chain().binWidth()) & (std::ssize(s) - 1); };
      level[k / 2][k % 2] = s[bin(c[3])];
      const auto top = std::max_element(s.begin(), s.end() - 1);
      EXPECT_EQ(top - s.begin(), bin(c[2]));
      peak[k / 2] = *top;
    }
    EXPECT_GE(20 * std::log10(level[1][1] / level[1][0]), 10.0);
    EXPECT_LT(20 * std::log10(level[0][1] / level[0][0]), 10.0);
    // The window keeps a tone's peak height (within the grid's scalloping).
    EXPECT_NEAR(20 * std::log10(peak[1] / peak[0]), 0.0, 1.0);
  }
}

TEST(ReceiverExtensions, StateCarriesAndStaysFiniteOnSilenceAndFullScale) {
  // 32-bit full scale with a DC step, then silence, at 8 kHz, order 14.
  Rig a(14, 8000, 32), b(14, 8000, 32);
  const ReceiveParams p = plainParams(1001, SDR_EXT_ALL);
  const auto full = [](std::int64_t start, int frames, std::vector<std::int32_t>& i,
                       std::vector<std::int32_t>& q) {
    i.assign(frames, 0);
    q.assign(frames, 0);
    for (int k = 0; k < frames; ++k) {
      const bool high = ((start + k) / 3) % 2 == 0;
      i[k] = high ? 2147483647 : -2147483647;
      q[k] = 2147483647;
    }
  };
  a.run(p, 2, full);
  ReceiveChain::CarriedState state;
  a.chain().saveState(state);
  for (double level : state.dc.level) {
    EXPECT_TRUE(std::isfinite(level));
    EXPECT_LE(std::abs(level), 2147483647.0);
  }
  // Another chain restored to this state continues bit for bit; a chain of
  // another format refuses it.
  EXPECT_TRUE(b.chain().restoreState(state));
  EXPECT_FALSE(Rig(13, 8000, 32).chain().restoreState(state));
  const auto tone = [](std::int64_t, int frames, std::vector<std::int32_t>& i,
                       std::vector<std::int32_t>& q) {
    complexTone(1e9, 1500.0, 8000, 0, frames, i, q);
  };
  const auto za = a.run(p, 1, tone);
  const auto zb = b.run(p, 1, tone);
  EXPECT_EQ(za, zb);
  ReceiveChain::CarriedState after;
  a.chain().saveState(after);
  EXPECT_FALSE(after == state);  // the phase and the levels moved on

  const auto silence = [](std::int64_t, int frames, std::vector<std::int32_t>& i,
                          std::vector<std::int32_t>& q) {
    i.assign(frames, 0);
    q.assign(frames, 0);
  };
  a.run(p, 2, silence);
  a.chain().saveState(after);
  // The levels decay to exactly zero instead of into denormals.
  EXPECT_EQ(after.dc.level[0], 0.0);
  EXPECT_EQ(after.dc.level[1], 0.0);
}

// With the minimum-phase filter a tone switched on is heard about half the
// filter's length sooner and at the same level: in sideband, with the band
// moved by exact tuning, and in CW (mode, offset, extensions, tone on the band).
TEST(MinimumPhase, ToneIsHeardSoonerAtTheSameLevel) {
  const int n = 2048, start = 2 * n + n / 3;
  for (auto [mode, offset, extensions, hz] :
       {std::tuple{SDR_MODE_SIDEBAND, 3000, 0u, 4000.0},
        {SDR_MODE_SIDEBAND, 3001, SDR_EXT_EXACT_TUNING, 4001.0}, {SDR_MODE_CW, 3000, 0u, 3000.0}}) {
    double onset[2] = {}, level[2] = {};
    for (int minimum : {0, 1}) {
      ReceiveParams p = plainParams(offset, extensions | (minimum ? SDR_EXT_MINIMUM_PHASE : 0u));
      p.modes.mode = static_cast<std::uint8_t>(mode);
      if (mode == SDR_MODE_CW) p.lowCutHz = 450, p.highCutHz = 950;
      Rig rig(11, 48000);
      const auto source = rig.tone(1e4, hz);
      const auto z = rig.run(p, 5, [&](std::int64_t first, int frames, auto& i, auto& q) {
        source(first, frames, i, q);
        for (int k = 0; k < frames && first + k < start; ++k) i[k] = q[k] = 0;
      });
      for (std::size_t k = z.size() - n; k < z.size(); ++k) {
        level[minimum] = std::max(level[minimum], std::abs(z[k]));
      }
      auto& k = onset[minimum];
      while (std::abs(z[static_cast<std::size_t>(k)]) < 0.5 * level[minimum]) ++k;
    }
    SCOPED_TRACE(testing::Message() << "mode " << mode << ", offset " << offset);
    EXPECT_GE(onset[1], start);
    EXPECT_GT(onset[0] - onset[1], 0.75 * (n - 1) / 2.0)
        << onset[0] - start << " vs " << onset[1] - start;
    EXPECT_NEAR(20.0 * std::log10(level[1] / level[0]), 0.0, 0.1);
  }
}

}  // namespace
}  // namespace bw::test::receiver_extensions
