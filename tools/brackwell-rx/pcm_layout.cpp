#include "pcm_layout.h"

#include <cmath>
#include <limits>

namespace bw::rx {

namespace {
// Shifts in the unsigned domain, so negative samples shift without
// implementation-defined or undefined behaviour.
std::int32_t toTop(std::int32_t value, int bits) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << (32 - bits));
}
}  // namespace

namespace {
// The loops for one width, so that the byte loops unroll: a block is
// thousands of samples, and run-time widths cost several times the copy.
template <int kBits>
void packWidth(const std::int32_t* fullScale, std::size_t samples,
               std::uint8_t* pcm) {
  constexpr int kBytes = kBits / 8;
  for (std::size_t s = 0; s < samples; ++s) {
    // The top `bits` bits as a signed value (arithmetic shift).
    const std::int32_t v = fullScale[s] >> (32 - kBits);
    const auto u = static_cast<std::uint32_t>(kBits == 8 ? v + 128 : v);
    std::uint8_t* out = pcm + s * kBytes;
    for (int b = 0; b < kBytes; ++b) out[b] = static_cast<std::uint8_t>(u >> (8 * b));
  }
}

template <int kBits>
void unpackWidth(const std::uint8_t* pcm, std::size_t samples,
                 std::int32_t* fullScale) {
  constexpr int kBytes = kBits / 8;
  for (std::size_t s = 0; s < samples; ++s) {
    const std::uint8_t* in = pcm + s * kBytes;
    if constexpr (kBits == 8) {
      fullScale[s] = toTop(std::int32_t{in[0]} - 128, 8);
    } else {
      std::uint32_t u = 0;
      for (int b = 0; b < kBytes; ++b) u |= std::uint32_t{in[b]} << (8 * b);
      // The sample's bits at the top: its sign bit lands on bit 31.
      fullScale[s] = static_cast<std::int32_t>(u << (32 - kBits));
    }
  }
}
}  // namespace

void packEnginePcm(const std::int32_t* fullScale, std::size_t samples, int bits,
                   std::uint8_t* pcm) {
  switch (bits) {
    case 8: return packWidth<8>(fullScale, samples, pcm);
    case 16: return packWidth<16>(fullScale, samples, pcm);
    case 24: return packWidth<24>(fullScale, samples, pcm);
    case 32: return packWidth<32>(fullScale, samples, pcm);
    default: return;
  }
}

void unpackEnginePcm(const std::uint8_t* pcm, std::size_t samples, int bits,
                     std::int32_t* fullScale) {
  switch (bits) {
    case 8: return unpackWidth<8>(pcm, samples, fullScale);
    case 16: return unpackWidth<16>(pcm, samples, fullScale);
    case 24: return unpackWidth<24>(pcm, samples, fullScale);
    case 32: return unpackWidth<32>(pcm, samples, fullScale);
    default: return;
  }
}

std::int32_t playbackLimit(int bits) {
  switch (bits) {
    case 8:
      return toTop(127, 8);
    case 16:
    case 24:
      return toTop(32767, 16);
    default:
      return std::numeric_limits<std::int32_t>::max();
  }
}

std::int32_t floatToFullScale(double x) {
  if (std::isnan(x)) return 0;
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  const double scaled = std::nearbyint(x * 2147483648.0);
  if (scaled <= lo) return std::numeric_limits<std::int32_t>::min();
  if (scaled >= hi) return std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(scaled);
}

}  // namespace bw::rx
