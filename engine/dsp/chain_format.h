// The sample format of the receive chain's blocks: what the chain and each
// of its stages are configured for.
#pragma once

#include <cstdint>

namespace bw {

struct ChainFormat {
  std::int32_t order = 0;          // N = 2^order frames a block, 8..16
  std::int32_t sampleRate = 0;     // Hz
  std::int32_t bitsPerSample = 0;  // 8, 16, 24 or 32
  bool operator==(const ChainFormat&) const = default;
};

// True when blocks of `to` belong to another stream than blocks of `from`:
// another transform length or rate, for which no history a stage carries
// holds (a width of its own does not count).
constexpr bool isNewStream(const ChainFormat& from, const ChainFormat& to) {
  return from.order != to.order || from.sampleRate != to.sampleRate;
}

}  // namespace bw
