#include "pcm_layout.h"

#include <cmath>
#include <limits>

#include "primitives/pcm_codec.h"

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
               std::uint8_t* bytes) {
  constexpr int kBytes = pcm::sampleBytes(kBits);
  for (std::size_t s = 0; s < samples; ++s) {
    // The top `bits` bits as a signed value (arithmetic shift).
    pcm::write<kBits>(bytes + s * kBytes, fullScale[s] >> (32 - kBits));
  }
}

template <int kBits>
void unpackWidth(const std::uint8_t* bytes, std::size_t samples,
                 std::int32_t* fullScale) {
  constexpr int kBytes = pcm::sampleBytes(kBits);
  for (std::size_t s = 0; s < samples; ++s) {
    fullScale[s] = toTop(pcm::read<kBits>(bytes + s * kBytes), kBits);
  }
}
}  // namespace

void packEnginePcm(const std::int32_t* fullScale, std::size_t samples, int bits,
                   std::uint8_t* bytes) {
  switch (bits) {
    case 8: return packWidth<8>(fullScale, samples, bytes);
    case 16: return packWidth<16>(fullScale, samples, bytes);
    case 24: return packWidth<24>(fullScale, samples, bytes);
    case 32: return packWidth<32>(fullScale, samples, bytes);
    default: return;
  }
}

void unpackEnginePcm(const std::uint8_t* bytes, std::size_t samples, int bits,
                     std::int32_t* fullScale) {
  switch (bits) {
    case 8: return unpackWidth<8>(bytes, samples, fullScale);
    case 16: return unpackWidth<16>(bytes, samples, fullScale);
    case 24: return unpackWidth<24>(bytes, samples, fullScale);
    case 32: return unpackWidth<32>(bytes, samples, fullScale);
    default: return;
  }
}

std::int32_t playbackLimit(int bits) { return toTop(pcm::playbackMax(bits), bits); }

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
