// DC removal: a one-pole tracker of each capture channel's DC level,
// subtracted from the samples. The tracker runs on the means of short runs
// of samples (a stride of at least 1/1500 s, so a run holds no more than a
// few periods of anything but DC) and is subtracted as a straight line from
// one run's level to the next, which costs two cheap passes instead of a
// recursion per sample. The response is that of a one-pole high-pass with
// its corner at kDcCornerHz: zero at DC, 0.011 dB of loss at 200 Hz, 0.17 dB
// at 50 Hz. A fresh tracker starts from the mean of the first block it sees
// (right at once for a quiet band; a strong signal near the centre spoils
// that first guess a little); from there, and after a change of offset, it
// settles with a time constant of 1 / (2 pi kDcCornerHz) = 16 ms: 40 dB in
// 73 ms.
//
// Units: sample values as captured (integer scale of the PCM width). The
// state is two levels, one per device channel (the first and second sample
// of a frame), so that swapping I and Q does not disturb it.
#pragma once

#include <cstdint>

namespace bw {

constexpr double kDcCornerHz = 10.0;

struct DcTracker {
  double level[2] = {0.0, 0.0};     // per device channel
  bool primed[2] = {false, false};  // level holds an estimate
  bool operator==(const DcTracker&) const = default;
};

constexpr std::int32_t kDcMaxStride = 64;

// How the tracker runs at one sample rate.
struct DcSettings {
  std::int32_t stride = 1;  // samples per run: a power of two, at most 64
  double gain = 0.0;        // the one-pole's coefficient per run
  double ramp[kDcMaxStride] = {};  // (i + 1) / stride: the line across a run
};
DcSettings dcSettings(std::int32_t sampleRate);

// Subtracts the tracked DC level of device channel `channel` (0 or 1) from
// x[0..n-1] in place and carries the level on (n a multiple of the stride;
// a shorter last run is allowed). Levels below 1e-20 become 0 at the end, so
// silence never leaves denormals. The level is a weighted mean of the
// inputs, so it stays within their range.
void removeDc(DcTracker& t, int channel, double* x, std::int32_t n,
              const DcSettings& s);

// DC removal on a block as unpacked: i and q hold the device's first and
// second channel, or the reverse when swapped; with mono only i is used (q
// is about to become a copy of it), so only its channel is tracked.
void removeCaptureDc(DcTracker& t, double* i, double* q, std::int32_t n,
                     const DcSettings& s, bool swapped, bool mono);

// Forgets both levels (the next block primes them again).
inline void resetDc(DcTracker& t) { t = DcTracker{}; }

}  // namespace bw
