// Band-limited interpolation between the samples of a stereo stream, for
// playing it at a rate a little off its own: the value of the signal at a
// fractional frame position, from the kTaps frames around it.
//
// The kernel is a Kaiser-windowed sinc cut off at half the sample rate,
// tabulated at kPhases fractional positions between two frames and
// interpolated linearly between adjacent positions. Passband flat to within
// 1e-5 up to 0.4 of the sample rate; images of it (0.6 of the sample rate
// and up) at least 100 dB down. At fraction 0 the kernel is exactly one
// frame: the signal's own samples come out unchanged.
#pragma once

#include <array>

namespace bw::audio {

class InterpolationKernel {
 public:
  static constexpr int kTaps = 32;     // frames the interpolation reads
  static constexpr int kPhases = 256;  // tabulated fractions between frames
  // The frames read around position i + fraction are i - kBefore ..
  // i + kAfter.
  static constexpr int kBefore = kTaps / 2 - 1;
  static constexpr int kAfter = kTaps / 2;

  // The one table, made on first use (not from a real-time thread first).
  static const InterpolationKernel& instance();

  // The interpolated left and right samples at frame position i + fraction,
  // 0 <= fraction < 1: `frames` points at frame i - kBefore of interleaved
  // stereo samples, kTaps frames of which are read. Real-time safe.
  void interpolate(const float* frames, double fraction, float out[2]) const noexcept;

 private:
  InterpolationKernel();

  // Row p: the kernel's taps at fraction p / kPhases (p = kPhases is
  // fraction 1), and the difference to row p + 1.
  std::array<std::array<float, kTaps>, kPhases + 1> taps_{};
  std::array<std::array<float, kTaps>, kPhases + 1> slopes_{};
};

}  // namespace bw::audio
