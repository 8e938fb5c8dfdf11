// The receive-parameter block as the chain reads it: the fields of the public
// layout (brackwell/param_block.h, whose offset, flag and extension names the
// chain uses as they are), and a decoder for the copy a block works with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "brackwell/param_block.h"

namespace bw {

// The fields of one block; every field starts at zero.
struct ReceiveParams : SdrReceiveParams {
  ReceiveParams() : SdrReceiveParams{} {}
};

namespace detail {
template <typename T>
T readLe(const std::uint8_t* bytes, std::size_t offset) {
  // The host is little-endian (x86-64, AArch64), like the block.
  T value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}
}  // namespace detail

inline ReceiveParams decodeParams(const std::uint8_t* block) {
  using detail::readLe;
  ReceiveParams p;
  p.version = block[SDR_PARAM_OFFSET_VERSION];
  p.flags = readLe<std::uint32_t>(block, SDR_PARAM_OFFSET_FLAGS);
  p.iqPhaseCoef = readLe<double>(block, SDR_PARAM_OFFSET_IQ_PHASE_COEF);
  p.iqGainCoef = readLe<double>(block, SDR_PARAM_OFFSET_IQ_GAIN_COEF);
  p.lowCutHz = readLe<std::int32_t>(block, SDR_PARAM_OFFSET_LOW_CUT_HZ);
  p.highCutHz = readLe<std::int32_t>(block, SDR_PARAM_OFFSET_HIGH_CUT_HZ);
  p.tuneOffsetHz = readLe<std::int32_t>(block, SDR_PARAM_OFFSET_TUNE_OFFSET_HZ);
  p.agcBlocks = readLe<std::int32_t>(block, SDR_PARAM_OFFSET_AGC_BLOCKS);
  p.gain = readLe<double>(block, SDR_PARAM_OFFSET_GAIN);
  p.squelchLevel = readLe<double>(block, SDR_PARAM_OFFSET_SQUELCH_LEVEL);
  p.outputGain = readLe<double>(block, SDR_PARAM_OFFSET_OUTPUT_GAIN);
  p.extensions = readLe<std::uint32_t>(block, SDR_PARAM_OFFSET_EXTENSIONS);
  return p;
}

// Encodes p into a 65-byte block.
inline void encodeParams(const ReceiveParams& p, std::uint8_t* block) {
  sdrEncodeParams(&p, block);
}

// The console's receiver at tuning offset 0 (see sdrConsoleParams).
inline ReceiveParams consoleParams() {
  ReceiveParams p;
  static_cast<SdrReceiveParams&>(p) = sdrConsoleParams();
  return p;
}

}  // namespace bw
