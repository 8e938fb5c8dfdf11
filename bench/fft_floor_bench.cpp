// The cost floor of a fast-convolution receiver, and the primitives' own
// costs next to it.
//
// BM_fftFloor/k: one forward plus one inverse complex FFTW transform of
// M = 2^(k+1) points (k is the block order, N = 2^k frames), interleaved, out
// of place, planned with FFTW_MEASURE. Any receiver that filters by fast
// convolution pays at least this per block.
//
// The others take the transform order log2(M) as their argument:
// BM_nspzrFftNip (split arrays, through the plan cache), BM_fftTransform
// (the chain's own transform on paired arrays), BM_fftSplitPlan
// (FFTW's split-array plan on the same arrays, for comparison) and the two
// polar conversions over M elements.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory_resource>
#include <random>
#include <vector>

#include "dsp/split_buffer.h"
#include "primitives/fft_plan.h"
#include "primitives/fft_transform.h"
#include "primitives/nsp.h"

namespace {

std::vector<double> noise(std::size_t n, unsigned seed, double scale) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-scale, scale);
  std::vector<double> v(n);
  for (auto& x : v) x = u(rng);
  return v;
}

void BM_fftFloor(benchmark::State& state) {
  const int size = 1 << (state.range(0) + 1);
  fftw_complex* a = fftw_alloc_complex(size);
  fftw_complex* b = fftw_alloc_complex(size);
  fftw_plan forward = fftw_plan_dft_1d(size, a, b, FFTW_FORWARD, FFTW_MEASURE);
  fftw_plan inverse = fftw_plan_dft_1d(size, b, a, FFTW_BACKWARD, FFTW_MEASURE);
  const auto x = noise(2 * static_cast<std::size_t>(size), 1, 1.0);
  for (int i = 0; i < size; ++i) {
    a[i][0] = x[2 * i];
    a[i][1] = x[2 * i + 1];
  }
  for (auto _ : state) {
    fftw_execute(forward);
    fftw_execute(inverse);
    benchmark::DoNotOptimize(a[0][0]);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(forward);
  fftw_destroy_plan(inverse);
  fftw_free(a);
  fftw_free(b);
}
BENCHMARK(BM_fftFloor)->Arg(8)->Arg(10)->Arg(11)->Arg(13)->Arg(16);

// One forward and one inverse transform through nspzrFftNip on arrays of
// the caller's (copied through the cache's scratch pairs).
void BM_nspzrFftNip(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const std::size_t size = std::size_t{1} << order;
  bw::nsp::prepareFft(order);
  auto re = noise(size, 2, 1e4), im = noise(size, 3, 1e4);
  std::vector<double> fre(size), fim(size);
  for (auto _ : state) {
    bw::nsp::nspzrFftNip(re.data(), im.data(), fre.data(), fim.data(), order,
                         bw::nsp::kFftForward);
    bw::nsp::nspzrFftNip(fre.data(), fim.data(), re.data(), im.data(), order,
                         bw::nsp::kFftInverse);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_nspzrFftNip)->DenseRange(9, 17);

// One forward and one inverse transform as the chain does per block: its own
// FftTransform on arrays in the paired layout.
void BM_fftTransform(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const std::size_t size = std::size_t{1} << order;
  bw::nsp::FftTransform transform;
  if (!transform.plan(order)) {
    state.SkipWithError("cannot plan");
    return;
  }
  bw::SplitBuffer time(std::pmr::get_default_resource());
  bw::SplitBuffer freq(std::pmr::get_default_resource());
  time.resize(order);
  freq.resize(order);
  const auto x = noise(2 * size, 7, 1e4);
  std::copy(x.begin(), x.begin() + size, time.re());
  std::copy(x.begin() + size, x.end(), time.im());
  for (auto _ : state) {
    transform.forward(time.re(), freq.re());
    transform.inverse(freq.re(), time.re());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_fftTransform)->DenseRange(9, 17);

// FFTW's own split-array plans on the caller's arrays (the inverse by
// exchanging real and imaginary parts), plus the 1/M scaling pass.
void BM_fftSplitPlan(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const int size = 1 << order;
  double* re = fftw_alloc_real(size);
  double* im = fftw_alloc_real(size);
  double* fre = fftw_alloc_real(size);
  double* fim = fftw_alloc_real(size);
  fftw_iodim dim{size, 1, 1};
  fftw_plan plan =
      fftw_plan_guru_split_dft(1, &dim, 0, nullptr, re, im, fre, fim,
                               FFTW_MEASURE);
  const auto x = noise(2 * static_cast<std::size_t>(size), 4, 1e4);
  for (int i = 0; i < size; ++i) {
    re[i] = x[2 * i];
    im[i] = x[2 * i + 1];
  }
  const double scale = 1.0 / size;
  for (auto _ : state) {
    fftw_execute_split_dft(plan, re, im, fre, fim);
    fftw_execute_split_dft(plan, fim, fre, im, re);
    for (int i = 0; i < size; ++i) {
      re[i] *= scale;
      im[i] *= scale;
    }
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
  fftw_free(re);
  fftw_free(im);
  fftw_free(fre);
  fftw_free(fim);
}
BENCHMARK(BM_fftSplitPlan)->Arg(9)->Arg(12)->Arg(14)->Arg(17);

void BM_cartToPolar(benchmark::State& state) {
  const std::size_t size = std::size_t{1} << state.range(0);
  const auto re = noise(size, 5, 1e6), im = noise(size, 6, 1e6);
  std::vector<double> mag(size), phase(size);
  for (auto _ : state) {
    bw::nsp::nspdbrCartToPolar(re.data(), im.data(), mag.data(), phase.data(),
                               static_cast<int>(size));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_cartToPolar)->Arg(9)->Arg(12)->Arg(14)->Arg(17);

void BM_polarToCart(benchmark::State& state) {
  const std::size_t size = std::size_t{1} << state.range(0);
  const auto mag = noise(size, 7, 1e6), phase = noise(size, 8, 7.0);
  std::vector<double> re(size), im(size);
  for (auto _ : state) {
    bw::nsp::nspdbrPolarToCart(mag.data(), phase.data(), re.data(), im.data(),
                               static_cast<int>(size));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_polarToCart)->Arg(9)->Arg(12)->Arg(14)->Arg(17);

}  // namespace
