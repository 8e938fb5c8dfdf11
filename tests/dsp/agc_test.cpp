// The AGC on hand-made envelopes: candidates 16384 / peak, the minimum over
// the hold, the ceiling, the 1 ms ramps and the silent block.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "dsp/agc.h"

namespace bw {
namespace {

// The AGC of a chain at 48000 Hz with N = 256: a ring of 25, a ramp of 48.
class AgcTest : public ::testing::Test {
 protected:
  static constexpr int kN = 256;
  AgcTest() {
    agc.configure({8, 48000, 16}, s);
    EXPECT_EQ(s.ring.size(), 25u);
  }
  // Fills the envelope with `value` everywhere and runs the AGC.
  std::vector<double> block(double value, int hold = 10, double ceiling = 1e9) {
    std::vector<double> mag(kN, value);
    ReceiveParams p;
    p.flags = SDR_FLAG_AGC_ON;
    p.agcBlocks = hold;
    p.gain = ceiling;
    agc.process(s, p, mag.data(), kN, nsp);
    return mag;
  }
  double gain() { return s.currentGain; }

  Agc agc;
  Agc::State s;
  PrimitiveEntries nsp = directPrimitives();
};

TEST_F(AgcTest, FirstBlocksAfterLoadAreSilentUntilTheRingFills) {
  for (int b = 0; b < 9; ++b) {
    const auto out = block(100.0);
    EXPECT_EQ(gain(), 0.0) << b;
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 0.0);
  }
  const auto out = block(100.0);  // the 10th block ramps from 0 to 163.84
  const double g = 16384.0 / 100.0;
  EXPECT_DOUBLE_EQ(gain(), g);
  for (int i = 0; i < 48; ++i) {
    EXPECT_NEAR(out[i], 100.0 * g * (i + 1) / 48.0, 1e-9) << i;
  }
  EXPECT_NEAR(out[200], 16384.0, 1e-9);
}

TEST_F(AgcTest, CeilingCapsTheGain) {
  block(1.0, 1, 1000.0);
  EXPECT_EQ(gain(), 1000.0);
}

TEST_F(AgcTest, SteadyPeakGivesUnitGainWithoutRamp) {
  for (int b = 0; b < 3; ++b) block(16384.0, 1);
  const auto out = block(16384.0, 1);
  EXPECT_EQ(gain(), 1.0);
  for (double v : out) ASSERT_EQ(v, 16384.0);
}

TEST_F(AgcTest, LoudBlockLowersGainAtOnceAndHoldsIt) {
  const int hold = 4;
  for (int b = 0; b < 6; ++b) block(100.0, hold);
  ASSERT_DOUBLE_EQ(gain(), 163.84);
  const auto loud = block(1000.0, hold);
  EXPECT_DOUBLE_EQ(gain(), 16.384);
  EXPECT_NEAR(loud[47], 16384.0, 1e-9);  // reached within the ramp
  EXPECT_GT(loud[0], 16384.0);           // falling from the old gain
  for (int b = 1; b < hold; ++b) {
    block(100.0, hold);
    EXPECT_DOUBLE_EQ(gain(), 16.384) << "held block " << b;
  }
  const auto back = block(100.0, hold);  // the loud candidate has left
  EXPECT_DOUBLE_EQ(gain(), 163.84);
  EXPECT_LT(back[0], back[47]);
}

TEST_F(AgcTest, SilentBlockKeepsGainButAdvancesThePosition) {
  block(100.0, 3);
  block(200.0, 3);
  const double g = gain();
  const auto ring = std::vector<double>(s.ring.begin(), s.ring.end());
  const int pos = s.pos;
  block(0.0, 3);
  EXPECT_EQ(gain(), g);
  EXPECT_EQ(std::vector<double>(s.ring.begin(), s.ring.end()), ring);
  EXPECT_EQ(s.pos, (pos + 1) % 3);
}

TEST_F(AgcTest, HoldCountsOutsideOneToTenCountAsOne) {
  for (int hold : {0, -5, 11}) {
    block(50.0, hold);
    EXPECT_EQ(s.pos, 0) << hold;
    block(100.0, hold);
    EXPECT_DOUBLE_EQ(gain(), 163.84) << hold;  // only the latest block counts
  }
}

TEST_F(AgcTest, RampMovesInEqualStepsFromThePreviousGain) {
  block(100.0, 1);
  ASSERT_DOUBLE_EQ(s.previousGain, 163.84);
  const auto out = block(1000.0, 1);
  EXPECT_NEAR(out[0], 1000.0 * (163.84 - (163.84 - 16.384) / 48.0), 1e-9);
}

}  // namespace
}  // namespace bw
