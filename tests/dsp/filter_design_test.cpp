// The designed response against a spectral mask, and the band substitutions.
#include <gtest/gtest.h>

#include <cmath>

#include "api/configuration.h"
#include "dsp/filter_design.h"
#include "support/engine_fixture.h"

namespace bw::test {
namespace {

class FilterDesignTest : public EngineTest {
 protected:
  double dbAt(double hz) const {
    const EngineState& s = engine();
    const int k = static_cast<int>(std::lround(hz / s.binWidth));
    return 20.0 * std::log10(s.filterMag[k]);
  }
};

TEST_F(FilterDesignTest, ConsoleBandMeetsItsMask) {
  configure(11, 48000);
  designFilter(300, 2700);
  double worstPass = 0.0, weakestStop = 1e9;
  for (double hz = 400; hz <= 2600; hz += e().binWidth) {
    worstPass = std::max(worstPass, std::abs(dbAt(hz)));
  }
  for (double hz = e().binWidth; hz < 100; hz += e().binWidth) {
    weakestStop = std::min(weakestStop, -dbAt(hz));
  }
  for (double hz = 2900; hz < 24000 - e().binWidth; hz += e().binWidth) {
    weakestStop = std::min(weakestStop, -dbAt(hz));
  }
  EXPECT_LT(worstPass, 0.01);
  EXPECT_GT(weakestStop, 100.0);
  // Real taps: the mirrored band (negative frequencies) matches.
  const int m = e().fftLength;
  for (int k = 1; k < m; k += 37) {
    ASSERT_NEAR(e().filterMag[k], e().filterMag[m - k], 1e-9);
  }
  // The taps fill N entries; the rest is zero padding.
  for (int k = e().blockSamples; k < m; ++k) ASSERT_EQ(e().tapsRe[k], 0.0);
}

// Requests outside 50..6000 Hz, or inverted, design 50..6000 Hz.
TEST_F(FilterDesignTest, OutOfRangeBandsBecomeTheFallbackBand) {
  configure(11, 48000);
  designFilter(50, 6000);
  const std::vector<double> fallback(e().filterMag.begin(), e().filterMag.end());
  for (auto [low, high] : {std::pair{30, 3000}, {50, 6001}, {2000, 1000}}) {
    designFilter(300, 2700);
    designFilter(low, high);
    EXPECT_EQ(std::vector<double>(e().filterMag.begin(), e().filterMag.end()),
              fallback)
        << low << ".." << high;
  }
  EXPECT_NEAR(dbAt(3000), 0.0, 0.01);
}

// At 8000 Hz the fallback's 6000 Hz edge lies above half the rate: it moves
// just below it instead of reaching the design, which refuses it.
TEST_F(FilterDesignTest, EdgesAboveHalfTheRateAreHeldBelowIt) {
  configure(8, 8000);
  designFilter(300, 2700);
  const std::vector<double> before(e().filterMag.begin(), e().filterMag.end());
  designFilter(1000, 6000);  // 6000 Hz: substitution keeps it, then clamped
  EXPECT_NE(std::vector<double>(e().filterMag.begin(), e().filterMag.end()), before);
  EXPECT_NEAR(dbAt(2000), 0.0, 0.1);
  EXPECT_LT(dbAt(500), -40.0);

  configure(8, 11025);
  designFilter(300, 2700);
  const std::vector<double> kept(e().filterMag.begin(), e().filterMag.end());
  designFilter(5600, 5800);  // both edges above 5512.5 Hz: empty, skipped
  EXPECT_EQ(std::vector<double>(e().filterMag.begin(), e().filterMag.end()), kept);
}

TEST_F(FilterDesignTest, ShorterConfigurationLeavesNoStaleTaps) {
  configure(12, 48000);
  designFilter(300, 2700);
  configure(11, 48000);  // arrays keep their leading elements
  designFilter(300, 2700);
  for (int k = e().blockSamples; k < e().fftLength; ++k) ASSERT_EQ(e().tapsRe[k], 0.0);
  for (int k = 0; k < e().fftLength; ++k) ASSERT_EQ(e().tapsIm[k], 0.0);
}

}  // namespace
}  // namespace bw::test
