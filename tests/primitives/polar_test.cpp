// Polar conversions against long double libm on random and special inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "primitives/nsp.h"

namespace bw::nsp {
namespace {

// |got - ref| within 1e-9 of |ref| (results of exactly 0 must be exact up to
// the smallest normal number).
void expectClose(double got, long double ref, const char* what, int i) {
  const long double tol =
      1e-9L * std::fabs(ref) + std::numeric_limits<double>::min();
  EXPECT_LE(std::fabs(got - ref), tol) << what << " at " << i;
}

std::vector<double> randomValues(int n, unsigned seed, double scale) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> v(n);
  for (auto& x : v) x = u(rng) * scale;
  return v;
}

TEST(PolarTest, CartToPolarMatchesHypotAndAtan2) {
  // Odd length so both the vector body and the remainder run; several scales
  // spanning the engine's (device integer scale times M).
  const int n = 1027;
  for (double scale : {1e-3, 1.0, 32767.0, 1e12}) {
    const auto re = randomValues(n, 1, scale);
    const auto im = randomValues(n, 2, scale);
    std::vector<double> mag(n), phase(n);
    nspdbrCartToPolar(re.data(), im.data(), mag.data(), phase.data(), n);
    for (int i = 0; i < n; ++i) {
      const long double x = re[i], y = im[i];
      expectClose(mag[i], std::sqrt(x * x + y * y), "mag", i);
      expectClose(phase[i], std::atan2(y, x), "phase", i);
    }
  }
}

TEST(PolarTest, CartToPolarAxesZeroAndExtremeMagnitudes) {
  const double pi = std::numbers::pi;
  const double big = 1e300, tiny = 1e-300;
  const std::vector<double> re{0.0, 1.0, -1.0, 0.0,  0.0, -1.0, 3.0,
                               big, tiny, -big, 5.0};
  const std::vector<double> im{0.0, 0.0, 0.0,  2.0, -2.0, -0.0, 4.0,
                               big, tiny, 0.0,  -12.0};
  const int n = static_cast<int>(re.size());
  std::vector<double> mag(n), phase(n);
  nspdbrCartToPolar(re.data(), im.data(), mag.data(), phase.data(), n);
  const std::vector<long double> wantMag{
      0, 1, 1, 2, 2, 1, 5, std::sqrt(2.0L) * big, std::sqrt(2.0L) * tiny, big,
      13};
  const std::vector<long double> wantPhase{
      0, 0, pi, pi / 2, -pi / 2, -pi, std::atan2(4.0L, 3.0L), pi / 4, pi / 4,
      pi, std::atan2(-12.0L, 5.0L)};
  for (int i = 0; i < n; ++i) {
    expectClose(mag[i], wantMag[i], "mag", i);
    expectClose(phase[i], wantPhase[i], "phase", i);
  }
}

TEST(PolarTest, PolarToCartMatchesCosAndSin) {
  const int n = 1027;
  const auto mag = randomValues(n, 3, 1e6);
  // Phases as the chain produces them (atan2 plus a filter phase) and far
  // beyond, where argument reduction matters.
  for (double span : {4.0 * std::numbers::pi, 1e3, 1e7}) {
    const auto phase = randomValues(n, 4, span);
    std::vector<double> re(n), im(n);
    nspdbrPolarToCart(mag.data(), phase.data(), re.data(), im.data(), n);
    for (int i = 0; i < n; ++i) {
      const long double m = mag[i], p = phase[i];
      // Relative to the magnitude: a component near a zero of cos or sin is
      // only as exact as the phase itself.
      EXPECT_LE(std::fabs(re[i] - m * std::cos(p)), 1e-9L * std::fabs(m)) << i;
      EXPECT_LE(std::fabs(im[i] - m * std::sin(p)), 1e-9L * std::fabs(m)) << i;
    }
  }
}

TEST(PolarTest, RoundTripAndInPlaceUse) {
  // The chain converts its work arrays in place: outputs may be the inputs.
  const int n = 515;
  auto a = randomValues(n, 5, 1e4);
  auto b = randomValues(n, 6, 1e4);
  const auto re0 = a, im0 = b;
  nspdbrCartToPolar(a.data(), b.data(), a.data(), b.data(), n);
  nspdbrPolarToCart(a.data(), b.data(), a.data(), b.data(), n);
  for (int i = 0; i < n; ++i) {
    EXPECT_NEAR(a[i], re0[i], 1e-9 * 1e4) << i;
    EXPECT_NEAR(b[i], im0[i], 1e-9 * 1e4) << i;
  }
}

TEST(PolarTest, CountBelowOneWritesNothing) {
  std::vector<double> x{1.0, 2.0}, y{3.0, 4.0};
  nspdbrCartToPolar(x.data(), x.data(), y.data(), y.data(), 0);
  nspdbrPolarToCart(x.data(), x.data(), y.data(), y.data(), -1);
  EXPECT_EQ(y, (std::vector<double>{3.0, 4.0}));
}

}  // namespace
}  // namespace bw::nsp
