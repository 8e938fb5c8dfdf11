// Automatic I/Q balance through the receive chain (48000 Hz, order 11, 16-bit
// PCM): images of imbalanced and skewed tones fall 60 dB below the tone
// within 2 s and follow a change; the real recording is left alone; silence,
// a bare carrier and full-scale noise leave the estimate finite and small.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <random>

#include "dsp/receive_chain.h"
#include "support/chain_harness.h"
#include "support/engine_fixture.h"
#include "support/wav_file.h"

namespace bw::test::iq_balance {
namespace {

constexpr double kRate = 48000.0;
constexpr int kOrder = 11;
constexpr int kN = 1 << kOrder;
constexpr ChainFormat kFormat{kOrder, 48000, 16};
constexpr double kBinWidth = kRate / (2 * kN);  // 11.71875 Hz
constexpr double kBlockSeconds = kN / kRate;
constexpr int kListenBin = 128;                  // 1500 Hz, 64 periods a block

double db(double ratio) { return 20.0 * std::log10(ratio); }

// One chain with its own parameter block.
class Receiver {
 public:
  explicit Receiver(const ReceiveParams& p) : params_(p) {}
  // Runs one block; returns the left output channel.
  std::vector<std::int32_t> run(const std::vector<std::int32_t>& i,
                                const std::vector<std::int32_t>& q) {
    std::vector<std::int32_t> left, right;
    harness_.run(params_, i, q, left, right);
    return left;
  }
  ReceiveChain& chain() { return harness_.chain(); }

 private:
  ReceiveParams params_;
  ChainHarness harness_{kFormat};
};

// A fixed-gain receiver (no AGC, no squelch) of the band lowHz..highHz, with
// the bin `tuneBins` (even) moved to 0 Hz.
ReceiveParams listening(int tuneBins, std::uint32_t extensions,
                        int lowHz = 1000, int highHz = 2000) {
  ReceiveParams p = consoleParams();
  p.flags &= ~(SDR_FLAG_AGC_ON | SDR_FLAG_SQUELCH_ON);
  p.gain = 1.0;
  p.lowCutHz = lowHz;
  p.highCutHz = highHz;
  p.tuneOffsetHz = static_cast<std::int32_t>(std::lround(tuneBins * kBinWidth));
  p.extensions = extensions;
  return p;
}

// The front end's fault: Q with a gain and phase error, or delayed by
// `skew` samples, as the tone I = A cos(wn), Q = g A sin(w(n - skew) + phase).
struct Imbalance {
  double gainDb = 0.0, phaseDeg = 0.0, skew = 0.0;
};

class ImbalancedTone {
 public:
  ImbalancedTone(double amplitude, int bin) : a_(amplitude), bin_(bin) {}
  void set(const Imbalance& fault) { fault_ = fault; }
  void next(std::vector<std::int32_t>& i, std::vector<std::int32_t>& q) {
    i.resize(kN);
    q.resize(kN);
    const double w = 2.0 * std::numbers::pi * bin_ / (2.0 * kN);
    const double g = std::pow(10.0, fault_.gainDb / 20.0);
    const double phase = fault_.phaseDeg * std::numbers::pi / 180.0;
    for (int n = 0; n < kN; ++n, ++t_) {
      const double x = static_cast<double>(t_);
      i[n] = static_cast<std::int32_t>(std::lround(a_ * std::cos(w * x) + noise_(rng_)));
      q[n] = static_cast<std::int32_t>(
          std::lround(g * a_ * std::sin(w * (x - fault_.skew) + phase) + noise_(rng_)));
    }
  }

