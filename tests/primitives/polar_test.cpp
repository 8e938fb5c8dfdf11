// Polar conversions against long double libm on random and special inputs,
// for the public functions and for every SIMD kernel this CPU can run.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "primitives/nsp.h"
#include "primitives/polar_kernels.h"

namespace bw::nsp {
namespace {

using Convert = std::function<void(const double*, const double*, double*,
                                   double*, int)>;

struct Converter {
  std::string name;
  Convert cartToPolar;
  Convert polarToCart;
};

// The public pair, then each kernel with its remainder finished by the public
// function.
std::vector<Converter> converters() {
  std::vector<Converter> all{{"public", nspdbrCartToPolar, nspdbrPolarToCart}};
  for (const auto& k : detail::availablePolarKernels()) {
    all.push_back(
        {k.name,
         [k](const double* a, const double* b, double* c, double* d, int n) {
           const int done = k.cartToPolar(a, b, c, d, n);
           nspdbrCartToPolar(a + done, b + done, c + done, d + done, n - done);
         },
         [k](const double* a, const double* b, double* c, double* d, int n) {
           const int done = k.polarToCart(a, b, c, d, n);
           nspdbrPolarToCart(a + done, b + done, c + done, d + done, n - done);
         }});
  }
  return all;
}

// |got - ref| within 1e-9 of |ref|; a reference of exactly 0 must be met
// exactly (up to the smallest normal number).
void expectClose(double got, long double ref, const std::string& what, int i) {
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
  // Odd length so both the vector body and the remainder run; scales spanning
  // the engine's (device integer scale times M) and beyond.
  const int n = 1027;
  for (const auto& c : converters()) {
    for (double scale : {1e-3, 1.0, 32767.0, 1e12}) {
      const auto re = randomValues(n, 1, scale);
      const auto im = randomValues(n, 2, scale);
      std::vector<double> mag(n), phase(n);
      c.cartToPolar(re.data(), im.data(), mag.data(), phase.data(), n);
      for (int i = 0; i < n; ++i) {
        const long double x = re[i], y = im[i];
        expectClose(mag[i], std::sqrt(x * x + y * y), c.name + " mag", i);
        expectClose(phase[i], std::atan2(y, x), c.name + " phase", i);
      }
    }
  }
}

TEST(PolarTest, CartToPolarAxesZerosAndExtremeMagnitudes) {
  // Sixteen elements so every special value sits inside a full vector; the
  // extremes are where sqrt(re² + im²) would overflow or underflow.
  const double pi = std::numbers::pi;
  const double big = 1e300, tiny = 1e-300, inf = INFINITY;
  const std::vector<double> re{0.0, 1.0,  -1.0, 0.0, 0.0,  -1.0, 3.0, big,
                               tiny, -big, 5.0, 0.0, tiny, 2.0, inf, 1.0};
  const std::vector<double> im{0.0, 0.0, 0.0,  2.0, -2.0, -0.0, 4.0, big,
                               tiny, 0.0, -12.0, 0.0, 0.0, 1e-170, 1.0, inf};
  const std::vector<long double> wantMag{
      0,     1,    1,  2, 2,    1, 5, std::sqrt(2.0L) * big,
      std::sqrt(2.0L) * tiny, big, 13, 0, tiny, 2, INFINITY, INFINITY};
  const std::vector<long double> wantPhase{
      0, 0, pi, pi / 2, -pi / 2, -pi, std::atan2(4.0L, 3.0L), pi / 4,
      pi / 4, pi, std::atan2(-12.0L, 5.0L), 0, 0, 5e-171L, 0, pi / 2};
  const int n = static_cast<int>(re.size());
  for (const auto& c : converters()) {
    std::vector<double> mag(n), phase(n);
    c.cartToPolar(re.data(), im.data(), mag.data(), phase.data(), n);
    for (int i = 0; i < n; ++i) {
      if (std::isinf(wantMag[i])) {
        EXPECT_TRUE(std::isinf(mag[i])) << c.name << " at " << i;
      } else {
        expectClose(mag[i], wantMag[i], c.name + " mag", i);
      }
      expectClose(phase[i], wantPhase[i], c.name + " phase", i);
    }
  }
}

TEST(PolarTest, PolarToCartMatchesCosAndSin) {
  const int n = 1027;
  const auto mag = randomValues(n, 3, 1e6);
  for (const auto& c : converters()) {
    // Phases as the chain produces them (atan2 plus a filter phase), far
    // beyond, where argument reduction matters, and beyond the range of the
    // vector sincos (1e14), where libm takes over.
    for (double span : {4.0 * std::numbers::pi, 1e3, 1e7, 1e16}) {
      const auto phase = randomValues(n, 4, span);
      std::vector<double> re(n), im(n);
      c.polarToCart(mag.data(), phase.data(), re.data(), im.data(), n);
      for (int i = 0; i < n; ++i) {
        const long double m = mag[i], p = phase[i];
        // Relative to the magnitude: near a zero of cos or sin a component is
        // only as exact as the phase itself.
        EXPECT_LE(std::fabs(re[i] - m * std::cos(p)), 1e-9L * std::fabs(m))
            << c.name << " at " << i;
        EXPECT_LE(std::fabs(im[i] - m * std::sin(p)), 1e-9L * std::fabs(m))
            << c.name << " at " << i;
      }
    }
  }
}

TEST(PolarTest, RoundTripInPlace) {
  // Outputs may be the input arrays themselves.
  const int n = 515;
  for (const auto& c : converters()) {
    auto a = randomValues(n, 5, 1e4);
    auto b = randomValues(n, 6, 1e4);
    a[100] = 1e-300;  // takes the exact-magnitude path inside a vector
    b[100] = 2e-300;
    const auto re0 = a, im0 = b;
    c.cartToPolar(a.data(), b.data(), a.data(), b.data(), n);
    EXPECT_NEAR(a[100], std::sqrt(5.0) * 1e-300, 1e-309) << c.name;
    c.polarToCart(a.data(), b.data(), a.data(), b.data(), n);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(a[i], re0[i], 1e-9 * 1e4) << c.name << " at " << i;
      EXPECT_NEAR(b[i], im0[i], 1e-9 * 1e4) << c.name << " at " << i;
    }
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
