// The PCM samples of the sound devices, one at a time at their integer
// scale: 8, 16, 24 or 32 bits, little-endian; 8-bit samples are unsigned
// bytes centred on 128, the wider ones signed. The chain, the audio layer
// and brackwell-rx read and write samples only through these.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace bw::pcm {

// Bytes of one sample `bits` wide.
constexpr int sampleBytes(int bits) { return bits / 8; }

// The byte that stands for zero in 8-bit samples.
inline constexpr std::int32_t kUnsignedZero = 128;

// The byte value of silence: 128 for 8-bit samples, 0 otherwise.
constexpr std::uint8_t silenceByte(int bits) {
  return bits == 8 ? std::uint8_t{kUnsignedZero} : std::uint8_t{0};
}

// The sample at `at` as a signed value, -2^(kBits-1)..2^(kBits-1)-1.
template <int kBits>
std::int32_t read(const std::uint8_t* at) {
  if constexpr (kBits == 8) {
    return std::int32_t{at[0]} - kUnsignedZero;
  } else {
    std::uint32_t u = 0;
    for (int b = 0; b < sampleBytes(kBits); ++b) u |= std::uint32_t{at[b]} << (8 * b);
    // The sign bit onto bit 31, then back down with the sign extended.
    return static_cast<std::int32_t>(u << (32 - kBits)) >> (32 - kBits);
  }
}

// Writes the low kBits bits of `value` (8 bits: value + 128); a value
// outside the width's range keeps only those bits.
template <int kBits>
void write(std::uint8_t* at, std::int32_t value) {
  const auto u = static_cast<std::uint32_t>(kBits == 8 ? value + kUnsignedZero : value);
  for (int b = 0; b < sampleBytes(kBits); ++b) at[b] = static_cast<std::uint8_t>(u >> (8 * b));
}

// read and write for a width known at run time; another width reads 0 and
// writes nothing.
inline std::int32_t read(const std::uint8_t* at, int bits) {
  switch (bits) {
    case 8: return read<8>(at);
    case 16: return read<16>(at);
    case 24: return read<24>(at);
    case 32: return read<32>(at);
    default: return 0;
  }
}
inline void write(std::uint8_t* at, int bits, std::int32_t value) {
  switch (bits) {
    case 8: return write<8>(at, value);
    case 16: return write<16>(at, value);
    case 24: return write<24>(at, value);
    case 32: return write<32>(at, value);
    default: return;
  }
}

// The sample the receive chain plays for its output value `v` at kBits:
// 8 bits limit it to -128..127; 16 and 32 bits take it as it is (write keeps
// its low bits); 24 bits saturate it to -32768..32767 and carry that 16-bit
// value in the top two bytes, the low byte 0 (the low 16 bits of a larger
// value would be noise).
template <int kBits>
constexpr std::int32_t playbackSample(std::int32_t v) {
  if constexpr (kBits == 8) {
    return std::clamp(v, -128, 127);
  } else if constexpr (kBits == 24) {
    return std::clamp(v, -32768, 32767) * 256;
  } else {
    return v;
  }
}

// The largest sample the chain plays at `bits` (8, 16, 24 or 32).
constexpr std::int32_t playbackMax(int bits) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  switch (bits) {
    case 8: return playbackSample<8>(kMax);
    case 16: return std::numeric_limits<std::int16_t>::max();
    case 24: return playbackSample<24>(kMax);
    default: return kMax;
  }
}

}  // namespace bw::pcm