 private:
  double a_;
  int bin_;
  Imbalance fault_;
  std::int64_t t_ = 0;
  std::mt19937 rng_{20};
  std::normal_distribution<double> noise_{0.0, 2.0};
};

// Image level (dB below the tone) per block: one chain hears the tone at
// 1500 Hz, one its mirror; `change` switches the fault at block `at`.
std::vector<double> imageLevels(int bin, const Imbalance& fault, int blocks,
                                std::uint32_t extensions,
                                const Imbalance* change = nullptr, int at = 0) {
  Receiver tone(listening(bin - kListenBin, extensions));
  Receiver image(listening(-bin - kListenBin, extensions));
  ImbalancedTone source(8000.0, bin);
  source.set(fault);
  std::vector<double> levels;
  std::vector<std::int32_t> i, q;
  for (int b = 0; b < blocks; ++b) {
    if (change != nullptr && b == at) source.set(*change);
    source.next(i, q);
    const double s = toneAmplitude(tone.run(i, q), 1500.0, kRate);
    const double m = toneAmplitude(image.run(i, q), 1500.0, kRate);
    levels.push_back(db(m / s));
  }

  return levels;
}

int blockAt(double seconds) {
  return static_cast<int>(std::ceil(seconds / kBlockSeconds));
}

TEST(IqBalanceTest, ImagesOfImbalancedAndSkewedTonesFall60DbWithin2s) {
  const Imbalance faults[] = {{1.0, 3.0, 0.0}, {0.0, 0.0, 0.5}};
  // +-1, 5, 12 and 20 kHz, on even bins so that tuning is exact.
  for (int bin : {86, -86, -426, 1024, 1706, -1706}) {
    for (const Imbalance& fault : faults) {
      SCOPED_TRACE(::testing::Message() << "bin " << bin << " skew " << fault.skew);
      const int blocks = blockAt(2.5);
      const auto off = imageLevels(bin, fault, 8, 0);
      EXPECT_GT(off.back(), -30.0);  // the fault is there to remove
      const auto on = imageLevels(bin, fault, blocks, SDR_EXT_AUTO_IQ_BALANCE);
      for (int b = blockAt(2.0); b < blocks; ++b) {
        EXPECT_LT(on[b], -60.0) << "at " << b * kBlockSeconds << " s";
      }
    }
  }
}

TEST(IqBalanceTest, FollowsAChangeOfImbalanceWithin2s) {
  const Imbalance before{1.0, 3.0, 0.0}, after{-0.5, -2.0, 0.25};
  const int at = blockAt(2.5);
  const int blocks = at + blockAt(2.5);
  const auto levels = imageLevels(-426, before, blocks, SDR_EXT_AUTO_IQ_BALANCE, &after, at);
  EXPECT_LT(levels[at - 1], -60.0);
  EXPECT_GT(levels[at], -45.0);  // the change shows before it is followed
  for (int b = at + blockAt(2.0); b < blocks; ++b) {
    EXPECT_LT(levels[b], -60.0) << "at " << (b - at) * kBlockSeconds << " s after";
  }
}

// The recording's I and Q, blocks of kN frames (the last one padded).
std::vector<std::vector<std::int32_t>> readRecording(const char* name) {
  const Recording r = readWav(std::filesystem::path(BW_SHARED_DIR) / "iq" / name);
  std::vector<std::vector<std::int32_t>> channels(2);
  for (int c = 0; c < 2; ++c) {
    for (double v : r.channel(c, 16)) channels[c].push_back(static_cast<std::int32_t>(v));
  }
  const std::size_t padded = (channels[0].size() + kN - 1) / kN * kN;
  for (auto& c : channels) c.resize(padded, 0);
  return channels;
}

struct Heard {
  double energy = 0.0;       // whole recording
  double carrierImage = 0.0; // 1440 Hz over the carrier's first 0.2 s
};

Heard hear(const std::vector<std::vector<std::int32_t>>& iq, ReceiveParams p) {
  Receiver r(p);
  Heard h;
  const int blocks = static_cast<int>(iq[0].size() / kN);
  for (int b = 0; b < blocks; ++b) {
    std::vector<std::int32_t> i(iq[0].begin() + b * kN, iq[0].begin() + (b + 1) * kN);
    std::vector<std::int32_t> q(iq[1].begin() + b * kN, iq[1].begin() + (b + 1) * kN);
    const auto out = r.run(i, q);
    for (auto v : out) h.energy += double(v) * v;
    if (b * kBlockSeconds < 0.2) h.carrierImage += toneAmplitude(out, 1440.0, kRate);
  }
  return h;
}

TEST(IqBalanceTest, LeavesTheBalancedRecordingAlone) {
  const char* name = "HFDL_test_48k_cf13270.wav";
  if (!std::filesystem::exists(std::filesystem::path(BW_SHARED_DIR) / "iq" / name)) {
    GTEST_SKIP() << BW_SHARED_DIR "/iq holds no recordings";
  }
  const auto iq = readRecording(name);
  ASSERT_GT(iq[0].size(), 4u * 48000u);
  ReceiveParams upper = listening(0, 0, 300, 2700);
  ReceiveParams lower = upper;
  lower.flags = (lower.flags & ~SDR_FLAG_UPPER_SIDEBAND) | SDR_FLAG_LOWER_SIDEBAND;
  for (bool isUpper : {true, false}) {
    ReceiveParams p = isUpper ? upper : lower;
    const Heard off = hear(iq, p);
    p.extensions = SDR_EXT_AUTO_IQ_BALANCE;
    const Heard on = hear(iq, p);
    const double change = 10.0 * std::log10(on.energy / off.energy);
    if (isUpper) {  // the signal itself
      EXPECT_LT(std::abs(change), 0.1);
    } else {  // what stands at the mirror: no image may rise
      EXPECT_LT(change, 1.0);
      EXPECT_LT(db(on.carrierImage / off.carrierImage), 1.0);
    }
  }
}

// Worst |w| over the bins, NaN when any is not finite.
double largestCorrection(ReceiveChain& chain) {
  ReceiveChain::CarriedState s;
  chain.saveState(s);
  double largest = 0.0;
  const auto& w = s.iqBalance;
  for (std::size_t c = 0; c < w.cellRe.size(); ++c) {
    const double size = std::hypot(w.cellRe[c], w.cellIm[c]);
    if (!std::isfinite(size)) return std::nan("");
    largest = std::max(largest, size);
  }
  return largest;
}

TEST(IqBalanceTest, StaysFiniteAndSmallOnSilenceACarrierAndFullScaleNoise) {
  std::mt19937 rng(45);
  std::uniform_int_distribution<std::int32_t> fullScale(-32768, 32767);
  enum Input { Silence, Carrier, Noise };
  for (Input input : {Silence, Carrier, Noise}) {
    SCOPED_TRACE(::testing::Message() << "input " << input);
    Receiver on(listening(0, SDR_EXT_AUTO_IQ_BALANCE, 300, 2700));
    Receiver off(listening(0, 0, 300, 2700));
    double energyOn = 0.0, energyOff = 0.0;
    std::vector<std::int32_t> i(kN, 0), q(kN, 0);
    for (int b = 0; b < 200; ++b) {
      if (input == Carrier) complexTone(30000.0, 1500.0, kRate, std::int64_t{b} * kN, kN, i, q);
      if (input == Noise) {
        for (int n = 0; n < kN; ++n) {
          i[n] = fullScale(rng);
          q[n] = fullScale(rng);
        }
      }
      for (auto v : on.run(i, q)) energyOn += double(v) * v;
      for (auto v : off.run(i, q)) energyOff += double(v) * v;
    }
    const double largest = largestCorrection(on.chain());
    EXPECT_TRUE(std::isfinite(largest));
    EXPECT_LT(largest, input == Silence ? 1e-300 : 0.05);
    if (input == Silence) {
      EXPECT_EQ(energyOn, 0.0);
    } else {
      EXPECT_LT(std::abs(10.0 * std::log10(energyOn / energyOff)), 0.1);
    }
  }
}

}  // namespace
}  // namespace bw::test::iq_balance
