// Polar conversions against long double libm at every kernel set this CPU
// runs: random values over the whole double range and every pairing of zeros,
// denormals, extremes, infinities and NaN.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "primitives/kernel_set.h"
#include "primitives/nsp.h"
#include "support/kernel_sets.h"

namespace bw::nsp {
namespace {

constexpr long double kRelTol = 1e-13L;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();

// NaN where the reference is NaN, the same infinity where it is infinite in
// double (also by overflow), else within kRelTol of `scale` (plus two denormal steps for results that
// round in the subnormal range).
void expectNear(double got, long double ref, long double scale,
                const std::string& what) {
  if (std::isnan(ref)) {
    EXPECT_TRUE(std::isnan(got)) << what << " got " << got;
  } else if (std::isinf(static_cast<double>(ref))) {
    EXPECT_EQ(got, static_cast<double>(ref)) << what;
  } else {
    EXPECT_LE(std::fabs(got - ref), kRelTol * std::fabs(scale) + 2 * kTiny)
        << what << " got " << got << " want " << static_cast<double>(ref);
  }
}

const std::vector<double> kSpecial{
    0.0,     -0.0,     kTiny,   -kTiny, 1e-310, DBL_MIN, -1e-160, 1e-150,
    1.0,     -1.0,     3.0,     -4.0,   1e154,  -1e200,  DBL_MAX, -DBL_MAX,
    kInf,    -kInf,    kNan};

// Magnitudes log-uniform over the double range, random signs.
std::vector<double> wideRandom(int n, unsigned seed, double lowExp,
                               double highExp) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> e(lowExp, highExp);
  std::vector<double> v(n);
  for (auto& x : v) x = std::pow(10.0, e(rng)) * ((rng() & 1) ? -1.0 : 1.0);
  return v;
}

std::string pair(double a, double b) {
  std::ostringstream out;
  out << '(' << a << ", " << b << ')';
  return out.str();
}

// Runs `check` once per kernel set, with that set active.
template <typename F>
void atEveryKernelSet(F check) {
  for (KernelSet set : supportedKernelSets()) {
    test::ScopedKernelSet use(set);
    check(std::string(kernelSetName(set)));
  }
}

TEST(PolarTest, CartToPolarMatchesLongDoubleOverTheWholeRange) {
  std::vector<double> re, im;
  for (double x : kSpecial) {
    for (double y : kSpecial) {
      re.push_back(x);
      im.push_back(y);
    }
  }
  const auto rx = wideRandom(3001, 1, -320, 308), ry = wideRandom(3001, 2, -320, 308);
  const auto cx = wideRandom(3001, 3, -5, 12), cy = wideRandom(3001, 4, -5, 12);
  re.insert(re.end(), rx.begin(), rx.end());
  im.insert(im.end(), ry.begin(), ry.end());
  re.insert(re.end(), cx.begin(), cx.end());
  im.insert(im.end(), cy.begin(), cy.end());
  const int n = static_cast<int>(re.size());  // odd: a remainder too

  atEveryKernelSet([&](const std::string& set) {
    std::vector<double> mag(n), phase(n);
    nspdbrCartToPolar(re.data(), im.data(), mag.data(), phase.data(), n);
    for (int i = 0; i < n; ++i) {
      const long double x = re[i], y = im[i];
      const long double m = std::hypot(x, y), p = std::atan2(y, x);
      const std::string at = set + " at " + pair(re[i], im[i]);
      expectNear(mag[i], m, m, "mag " + at);
      expectNear(phase[i], p, p, "phase " + at);
    }
  });
}

TEST(PolarTest, PolarToCartMatchesLongDoubleOverTheWholeRange) {
  const double pi = std::numbers::pi;
  const std::vector<double> phases{
      0.0,    -0.0,   kTiny,  1e-310,  1e-300, pi / 4,  -pi / 2, pi,
      -pi,    2 * pi, 9.9e5,  1e6,     -1.0000001e6, 1e15, 1e300, kInf,
      -kInf,  kNan};
  std::vector<double> mag, phase;
  for (double m : kSpecial) {
    for (double p : phases) {
      mag.push_back(m);
      phase.push_back(p);
    }
  }
  // Phases as the chain makes them (atan2 plus a filter phase) and far beyond.
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> chain(-4 * pi, 4 * pi);
  const auto wide = wideRandom(2001, 6, -3, 20);
  const auto mags = wideRandom(4002, 7, -300, 300);
  for (int i = 0; i < 2001; ++i) phase.push_back(chain(rng));
  phase.insert(phase.end(), wide.begin(), wide.end());
  mag.insert(mag.end(), mags.begin(), mags.end());
  const int n = static_cast<int>(mag.size());

  atEveryKernelSet([&](const std::string& set) {
    std::vector<double> re(n), im(n);
    nspdbrPolarToCart(mag.data(), phase.data(), re.data(), im.data(), n);
    for (int i = 0; i < n; ++i) {
      // Relative to the magnitude: near a zero of cos or sin a component is
      // only as exact as the phase itself.
      const long double m = mag[i], p = phase[i];
      const std::string at = set + " at " + pair(mag[i], phase[i]);
      expectNear(re[i], m * std::cos(p), m, "re " + at);
      expectNear(im[i], m * std::sin(p), m, "im " + at);
    }
  });
}

TEST(PolarTest, ZeroMagnitudesGiveZerosSignedAsTheProductsAre) {
  // Whole vectors of zero magnitudes (a removed sideband) take a short path;
  // the zeros it writes must carry the signs of m cos p and m sin p.
  const double pi = std::numbers::pi;
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> chain(-4 * pi, 4 * pi);
  std::vector<double> mag, phase;
  for (double m : {0.0, -0.0}) {
    for (double p : {0.0, -0.0, pi / 2, -pi / 2, pi, -pi, 3 * pi / 2, 1e-300}) {
      mag.push_back(m);
      phase.push_back(p);
    }
    for (int i = 0; i < 40; ++i) {
      mag.push_back(m);
      phase.push_back(chain(rng));
    }
  }
  const int n = static_cast<int>(mag.size());
  atEveryKernelSet([&](const std::string& set) {
    std::vector<double> re(n, 1.0), im(n, 1.0);
    nspdbrPolarToCart(mag.data(), phase.data(), re.data(), im.data(), n);
    for (int i = 0; i < n; ++i) {
      const std::string at = set + " at " + pair(mag[i], phase[i]);
      EXPECT_EQ(re[i], 0.0) << at;
      EXPECT_EQ(std::signbit(re[i]), std::signbit(mag[i] * std::cos(phase[i]))) << "re " << at;
      EXPECT_EQ(std::signbit(im[i]), std::signbit(mag[i] * std::sin(phase[i]))) << "im " << at;
    }
  });
}

TEST(PolarTest, RoundTripInPlace) {
  // Outputs may be the input arrays themselves, also where lanes take the
  // libm path.
  const int n = 515;
  atEveryKernelSet([&](const std::string& set) {
    auto a = wideRandom(n, 8, -2, 6), b = wideRandom(n, 9, -2, 6);
    a[100] = 1e-300;
    b[100] = 2e-300;
    const auto re0 = a, im0 = b;
    nspdbrCartToPolar(a.data(), b.data(), a.data(), b.data(), n);
    EXPECT_NEAR(a[100], std::sqrt(5.0) * 1e-300, 1e-309) << set;
    nspdbrPolarToCart(a.data(), b.data(), a.data(), b.data(), n);
    for (int i = 0; i < n; ++i) {
      const double scale = std::hypot(re0[i], im0[i]);
      EXPECT_NEAR(a[i], re0[i], 1e-13 * scale) << set << " at " << i;
      EXPECT_NEAR(b[i], im0[i], 1e-13 * scale) << set << " at " << i;
    }
  });
}

TEST(PolarTest, CountBelowOneWritesNothing) {
  std::vector<double> x{1.0, 2.0}, y{3.0, 4.0};
  nspdbrCartToPolar(x.data(), x.data(), y.data(), y.data(), 0);
  nspdbrPolarToCart(x.data(), x.data(), y.data(), y.data(), -1);
  EXPECT_EQ(y, (std::vector<double>{3.0, 4.0}));
}

}  // namespace
}  // namespace bw::nsp
