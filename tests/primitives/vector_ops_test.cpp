// Element-wise operations, threshold and extrema of the primitive set.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/kernel_sets.h"
#include "primitives/chain_helpers.h"
#include "primitives/nsp.h"

namespace bw::nsp {
namespace {

TEST(VectorOpsTest, ArithmeticWorksOnTheFirstNElementsOnly) {
  const std::vector<double> src{2.0, -3.0, 0.5, 100.0};
  std::vector<double> dst{1.5, 4.0, -8.0, 9.0};
  nspdbMpy2(src.data(), dst.data(), 3);
  EXPECT_EQ(dst, (std::vector<double>{3.0, -12.0, -4.0, 9.0}));
  nspdbAdd2(src.data(), dst.data(), 3);
  EXPECT_EQ(dst, (std::vector<double>{5.0, -15.0, -3.5, 9.0}));
  nspdbMpy1(-2.0, dst.data(), 3);
  EXPECT_EQ(dst, (std::vector<double>{-10.0, 30.0, 7.0, 9.0}));
  std::vector<double> sum(4, 42.0);
  nspdbAdd3(src.data(), dst.data(), sum.data(), 3);
  EXPECT_EQ(sum, (std::vector<double>{-8.0, 27.0, 7.5, 42.0}));
  // n below 1 touches nothing.
  nspdbMpy1(0.0, dst.data(), 0);
  nspdbAdd2(src.data(), dst.data(), -5);
  EXPECT_EQ(dst, (std::vector<double>{-10.0, 30.0, 7.0, 9.0}));
}

TEST(VectorOpsTest, Add3AllowsTheDestinationToBeEitherSource) {
  // Lengths beyond a vector width, with an odd remainder.
  const int n = 37;
  std::vector<double> a(n), b(n), expected(n);
  for (int i = 0; i < n; ++i) {
    a[i] = 0.25 * i - 3.0;
    b[i] = 1000.0 - 7.0 * i;
    expected[i] = a[i] + b[i];
  }
  std::vector<double> a2 = a, b2 = b;
  nspdbAdd3(a2.data(), b.data(), a2.data(), n);
  EXPECT_EQ(a2, expected);
  nspdbAdd3(a.data(), b2.data(), b2.data(), n);
  EXPECT_EQ(b2, expected);
}

TEST(VectorOpsTest, ThreshGreaterClipsOnlyFromAboveOtherRelationsLeaveVector) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> v{-40000.0, 32766.0, 32767.0, 32768.0, 1e300, nan};
  nspdbThresh1(v.data(), 5, 32767.0, kThreshGreater);
  EXPECT_EQ(v[0], -40000.0);  // below the level: kept
  EXPECT_EQ(v[1], 32766.0);
  EXPECT_EQ(v[2], 32767.0);
  EXPECT_EQ(v[3], 32767.0);
  EXPECT_EQ(v[4], 32767.0);
  EXPECT_TRUE(std::isnan(v[5]));  // beyond n

  std::vector<double> w{5.0, -5.0, 50.0};
  for (int relation : {0, 2, -1}) {
    nspdbThresh1(w.data(), 3, 1.0, relation);
    EXPECT_EQ(w, (std::vector<double>{5.0, -5.0, 50.0})) << relation;
  }
}

TEST(VectorOpsTest, MaxAndMinOfFirstNElementsAndZeroForEmpty) {
  const std::vector<double> v{3.0, -1.0, 8.0, -9.0, 100.0};
  EXPECT_EQ(nspdMax(v.data(), 4), 8.0);
  EXPECT_EQ(nspdMin(v.data(), 4), -9.0);
  EXPECT_EQ(nspdMax(v.data() + 3, 1), -9.0);
  EXPECT_EQ(nspdMin(v.data(), 1), 3.0);
  const std::vector<double> negatives{-5.0, -2.0, -7.0};
  EXPECT_EQ(nspdMax(negatives.data(), 3), -2.0);
  // n < 1 never reads the array (null is fine) and answers 0.
  EXPECT_EQ(nspdMax(nullptr, 0), 0.0);
  EXPECT_EQ(nspdMin(nullptr, -3), 0.0);
  EXPECT_EQ(nspdMax(negatives.data(), 0), 0.0);
}

// The scalar rule nspdMax is defined by.
double scalarMax(const std::vector<double>& v) {
  double best = v[0];
  for (double x : v) best = x > best ? x : best;
  return best;
}

TEST(VectorOpsTest, MaxAndCountsAgreeWithOneScalarPassAtEveryKernelSet) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  // Lengths around every vector width; NaN first (it wins), NaN later (it
  // never does), zeros of both signs as the largest values, infinities.
  std::vector<std::vector<double>> cases;
  for (int n : {1, 2, 3, 7, 8, 9, 17, 33}) {
    std::vector<double> v(n);
    for (int i = 0; i < n; ++i) v[i] = std::sin(7.1 * i) * 10.0;
    cases.push_back(v);
    v[n / 2] = nan;
    cases.push_back(v);
    v[0] = nan;
    cases.push_back(v);
    std::vector<double> zeros(n, -1.0);
    zeros[n - 1] = 0.0;
    zeros[n / 3] = -0.0;
    cases.push_back(zeros);
    if (n > 8) {  // the first zero is -0, a later one in a lower lane +0
      std::vector<double> signs(n, -1.0);
      signs[1] = -0.0;
      signs[8] = 0.0;
      cases.push_back(signs);
    }
    v[0] = -inf;
    v[n - 1] = inf;
    cases.push_back(v);
  }
  for (KernelSet set : supportedKernelSets()) {
    test::ScopedKernelSet use(set);
    for (const auto& v : cases) {
      const int n = static_cast<int>(v.size());
      const double want = scalarMax(v);
      const double got = nspdMax(v.data(), n);
      EXPECT_TRUE(std::isnan(want) ? std::isnan(got)
                                   : got == want && std::signbit(got) == std::signbit(want))
          << kernelSetName(set) << " n=" << n;
      long long counts[2];
      countAbove(v.data(), n, 2.0, 5.0, counts);
      long long above2 = 0, above5 = 0;
      for (double x : v) {
        above2 += x > 2.0;
        above5 += x > 2.0 && x > 5.0;
      }
      EXPECT_EQ(counts[0], above2) << kernelSetName(set) << " n=" << n;
      EXPECT_EQ(counts[1], above5) << kernelSetName(set) << " n=" << n;
    }
  }
}

