// nspzrFftNip against a direct DFT evaluated in long double, plus the plan
// cache's life cycle and its refusals, and the owned transform against it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <complex>
#include <cstddef>
#include <limits>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "primitives/fft_plan.h"
#include "primitives/fft_transform.h"
#include "primitives/nsp.h"

namespace bw::nsp {
namespace {

using LComplex = std::complex<long double>;

struct Signal {
  std::vector<double> re, im;
};

Signal randomSignal(int size, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  Signal s{std::vector<double>(size), std::vector<double>(size)};
  for (int i = 0; i < size; ++i) {
    s.re[i] = u(rng) * 32767.0;
    s.im[i] = u(rng) * 32767.0;
  }
  return s;
}

// Bin k of the direct DFT with the kernel exp(sign j2πkn/M), in long double.
// The twiddle index kn is reduced mod M exactly in integers, so the reference
// is accurate far beyond double precision.
LComplex directBin(const Signal& x, long k, int sign,
                   const std::vector<LComplex>& twiddle) {
  const long size = static_cast<long>(x.re.size());
  LComplex sum = 0;
  for (long n = 0; n < size; ++n) {
    const LComplex w = twiddle[static_cast<std::size_t>((k * n) % size)];
    sum += LComplex(x.re[n], x.im[n]) * (sign < 0 ? std::conj(w) : w);
  }
  return sum;
}

std::vector<LComplex> twiddles(int size) {  // exp(+j2πi/M)
  std::vector<LComplex> w(size);
  const long double pi = std::numbers::pi_v<long double>;
  for (int i = 0; i < size; ++i) {
    const long double a = 2 * pi * i / size;
    w[i] = LComplex(std::cos(a), std::sin(a));
  }
  return w;
}

// Checks the transform of order `order` against the direct DFT on `bins`
// (every bin when bins is empty). FFTW's error grows like eps·log2(M) times the
// output's scale; the bound below allows 8 times that, and anything really
// wrong (a sign, a scale, a swapped half) is off by the output's full scale.
void checkAgainstDft(int order, int flags, const std::vector<long>& bins) {
  const int size = 1 << order;
  const Signal x = randomSignal(size, 1000u + order);
  Signal y{std::vector<double>(size), std::vector<double>(size)};
  ASSERT_EQ(nspzrFftNip(x.re.data(), x.im.data(), y.re.data(), y.im.data(),
                        order, flags),
            0);

  const auto w = twiddles(size);
  const int sign = flags == kFftForward ? -1 : +1;
  const long double scale = flags == kFftForward ? 1.0L : 1.0L / size;
  std::vector<long> check = bins;
  if (check.empty()) {
    for (long k = 0; k < size; ++k) check.push_back(k);
  }
  std::vector<LComplex> ref;
  long double peak = 0;
  for (long k : check) {
    ref.push_back(directBin(x, k, sign, w) * scale);
    peak = std::max(peak, std::abs(ref.back()));
  }
  const double eps = std::numeric_limits<double>::epsilon();
  const double bound = 8.0 * eps * std::max(order, 1) * static_cast<double>(peak);
  for (std::size_t i = 0; i < check.size(); ++i) {
    const long k = check[i];
    const double err = static_cast<double>(
        std::abs(LComplex(y.re[k], y.im[k]) - ref[i]));
    ASSERT_LE(err, bound) << "order " << order << " flags " << flags
                          << " bin " << k;
  }
}

TEST(FftTest, ForwardAndInverseMatchDirectDftForSmallAndMediumOrders) {
  for (int order : {1, 2, 3, 5, 8, 12}) {
    checkAgainstDft(order, kFftForward, {});
    checkAgainstDft(order, kFftInverse, {});
  }
}

TEST(FftTest, LargestEngineOrderMatchesDirectDftOnSampledBins) {
  // A full direct DFT of 2^17 points is too slow; sample bins across the
  // range, the edges and the middle included.
  const std::vector<long> bins{0,     1,     2,     3,     4095,  32768,
                               65535, 65536, 65537, 99991, 131070, 131071};
  checkAgainstDft(17, kFftForward, bins);
  checkAgainstDft(17, kFftInverse, bins);
}

TEST(FftTest, ToneLandsInItsBinWithUnscaledForwardAndScaledInverse) {
  const int order = 10, size = 1 << order, bin = 37;
  Signal x{std::vector<double>(size), std::vector<double>(size)};
  for (int n = 0; n < size; ++n) {
    const double a = 2.0 * std::numbers::pi * bin * n / size;
    x.re[n] = std::cos(a);
    x.im[n] = std::sin(a);
  }
  Signal y{std::vector<double>(size), std::vector<double>(size)};
  ASSERT_EQ(nspzrFftNip(x.re.data(), x.im.data(), y.re.data(), y.im.data(),
                        order, kFftForward),
            0);
  for (int k = 0; k < size; ++k) {
    const double expected = k == bin ? size : 0.0;
    EXPECT_NEAR(y.re[k], expected, 1e-9 * size) << k;
    EXPECT_NEAR(y.im[k], 0.0, 1e-9 * size) << k;
  }
  Signal back{std::vector<double>(size), std::vector<double>(size)};
  ASSERT_EQ(nspzrFftNip(y.re.data(), y.im.data(), back.re.data(),
                        back.im.data(), order, kFftInverse),
            0);
  for (int n = 0; n < size; ++n) {
    EXPECT_NEAR(back.re[n], x.re[n], 1e-12);
    EXPECT_NEAR(back.im[n], x.im[n], 1e-12);
  }
}

TEST(FftTest, PairedLayoutIsTransformedInPlaceOfTheCopyWithTheSameBits) {
  // The chain's buffers are in the paired layout and skip the scratch copy;
  // any other arrays go through it. Both must give the same bits, and a pair
  // whose output overlaps its input must take the copy.
  const int order = 9, size = 1 << order;
  const std::ptrdiff_t d = splitStride(order);
  auto* in = static_cast<double*>(std::aligned_alloc(kSplitAlignment, 4 * d * sizeof(double)));
  double* out = in + 2 * d;
  const Signal x = randomSignal(size, 5);
  for (int flags : {kFftForward, kFftInverse}) {
    std::copy(x.re.begin(), x.re.end(), in);
    std::copy(x.im.begin(), x.im.end(), in + d);
    Signal y{std::vector<double>(size), std::vector<double>(size)};
    ASSERT_EQ(nspzrFftNip(x.re.data(), x.im.data(), y.re.data(), y.im.data(), order, flags), 0);
    ASSERT_EQ(nspzrFftNip(in, in + d, out, out + d, order, flags), 0);
    for (int k = 0; k < size; ++k) {
      ASSERT_EQ(out[k], y.re[k]) << flags << " " << k;
      ASSERT_EQ(out[d + k], y.im[k]) << flags << " " << k;
    }
    // Output one element after the input: overlapping, so copied.
    ASSERT_EQ(nspzrFftNip(in, in + d, in + 8, in + 8 + d, order, flags), 0);
    for (int k = 0; k < size; ++k) ASSERT_EQ(in[8 + k], y.re[k]) << flags << " " << k;
  }
  std::free(in);
}

// The chain's own transform: the cache's bits in both directions, a refused
// order leaves the plans it has, and the cache's release does not touch it.
TEST(FftTest, OwnedTransformGivesTheCachesBitsAndKeepsItsPlans) {
  FftTransform transform;
  EXPECT_FALSE(transform.plan(0));
  EXPECT_EQ(transform.order(), 0);
  for (int order : {9, 6}) {
    ASSERT_TRUE(transform.plan(order));
    const int size = 1 << order;
    const std::ptrdiff_t d = splitStride(order);
    auto* in = static_cast<double*>(std::aligned_alloc(kSplitAlignment, 4 * d * sizeof(double)));
    double* out = in + 2 * d;
    const Signal x = randomSignal(size, 11);
    std::copy(x.re.begin(), x.re.end(), in);
    std::copy(x.im.begin(), x.im.end(), in + d);
    for (int round = 0; round < 2; ++round) {
      for (int flags : {kFftForward, kFftInverse}) {
        Signal y{std::vector<double>(size), std::vector<double>(size)};
        ASSERT_EQ(nspzrFftNip(x.re.data(), x.im.data(), y.re.data(), y.im.data(), order, flags), 0);
        if (flags == kFftForward) {
          transform.forward(in, out);
        } else {
          transform.inverse(in, out);
        }
        for (int k = 0; k < size; ++k) {
          ASSERT_EQ(out[k], y.re[k]) << order << " " << flags << " " << k;
          ASSERT_EQ(out[d + k], y.im[k]) << order << " " << flags << " " << k;
        }
      }
      EXPECT_FALSE(transform.plan(kMaxFftOrder + 1));
      EXPECT_EQ(transform.order(), order);
      releaseFftPlans();  // the second round runs on the kept plans
    }
    std::free(in);
  }
}

TEST(FftTest, RefusedArgumentsReturnNonZeroAndWriteNothing) {
  std::vector<double> in(8, 1.0), outRe(8, -7.0), outIm(8, -7.0);
  const double* r = in.data();
  EXPECT_NE(nspzrFftNip(r, r, outRe.data(), outIm.data(), 3, 0), 0);
  EXPECT_NE(nspzrFftNip(r, r, outRe.data(), outIm.data(), 3, 3), 0);
  EXPECT_NE(nspzrFftNip(r, r, outRe.data(), outIm.data(), 0, kFftForward), 0);
  EXPECT_NE(nspzrFftNip(r, r, outRe.data(), outIm.data(), -1, kFftForward), 0);
  EXPECT_NE(nspzrFftNip(r, r, outRe.data(), outIm.data(), kMaxFftOrder + 1,
                        kFftForward),
            0);
  EXPECT_NE(nspzrFftNip(nullptr, r, outRe.data(), outIm.data(), 3,
                        kFftForward),
            0);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(outRe[i], -7.0);
    EXPECT_EQ(outIm[i], -7.0);
  }
  EXPECT_FALSE(prepareFft(0));
  EXPECT_FALSE(prepareFft(kMaxFftOrder + 1));
}

TEST(FftTest, PlansCanBeMadeAgainAfterRelease) {
  ASSERT_TRUE(prepareFft(4));
  releaseFftPlans();
  // Both through prepareFft and through a transform without a prepared plan.
  checkAgainstDft(5, kFftForward, {});
  ASSERT_TRUE(prepareFft(4));
  checkAgainstDft(4, kFftInverse, {});
  releaseFftPlans();
  checkAgainstDft(4, kFftForward, {});
}

TEST(FftTest, ThreadsPreparingAndTransformingAtOnceAgree) {
  // Two threads on each of two orders, planning and transforming at the same
  // time; the orders have scratch for two callers at first, then for one
  // more, so threads also wait for a free pair now and then.
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &failures] {
      const int order = 6 + t % 2;
      const int size = 1 << order;
      const Signal x = randomSignal(size, 77u + t);
      Signal y{std::vector<double>(size), std::vector<double>(size)};
      Signal back{std::vector<double>(size), std::vector<double>(size)};
      for (int round = 0; round < 20; ++round) {
        if (!prepareFft(order, round < 10 ? 1 : 3) || !prepareFft(3)) ++failures[t];
        if (nspzrFftNip(x.re.data(), x.im.data(), y.re.data(), y.im.data(),
                        order, kFftForward) != 0 ||
            nspzrFftNip(y.re.data(), y.im.data(), back.re.data(),
                        back.im.data(), order, kFftInverse) != 0) {
          ++failures[t];
        }
        for (int n = 0; n < size; ++n) {
          if (std::abs(back.re[n] - x.re[n]) > 1e-9 ||
              std::abs(back.im[n] - x.im[n]) > 1e-9) {
            ++failures[t];
            break;
          }
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace bw::nsp
