// BM_processBlock/k/s: one block of the console's receiver (upper sideband,
// 300..2700 Hz, AGC, squelch; 48000 Hz, 16-bit PCM in and out) on a noisy
// two-tone input, block order k (N = 2^k frames, M = 2N), with kernel set s
// (0 SSE2, 1 AVX2, 2 AVX-512F; a set this CPU lacks is skipped). Besides the time per
// block it reports, measured in the same run, the floor of fast convolution
// (one forward and one inverse M-point interleaved FFTW transform, as
// BM_fftFloor) and the ratio x_floor = block time / floor time, both as
// best of nine timed rounds, taken in turn.
//
// BM_processBlockExtensions/k/s: the same block with every receiver
// extension on (exact tuning of the off-grid 1000 Hz offset, DC removal, and
// whatever else SDR_EXT_ALL holds), timed in turn with the block without
// them; x_plain = time with / time without, best of nine rounds each.
//
// BM_processBlockMode/k/s/mode: the same block as a version-2 block in
// receive mode `mode` (1 CW, 2 CW reversed, 3 AM, 4 SAM, 7 FM with its
// squelch on) with the mode's default passband, timed in turn with the block
// of version 1 (x_plain, as above).
// BM_processBlockTools/k/s/t: the same block as a version-2 block with the
// noise tools t on (1 blanker, 2 notch, 4 noise reduction, 7 all three),
// timed in turn with the plain version-1 block: x_plain as above.
// BM_processBlockEverything/k/s: every extension, synchronous AM and the
// three noise tools at once, against the plain version-1 block.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <ctime>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "core/configuration.h"
#include "core/lifecycle.h"
#include "core/receiver.h"
#include "dsp/receive_params.h"
#include "primitives/kernel_set.h"

namespace {

// This thread's CPU time in nanoseconds: other processes on a shared machine
// do not count.
double threadCpuNanoseconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e9 + t.tv_nsec;
}

// CPU nanoseconds per call of f over `reps` calls.
template <typename F>
double roundNanoseconds(int reps, F f) {
  const double t0 = threadCpuNanoseconds();
  for (int r = 0; r < reps; ++r) f();
  return (threadCpuNanoseconds() - t0) / reps;
}

// The floor: one forward and one inverse interleaved transform of `size`
// points, planned with FFTW_MEASURE.
class FloorPair {
 public:
  explicit FloorPair(int size)
      : a_(fftw_alloc_complex(size)), b_(fftw_alloc_complex(size)) {
    forward_ = fftw_plan_dft_1d(size, a_, b_, FFTW_FORWARD, FFTW_MEASURE);
    inverse_ = fftw_plan_dft_1d(size, b_, a_, FFTW_BACKWARD, FFTW_MEASURE);
    for (int i = 0; i < size; ++i) {
      a_[i][0] = std::sin(i * 0.1);
      a_[i][1] = std::cos(i * 0.3);
    }
  }
  ~FloorPair() {
    fftw_destroy_plan(forward_);
    fftw_destroy_plan(inverse_);
    fftw_free(a_);
    fftw_free(b_);
  }
  FloorPair(const FloorPair&) = delete;
  FloorPair& operator=(const FloorPair&) = delete;
  void run() {
    fftw_execute(forward_);
    fftw_execute(inverse_);
    benchmark::DoNotOptimize(a_[0][0]);
  }

 private:
  fftw_complex* a_;
  fftw_complex* b_;
  fftw_plan forward_ = nullptr, inverse_ = nullptr;
};

constexpr bw::nsp::KernelSet kSets[] = {bw::nsp::KernelSet::Sse2,
                                        bw::nsp::KernelSet::Avx2,
                                        bw::nsp::KernelSet::Avx512};

