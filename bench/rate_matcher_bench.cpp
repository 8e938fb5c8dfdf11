// The rate matcher's cost per block of 2048 stereo frames played at a ratio
// off 1 (interpolated), next to the copy it makes at ratio 1 and to the
// fftFloor of the same block order (fft_floor_bench.cpp).
#include <benchmark/benchmark.h>

#include <vector>

#include "audio/interpolation_kernel.h"

namespace {

void BM_rateMatcherBlock(benchmark::State& state) {
  constexpr int kFrames = 2048;
  const bool interpolated = state.range(0) != 0;
  const auto& kernel = bw::audio::InterpolationKernel::instance();
  std::vector<float> in(2 * (kFrames + 64), 0.25f);
  std::vector<float> out(2 * kFrames);
  for (auto _ : state) {
    double fraction = 0.0;
    int frame = 0;
    for (int k = 0; k < kFrames; ++k) {
      if (interpolated) {
        kernel.interpolate(&in[2 * frame], fraction, &out[2 * k]);
      } else {
        out[2 * k] = in[2 * frame];
        out[2 * k + 1] = in[2 * frame + 1];
      }
      fraction += 1.0001;
      frame += static_cast<int>(fraction);
      fraction -= static_cast<int>(fraction);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_rateMatcherBlock)->Arg(0)->Arg(1);

}  // namespace
