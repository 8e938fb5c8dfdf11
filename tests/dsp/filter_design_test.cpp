// The designed response against a spectral mask, the band substitutions, and
// the minimum-phase form of every band shape.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory_resource>
#include <tuple>

#include <vector>

#include "dsp/filter_design.h"
#include "dsp/receive_mode.h"
#include "dsp/split_buffer.h"

namespace bw {
namespace {

// The design's arrays as a chain of order `order` at `rate` holds them.
class FilterDesignTest : public ::testing::Test {
 protected:
  void configure(int order, int rate) {
    order_ = order;
    rate_ = rate;
    n = 1 << order;
    m = 2 * n;
    binWidth = double(rate) / m;
    ASSERT_TRUE(transform.plan(order + 1));
    taps.resize(order + 1);
    resp.resize(order + 1);
    tapsRe = taps.re();
    tapsIm = taps.im();
    for (auto* v : {&filterMag, &filterPhase}) v->resize(m, 0.0);
  }
  void designFilter(int low, int high) {
    bw::designFilter({taps.re(), taps.im(), resp.re(), resp.im(),
                      filterMag.data(), filterPhase.data()},
                     n, transform, rate_, low, high, directPrimitives());
  }
  double dbAt(double hz) const {
    const int k = static_cast<int>(std::lround(hz / binWidth));
    return 20.0 * std::log10(filterMag[k]);
  }

  int order_ = 0, rate_ = 0, n = 0, m = 0;
  double binWidth = 0.0;
  nsp::FftTransform transform;
  // The taps and their transform in the layout the transform runs on.
  SplitBuffer taps{std::pmr::get_default_resource()};
  SplitBuffer resp{std::pmr::get_default_resource()};
  double* tapsRe = nullptr;
  double* tapsIm = nullptr;
  std::vector<double> filterMag, filterPhase;
};

TEST_F(FilterDesignTest, ConsoleBandMeetsItsMask) {
  configure(11, 48000);
  designFilter(300, 2700);
  double worstPass = 0.0, weakestStop = 1e9;
  for (double hz = 400; hz <= 2600; hz += binWidth) {
    worstPass = std::max(worstPass, std::abs(dbAt(hz)));
  }
  for (double hz = binWidth; hz < 100; hz += binWidth) {
    weakestStop = std::min(weakestStop, -dbAt(hz));
  }
  for (double hz = 2900; hz < 24000 - binWidth; hz += binWidth) {
    weakestStop = std::min(weakestStop, -dbAt(hz));
  }
  EXPECT_LT(worstPass, 0.01);
  EXPECT_GT(weakestStop, 100.0);
  // Real taps: the mirrored band (negative frequencies) matches.
  for (int k = 1; k < m; k += 37) {
    ASSERT_NEAR(filterMag[k], filterMag[m - k], 1e-9);
  }
  // The taps fill N entries; the rest is zero padding.
  for (int k = n; k < m; ++k) ASSERT_EQ(tapsRe[k], 0.0);
}

// Requests outside 50..6000 Hz, or inverted, design 50..6000 Hz.
TEST_F(FilterDesignTest, OutOfRangeBandsBecomeTheFallbackBand) {
  configure(11, 48000);
  designFilter(50, 6000);
  const std::vector<double> fallback(filterMag.begin(), filterMag.end());
  for (auto [low, high] : {std::pair{30, 3000}, {50, 6001}, {2000, 1000}}) {
    designFilter(300, 2700);
    designFilter(low, high);
    EXPECT_EQ(std::vector<double>(filterMag.begin(), filterMag.end()),
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
  const std::vector<double> before(filterMag.begin(), filterMag.end());
  designFilter(1000, 6000);  // 6000 Hz: substitution keeps it, then clamped
  EXPECT_NE(std::vector<double>(filterMag.begin(), filterMag.end()), before);
  EXPECT_NEAR(dbAt(2000), 0.0, 0.1);
  EXPECT_LT(dbAt(500), -40.0);

  configure(8, 11025);
  designFilter(300, 2700);
  const std::vector<double> kept(filterMag.begin(), filterMag.end());
  designFilter(5600, 5800);  // both edges above 5512.5 Hz: empty, skipped
  EXPECT_EQ(std::vector<double>(filterMag.begin(), filterMag.end()), kept);
}

// The chain designs in arrays that hold the previous block's spectrum.
TEST_F(FilterDesignTest, DesignLeavesNoStaleTaps) {
  configure(11, 48000);
  std::fill_n(taps.re(), m, 1.0);
  std::fill_n(taps.im(), m, -1.0);
  designFilter(300, 2700);
  for (int k = n; k < m; ++k) ASSERT_EQ(tapsRe[k], 0.0);
  for (int k = 0; k < m; ++k) ASSERT_EQ(tapsIm[k], 0.0);
}

// The minimum-phase form keeps the magnitude, and its energy comes first: at
// every tap its running energy is at least the linear-phase filter's.
TEST_F(FilterDesignTest, MinimumPhaseKeepsTheMagnitudeAndComesFirst) {
  for (int order : {9, 11}) {
    configure(order, 48000);
    const FilterArrays arrays{tapsRe, tapsIm, resp.re(), resp.im(), filterMag.data(),
                              filterPhase.data()};
    for (auto [shape, low, high] : {std::tuple{BandShape::SteepBandPass, 300, 2700},
                                    {BandShape::SteepBandPass, 450, 950},
                                    {BandShape::LowPass, 50, 4000}}) {
      SCOPED_TRACE(testing::Message() << "order " << order << ", " << low << ".." << high);
      designBand(shape, false, arrays, n, transform, 48000, low, high, directPrimitives());
      const std::vector<double> linearTaps(tapsRe, tapsRe + n), linearMag = filterMag;
      designBand(shape, true, arrays, n, transform, 48000, low, high, directPrimitives());
      for (int k = 0; k < m; ++k) {
        const double lin = 20.0 * std::log10(linearMag[k]), min = 20.0 * std::log10(filterMag[k]);
        ASSERT_TRUE(lin > -1.0 ? std::abs(min - lin) < 0.05 : lin > -100.0 || min < -95.0)
            << "bin " << k << ": " << lin << " dB became " << min << " dB";
      }
      double total = 0.0, linear = 0.0, minimum = 0.0;
      for (double t : linearTaps) total += t * t;
      for (int k = 0; k < n; ++k) {
        linear += linearTaps[k] * linearTaps[k];
        minimum += tapsRe[k] * tapsRe[k] + tapsIm[k] * tapsIm[k];
        ASSERT_GE(minimum, linear - 0.01 * total) << "tap " << k;
      }
    }
  }
}

}  // namespace
}  // namespace bw