// Runs the console's block at the state's order and kernel set; with
// `extensions` non-zero, a receive mode (mode >= 0) or noise tools (the
// last two: a version-2 block) it times the block with them and, in
// alternating rounds, the block of version 1 without them (x_plain), else
// against the FFT floor.
void runBlockBenchmark(benchmark::State& state, std::uint32_t extensions,
                       int mode = -1, std::uint32_t tools = 0) {
  const bool compare = extensions != 0 || mode >= 0 || tools != 0;
  const int order = static_cast<int>(state.range(0));
  const bw::nsp::KernelSet set = kSets[state.range(1)];
  const bw::nsp::KernelSet saved = bw::nsp::activeKernelSet();
  if (!bw::nsp::useKernelSet(set)) {
    state.SkipWithError("kernel set not supported by this CPU");
    return;
  }
  state.SetLabel(bw::nsp::kernelSetName(set));
  bw::engineAttach();
  if (bw::configureFormat(4, order, 48000, 16) != SDR_OK) {
    state.SkipWithError("configuration refused");
    bw::engineDetach();
    bw::nsp::useKernelSet(saved);
    return;
  }
  std::uint8_t block[SDR_PARAM_BLOCK_V2_BYTES];
  bw::ReceiveParams p = bw::consoleParams();
  p.tuneOffsetHz = 1000;
  std::uint8_t plainBlock[SDR_PARAM_BLOCK_BYTES];
  bw::encodeParams(p, plainBlock);
  p.extensions = extensions;
  p.modes.tools = tools;
  if (mode >= 0 || tools != 0) {
    p.version = SDR_PARAM_VERSION_MODES;
    if (mode >= 0) {
      p.modes.mode = static_cast<std::uint8_t>(mode);
      p.modes.fmSquelchLevel = 0.5;
      sdrModePassband(p.modes.mode, 0, 0, &p.lowCutHz, &p.highCutHz);
    }
    bw::encodeParamsV2(p, block);
  } else {
    bw::encodeParams(p, block);
  }
  if (bw::setNewParam(block) != SDR_OK) {
    state.SkipWithError("parameter block refused");
    bw::engineDetach();
    bw::nsp::useKernelSet(saved);
    return;
  }

  // Eight blocks of two tones (+1500 Hz, -3200 Hz) in noise, cycled.
  const int n = 1 << order;
  const int blocks = 8;
  std::vector<std::uint8_t> input(static_cast<std::size_t>(blocks) * n * 4);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 300.0);
  for (int s = 0; s < blocks * n; ++s) {
    const double w1 = 2 * std::numbers::pi * 1500.0 * s / 48000.0;
    const double w2 = -2 * std::numbers::pi * 3200.0 * s / 48000.0;
    const auto i = static_cast<std::int16_t>(6000 * std::cos(w1) + 3000 * std::cos(w2) + noise(rng));
    const auto q = static_cast<std::int16_t>(6000 * std::sin(w1) + 3000 * std::sin(w2) + noise(rng));
    std::memcpy(&input[s * 4], &i, 2);
    std::memcpy(&input[s * 4 + 2], &q, 2);
  }
  std::vector<std::uint8_t> output(static_cast<std::size_t>(n) * 4);

  int b = 0;
  for (auto _ : state) {
    bw::processBlock(&input[static_cast<std::size_t>(b) * n * 4], output.data());
    b = (b + 1) % blocks;
    benchmark::DoNotOptimize(output.data());
  }
  // The ratio compares two measurements taken the same way in alternating
  // rounds, best of nine each, so that a busy spell of a shared machine
  // slows both alike or is left out of both.
  const int reps = std::max(4, (1 << 18) / n);
  const auto runBlocks = [&] {
    bw::processBlock(&input[static_cast<std::size_t>(b) * n * 4], output.data());
    b = (b + 1) % blocks;
  };
  double blockNs = 1e300, otherNs = 1e300;
  if (compare) {
    for (int round = 0; round < 9; ++round) {
      bw::setNewParam(block);
      blockNs = std::min(blockNs, roundNanoseconds(reps, runBlocks));
      bw::setNewParam(plainBlock);
      otherNs = std::min(otherNs, roundNanoseconds(reps, runBlocks));
    }
  } else {
    FloorPair floor(2 * n);
    for (int round = 0; round < 9; ++round) {
      blockNs = std::min(blockNs, roundNanoseconds(reps, runBlocks));
      otherNs = std::min(otherNs, roundNanoseconds(2 * reps, [&] { floor.run(); }));
    }
  }
  bw::engineDetach();
  bw::nsp::useKernelSet(saved);
  state.counters["block_ns"] = blockNs;
  if (compare) {
    state.counters["plain_ns"] = otherNs;
    state.counters["x_plain"] = blockNs / otherNs;
  } else {
    state.counters["floor_ns"] = otherNs;
    state.counters["x_floor"] = blockNs / otherNs;
  }
}

void BM_processBlock(benchmark::State& state) { runBlockBenchmark(state, 0); }
void BM_processBlockExtensions(benchmark::State& state) {
  runBlockBenchmark(state, SDR_EXT_ALL);
}
void BM_processBlockMode(benchmark::State& state) {
  runBlockBenchmark(state, 0, static_cast<int>(state.range(2)));
}
void BM_processBlockTools(benchmark::State& state) {
  runBlockBenchmark(state, 0, -1, static_cast<std::uint32_t>(state.range(2)));
}
void BM_processBlockEverything(benchmark::State& state) {
  runBlockBenchmark(state, SDR_EXT_ALL, SDR_MODE_SAM, SDR_TOOL_ALL);
}
BENCHMARK(BM_processBlock)
    ->ArgsProduct({{8, 10, 11, 13, 16}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_processBlockExtensions)
    ->ArgsProduct({{11}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_processBlockMode)
    ->ArgsProduct({{11},
                   {0, 1, 2},
                   {SDR_MODE_CW, SDR_MODE_CW_REVERSED, SDR_MODE_AM, SDR_MODE_SAM,
                    SDR_MODE_FM}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_processBlockTools)
    ->ArgsProduct({{11}, {0, 1, 2}, {1, 2, 4, 7}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_processBlockEverything)
    ->ArgsProduct({{11}, {0, 1, 2}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