TEST(VectorOpsTest, RoundingToInt32TiesToEvenHoldsTheRangeAndZeroesNaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> in{0.5,  1.5,  -2.5, 2.5000001, -0.49, 7.0,
                               nan,  inf,  -inf, 2147483646.5, 2147483647.4,
                               3e9,  -3e9, -2147483648.6, 1e300, -7.5, 32767.5};
  const std::vector<std::int32_t> want{0, 2, -2, 3, 0, 7, 0, INT32_MAX, INT32_MIN,
                                       2147483646, INT32_MAX, INT32_MAX, INT32_MIN,
                                       INT32_MIN, INT32_MAX, -8, 32768};
  for (KernelSet set : supportedKernelSets()) {
    test::ScopedKernelSet use(set);
    // Every start offset, so each value is met in a vector lane and in the
    // scalar remainder.
    for (std::size_t start = 0; start < in.size(); ++start) {
      std::vector<std::int32_t> out(in.size() - start, 12345);
      roundToInt32(in.data() + start, out.data(), static_cast<int>(out.size()));
      EXPECT_EQ(out, std::vector<std::int32_t>(want.begin() + start, want.end()))
          << kernelSetName(set) << " from " << start;
    }
  }
}


// The receiver extensions' kernels against one scalar pass, at lengths and
// strides around every vector width.
TEST(VectorOpsTest, ExtensionKernelsAgreeWithOneScalarPassAtEveryKernelSet) {
  for (KernelSet set : supportedKernelSets()) {
    test::ScopedKernelSet use(set);
    for (int n : {1, 7, 8, 9, 33, 256}) {
      std::vector<double> re(n), im(n), tr(n), ti(n);
      for (int i = 0; i < n; ++i) {
        re[i] = std::sin(0.3 * i) * 100.0;
        im[i] = std::cos(0.7 * i) * 50.0;
        tr[i] = std::cos(0.01 * i);
        ti[i] = -std::sin(0.01 * i);
      }
      std::vector<double> wantRe = re, wantIm = im;
      const double c = std::cos(1.1), s = std::sin(1.1);
      for (int i = 0; i < n; ++i) {
        const std::complex<double> w = std::complex<double>(c, s) * std::complex<double>(tr[i], ti[i]);
        const std::complex<double> z = std::complex<double>(re[i], im[i]) * w;
        wantRe[i] = z.real();
        wantIm[i] = z.imag();
      }
      rotateByTable(re.data(), im.data(), tr.data(), ti.data(), c, s, n);
      for (int i = 0; i < n; ++i) {
        ASSERT_NEAR(re[i], wantRe[i], 1e-12) << kernelSetName(set) << " n=" << n << " i=" << i;
        ASSERT_NEAR(im[i], wantIm[i], 1e-12) << kernelSetName(set) << " n=" << n << " i=" << i;
      }
    }
    for (int stride : {1, 4, 8, 16, 64}) {
      const int n = 4 * stride + 3;  // a short rest stays untouched
      std::vector<double> x(n), ramp(stride);
      for (int i = 0; i < n; ++i) x[i] = 500.0 + 200.0 * std::sin(0.37 * i);
      for (int i = 0; i < stride; ++i) ramp[i] = (i + 1.0) / stride;
      std::vector<double> want = x;
      double level = 100.0;
      for (int start = 0; start + stride <= n; start += stride) {
        double sum = 0.0;
        for (int i = 0; i < stride; ++i) sum += want[start + i];
        const double delta = 0.25 * (sum / stride - level);
        for (int i = 0; i < stride; ++i) want[start + i] -= level + delta * ramp[i];
        level += delta;
      }
      const double got = removeRunLevels(x.data(), n, stride, 0.25, ramp.data(), 100.0);
      EXPECT_NEAR(got, level, 1e-9) << kernelSetName(set) << " stride " << stride;
      for (int i = 0; i < n; ++i) {
        ASSERT_NEAR(x[i], want[i], 1e-9) << kernelSetName(set) << " stride " << stride << " i=" << i;
      }
    }
  }
}

