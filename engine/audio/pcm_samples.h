// One PCM sample of the device formats, read or written at its integer
// scale: 8-bit samples are unsigned bytes centred on 128 (read as -128..127),
// 16/24/32-bit samples are signed little-endian.
#pragma once

#include <cstdint>

namespace bw::audio {

inline std::int32_t readSample(const std::uint8_t* at, int bits) noexcept {
  if (bits == 8) return std::int32_t{at[0]} - 128;
  const int bytes = bits / 8;
  std::uint32_t u = 0;
  for (int b = 0; b < bytes; ++b) u |= std::uint32_t{at[b]} << (8 * b);
  const int shift = 32 - bits;
  return static_cast<std::int32_t>(u << shift) >> shift;
}

// value must lie in the width's range.
inline void writeSample(std::uint8_t* at, int bits, std::int32_t value) noexcept {
  if (bits == 8) {
    at[0] = static_cast<std::uint8_t>(value + 128);
    return;
  }
  const auto u = static_cast<std::uint32_t>(value);
  for (int b = 0; b < bits / 8; ++b) at[b] = static_cast<std::uint8_t>(u >> (8 * b));
}

// The byte value of silence: 128 for 8-bit samples, 0 otherwise.
inline std::uint8_t silenceByte(int bits) noexcept { return bits == 8 ? 0x80 : 0x00; }

}  // namespace bw::audio
