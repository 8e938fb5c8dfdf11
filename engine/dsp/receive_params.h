// The receive-parameter block as the chain reads it: the public layout
// (brackwell/param_block.h) under C++ names, and a decoder for the copy a
// block works with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "brackwell/param_block.h"

namespace bw {

constexpr std::size_t kParamBlockBytes = SDR_PARAM_BLOCK_BYTES;
constexpr std::uint8_t kParamVersion = SDR_PARAM_VERSION;

// Byte offsets of the fields.
namespace param {
constexpr std::size_t kVersion = SDR_PARAM_OFFSET_VERSION;
constexpr std::size_t kFlags = SDR_PARAM_OFFSET_FLAGS;
constexpr std::size_t kIqPhaseCoef = SDR_PARAM_OFFSET_IQ_PHASE_COEF;
constexpr std::size_t kIqGainCoef = SDR_PARAM_OFFSET_IQ_GAIN_COEF;
constexpr std::size_t kLowCutHz = SDR_PARAM_OFFSET_LOW_CUT_HZ;
constexpr std::size_t kHighCutHz = SDR_PARAM_OFFSET_HIGH_CUT_HZ;
constexpr std::size_t kTuneOffsetHz = SDR_PARAM_OFFSET_TUNE_OFFSET_HZ;
constexpr std::size_t kAgcBlocks = SDR_PARAM_OFFSET_AGC_BLOCKS;
constexpr std::size_t kGain = SDR_PARAM_OFFSET_GAIN;
constexpr std::size_t kReserved = SDR_PARAM_OFFSET_RESERVED;
constexpr std::size_t kExtensions = SDR_PARAM_OFFSET_EXTENSIONS;
constexpr std::size_t kSquelchLevel = SDR_PARAM_OFFSET_SQUELCH_LEVEL;
constexpr std::size_t kOutputGain = SDR_PARAM_OFFSET_OUTPUT_GAIN;
}  // namespace param

// Flag bits of the flags word.
namespace flag {
constexpr std::uint32_t FlushToggle = SDR_FLAG_FLUSH_TOGGLE;
constexpr std::uint32_t SwapInput = SDR_FLAG_SWAP_INPUT;
constexpr std::uint32_t SwapOutput = SDR_FLAG_SWAP_OUTPUT;
constexpr std::uint32_t MonoInput = SDR_FLAG_MONO_INPUT;
constexpr std::uint32_t MonoOutput = SDR_FLAG_MONO_OUTPUT;
constexpr std::uint32_t SpectrumEarly = SDR_FLAG_SPECTRUM_EARLY;
constexpr std::uint32_t ShiftEarly = SDR_FLAG_SHIFT_EARLY;
constexpr std::uint32_t SidebandEarly = SDR_FLAG_SIDEBAND_EARLY;
constexpr std::uint32_t AgcOn = SDR_FLAG_AGC_ON;
constexpr std::uint32_t SquelchOn = SDR_FLAG_SQUELCH_ON;
constexpr std::uint32_t BalanceEarly = SDR_FLAG_BALANCE_EARLY;
constexpr std::uint32_t UpperSideband = SDR_FLAG_UPPER_SIDEBAND;
constexpr std::uint32_t LowerSideband = SDR_FLAG_LOWER_SIDEBAND;
constexpr std::uint32_t ConsoleFlags = SDR_FLAGS_CONSOLE;
}  // namespace flag

// Bits of the extensions word.
namespace ext {
constexpr std::uint32_t ExactTuning = SDR_EXT_EXACT_TUNING;
constexpr std::uint32_t AutoIqBalance = SDR_EXT_AUTO_IQ_BALANCE;
constexpr std::uint32_t DcRemoval = SDR_EXT_DC_REMOVAL;
constexpr std::uint32_t All = SDR_EXT_ALL;
}  // namespace ext

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
  p.version = block[param::kVersion];
  p.flags = readLe<std::uint32_t>(block, param::kFlags);
  p.iqPhaseCoef = readLe<double>(block, param::kIqPhaseCoef);
  p.iqGainCoef = readLe<double>(block, param::kIqGainCoef);
  p.lowCutHz = readLe<std::int32_t>(block, param::kLowCutHz);
  p.highCutHz = readLe<std::int32_t>(block, param::kHighCutHz);
  p.tuneOffsetHz = readLe<std::int32_t>(block, param::kTuneOffsetHz);
  p.agcBlocks = readLe<std::int32_t>(block, param::kAgcBlocks);
  p.gain = readLe<double>(block, param::kGain);
  p.squelchLevel = readLe<double>(block, param::kSquelchLevel);
  p.outputGain = readLe<double>(block, param::kOutputGain);
  p.extensions = readLe<std::uint32_t>(block, param::kExtensions);
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