// The detectors' kernels against one scalar pass of what their headers say,
// at lengths around every vector width.
TEST(VectorOpsTest, DetectorKernelsAgreeWithOneScalarPassAtEveryKernelSet) {
  using C = std::complex<double>;
  const double taps[4] = {1.0, -0.7, 0.2, -0.02};
  const double coef[5] = {0.9, -1.8, 0.9, -1.7, 0.75};
  const auto at = [](int i) { return C(100.0 * std::sin(0.3 * i), 50.0 * std::cos(0.7 * i)); };
  for (KernelSet set : supportedKernelSets()) {
    test::ScopedKernelSet use(set);
    for (int n : {1, 7, 8, 9, 16, 33}) {
      std::vector<double> re(n + 12), im(n + 12), mag(n);
      for (int i = 0; i < n + 12; ++i) re[i] = at(i).real(), im[i] = at(i).imag();
      evenTapMagnitude(re.data() + 6, im.data() + 6, taps, mag.data(), n);
      for (int k = 0; k < n; ++k) {
        C want = taps[0] * at(k + 6);
        for (int j = 1; j < 4; ++j) want += taps[j] * (at(k + 6 - 2 * j) + at(k + 6 + 2 * j));
        ASSERT_NEAR(mag[k], std::abs(want), 1e-9) << kernelSetName(set) << " taps n=" << n;
      }
      // The oscillator: z[k] = x[k] exp(j (1.1 - 0.2 k)).
      const SpinSums got = spinAndSum(re.data(), im.data(), n, std::cos(1.1), std::sin(1.1),
                                      std::cos(0.2), -std::sin(0.2));
      C sum, lag, last;
      double power = 0.0;
      for (int k = 0; k < n; ++k) {
        const C z = at(k) * std::polar(1.0, 1.1 - 0.2 * k);
        ASSERT_NEAR(std::abs(C(re[k], im[k]) - z), 0.0, 1e-10) << kernelSetName(set) << " spin";
        sum += z;
        power += std::norm(z);
        lag += z * std::conj(last);
        last = z;
      }
      const double sums[] = {got.sumRe, got.sumIm, got.power, got.lagRe, got.lagIm};
      const double want[] = {sum.real(), sum.imag(), power, lag.real(), lag.imag()};
      for (int i = 0; i < 5; ++i) ASSERT_NEAR(sums[i], want[i], 1e-7) << kernelSetName(set) << i;
      EXPECT_NEAR(std::abs(C(got.nextRe, got.nextIm) - std::polar(1.0, 1.1 - 0.2 * n)), 0.0, 1e-13);

      // A tone of 0.3 rad a sample cancelled by runs of 8; one section.
      std::vector<double> tr(9), ti(9), x(n), y(n);
      for (int k = 0; k <= 8; ++k) tr[k] = std::cos(0.3 * k), ti[k] = std::sin(0.3 * k);
      for (int k = 0; k < n; ++k) x[k] = at(k).real(), y[k] = at(k).imag();
      double state[4] = {0.6, 0.8, 2.0, -1.0};
      cancelTone(x.data(), y.data(), n, tr.data(), ti.data(), 8, 0.01, state);
      C r(0.6, 0.8), w(2.0, -1.0);
      for (int start = 0; start < n; start += 8) {
        C g;
        const C c = w * r;
        for (int k = 0; k < 8 && start + k < n; ++k) {
          const C t(tr[k], ti[k]), out = at(start + k) - c * t;
          ASSERT_NEAR(std::abs(C(x[start + k], y[start + k]) - out), 0.0, 1e-9) << kernelSetName(set);
          g += out * std::conj(r * t);
        }
        w += 0.01 * g;
        r *= C(tr[8], ti[8]);
      }
      EXPECT_NEAR(std::abs(C(state[2], state[3]) - w), 0.0, 1e-9) << kernelSetName(set);
      EXPECT_NEAR(std::abs(C(state[0], state[1]) - r), 0.0, 1e-12) << kernelSetName(set);
      double h[4] = {1.0, -2.0, 3.0, 0.5}, carried[4] = {1.0, -2.0, 3.0, 0.5};  // x' x'' y' y''
      std::vector<double> out = mag;
      biquad(out.data(), n, coef, carried);
      for (int k = 0; k < n; ++k) {
        const double want = coef[0] * mag[k] + coef[1] * h[0] + coef[2] * h[1] -
                            coef[3] * h[2] - coef[4] * h[3];
        h[1] = h[0], h[0] = mag[k], h[3] = h[2], h[2] = want;
        ASSERT_NEAR(out[k], want, 1e-9) << kernelSetName(set) << " section k=" << k;
      }
      for (int i = 0; i < 4; ++i) EXPECT_NEAR(carried[i], h[i], 1e-9) << kernelSetName(set);
    }
  }
}

}  // namespace
}  // namespace bw::nsp
