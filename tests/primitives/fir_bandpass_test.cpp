// Band-pass design: the published reference figures, an independent long
// double evaluation of the design formulas, the response it promises, and the
// refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <vector>

#include "primitives/nsp.h"

namespace bw::nsp {
namespace {

constexpr long double kPiL = std::numbers::pi_v<long double>;

// The design written out directly from its definition, in long double.
std::vector<long double> referenceTaps(long double low, long double high,
                                       int len, bool normalise) {
  const long double alpha = -0.5L / (1 + std::cos(2 * kPiL / (len - 1)));
  std::vector<long double> taps(len);
  for (int n = 0; n < len; ++n) {
    const long double m = n - (len - 1) / 2.0L;
    const long double h =
        m == 0 ? 2 * (high - low)
               : (std::sin(2 * kPiL * high * m) - std::sin(2 * kPiL * low * m)) /
                     (kPiL * m);
    const long double w = (alpha + 1) / 2 -
                          0.5L * std::cos(2 * kPiL * n / (len - 1)) -
                          alpha / 2 * std::cos(4 * kPiL * n / (len - 1));
    taps[n] = (n == 0 || n == len - 1) ? 0 : h * w;
  }
  if (normalise) {
    const long double f0 = (low + high) / 2;
    long double g = 0;
    for (int n = 0; n < len; ++n) {
      g += taps[n] * std::cos(2 * kPiL * f0 * (n - (len - 1) / 2.0L));
    }
    for (auto& t : taps) t /= g;
  }
  return taps;
}

// |H(f)| of the taps, f as a fraction of the sample rate.
long double response(const std::vector<double>& taps, long double f) {
  std::complex<long double> sum = 0;
  for (std::size_t n = 0; n < taps.size(); ++n) {
    sum += static_cast<long double>(taps[n]) *
           std::polar(1.0L, -2 * kPiL * f * static_cast<long double>(n));
  }
  return std::abs(sum);
}

TEST(FirBandpassTest, ReproducesPublishedFiguresAndResponse) {
  std::vector<double> taps(2048);
  ASSERT_EQ(nspdFirBandpass(0.00625, 0.05625, taps.data(), 2048,
                            kWindowOptimalBlackman, kNormaliseCentre),
            0);
  EXPECT_NEAR(taps[1023], 0.099416073736498314, 1e-15);
  EXPECT_NEAR(taps[1024], 0.099416073736498314, 1e-15);
  EXPECT_NEAR(taps[1022], 0.094810049778271746, 1e-15);
  EXPECT_NEAR(taps[512], -0.00030156085018741811, 1e-17);
  EXPECT_EQ(taps[0], 0.0);
  EXPECT_EQ(taps[2047], 0.0);
  EXPECT_NEAR(response(taps, 0.03125L), 1.0L, 1e-12);
  EXPECT_NEAR(response(taps, 0.00625L), 0.5L, 1e-3);
  EXPECT_NEAR(response(taps, 0.05625L), 0.5L, 1e-3);
  // Far from the edges the window's side lobes keep the stop band low.
  for (long double f : {0.0L, 0.1L, 0.25L, 0.5L}) {
    EXPECT_LT(response(taps, f), 1e-3L) << static_cast<double>(f);
  }
}

TEST(FirBandpassTest, MatchesTheDefinitionForEvenAndOddLengths) {
  struct Case {
    double low, high;
    int len;
    int normalise;
  };
  for (const Case& c : {Case{0.00625, 0.05625, 2048, 1}, Case{0.1, 0.2, 5, 1},
                        Case{0.1, 0.2, 6, 1}, Case{0.01, 0.4, 101, 1},
                        Case{0.2, 0.2001, 4096, 1}, Case{0.05, 0.3, 33, 0},
                        Case{0.3, 0.499, 64, 0}}) {
    std::vector<double> taps(c.len);
    ASSERT_EQ(nspdFirBandpass(c.low, c.high, taps.data(), c.len,
                              kWindowOptimalBlackman, c.normalise),
              0);
    const auto ref = referenceTaps(c.low, c.high, c.len, c.normalise != 0);
    long double peak = 0;
    for (auto t : ref) peak = std::max(peak, std::fabs(t));
    for (int n = 0; n < c.len; ++n) {
      EXPECT_LE(std::fabs(taps[n] - ref[n]), 1e-9L * peak)
          << "len " << c.len << " low " << c.low << " tap " << n;
    }
  }
}

TEST(FirBandpassTest, RefusedArgumentsWriteNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    double low, high;
    int len, window;
  };
  const int w = kWindowOptimalBlackman;
  for (const Case& c :
       {Case{0.0, 0.1, 64, w}, Case{-0.1, 0.1, 64, w}, Case{0.2, 0.2, 64, w},
        Case{0.3, 0.2, 64, w}, Case{0.1, 0.5, 64, w}, Case{0.1, 0.7, 64, w},
        Case{nan, 0.2, 64, w}, Case{0.1, nan, 64, w},
        Case{0.1, std::numeric_limits<double>::infinity(), 64, w},
        Case{0.1, 0.2, 4, w}, Case{0.1, 0.2, 0, w}, Case{0.1, 0.2, -8, w},
        Case{0.1, 0.2, 64, 1}, Case{0.1, 0.2, 64, 0}}) {
    std::vector<double> taps(64, 123.0);
    EXPECT_NE(nspdFirBandpass(c.low, c.high, taps.data(), c.len, c.window,
                              kNormaliseCentre),
              0)
        << c.low << " " << c.high << " " << c.len << " " << c.window;
    EXPECT_EQ(taps, std::vector<double>(64, 123.0));
  }
  EXPECT_NE(nspdFirBandpass(0.1, 0.2, nullptr, 64, w, kNormaliseCentre), 0);
}

}  // namespace
}  // namespace bw::nsp
