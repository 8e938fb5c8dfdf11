#include "audio/portaudio/device_period.h"

#include <algorithm>

namespace bw::audio {

std::uint32_t callbackFrames(std::uint32_t bufferFrames, std::uint32_t rate) {
  constexpr std::uint32_t kShortest = 32;
  if (bufferFrames == 0 || rate == 0) return 0;
  const double longest = kLongestPeriodSeconds * rate;
  // The largest power of two dividing bufferFrames, halved until short
  // enough.
  std::uint32_t frames = bufferFrames & (~bufferFrames + 1);
  while (frames > kShortest && (frames > longest || frames > bufferFrames / 4)) frames /= 2;
  return frames >= kShortest ? frames : 0;
}

double deviceLatency(std::uint32_t periodFrames, std::uint32_t rate, double fallback) {
  return periodFrames == 0 || rate == 0 ? fallback : std::max(2.0 * periodFrames / rate, kShortestLatencySeconds);
}

}  // namespace bw::audio
