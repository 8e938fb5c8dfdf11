// The receive-parameter block as the chain reads it: the fields of the public
// layout (brackwell/param_block.h, whose offset, flag and extension names the
// chain uses as they are), and a decoder for the copy a block works with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "brackwell/param_block.h"

namespace bw {

// The fields of one block; every field starts at zero. A version-1 block
// leaves `modes` all zero: the chain of version 1.
struct ReceiveParams : SdrReceiveParams {
  ReceiveParams() : SdrReceiveParams{} {}
  SdrReceiveModes modes{};
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
  if (p.version >= SDR_PARAM_VERSION_MODES) {
    SdrReceiveModes& m = p.modes;
    m.mode = block[SDR_PARAM_OFFSET_MODE];
    m.pitchHz = readLe<std::int32_t>(block, SDR_PARAM_OFFSET_PITCH_HZ);
    m.fmDeviationHz = readLe<std::int32_t>(block, SDR_PARAM_OFFSET_FM_DEVIATION_HZ);
    m.tools = readLe<std::uint32_t>(block, SDR_PARAM_OFFSET_TOOLS);
    m.blankerLevel = readLe<double>(block, SDR_PARAM_OFFSET_BLANKER_LEVEL);
    m.reductionLevel = readLe<double>(block, SDR_PARAM_OFFSET_REDUCTION_LEVEL);
    m.fmSquelchLevel = readLe<double>(block, SDR_PARAM_OFFSET_FM_SQUELCH_LEVEL);
  }
  return p;
}

// Encodes p into a 65-byte block (its version-1 fields).
inline void encodeParams(const ReceiveParams& p, std::uint8_t* block) {
  sdrEncodeParams(&p, block);
}

// Encodes p, mode and tools included, into a SDR_PARAM_BLOCK_V2_BYTES block.
inline void encodeParamsV2(const ReceiveParams& p, std::uint8_t* block) {
  sdrEncodeParamsV2(&p, &p.modes, block);
}

// The console's receiver at tuning offset 0 (see sdrConsoleParams).
inline ReceiveParams consoleParams() {
  ReceiveParams p;
  static_cast<SdrReceiveParams&>(p) = sdrConsoleParams();
  return p;
}

}  // namespace bw
