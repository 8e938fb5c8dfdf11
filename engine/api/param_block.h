// The 65-byte receive-parameter block: packed, little-endian, byte 0 the
// layout version (1). Field offsets, flag bits and a decoder for the copy a
// block works with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bw {

constexpr std::size_t kParamBlockBytes = 65;
constexpr std::uint8_t kParamVersion = 1;

// Byte offsets of the fields.
namespace param {
constexpr std::size_t kVersion = 0;         // u8
constexpr std::size_t kFlags = 1;           // u32
constexpr std::size_t kIqPhaseCoef = 5;     // f64
constexpr std::size_t kIqGainCoef = 13;     // f64
constexpr std::size_t kLowCutHz = 21;       // i32, Hz
constexpr std::size_t kHighCutHz = 25;      // i32, Hz
constexpr std::size_t kTuneOffsetHz = 29;   // i32, Hz
constexpr std::size_t kAgcBlocks = 33;      // i32, blocks
constexpr std::size_t kGain = 37;           // f64, linear factor
constexpr std::size_t kReserved = 45;       // 4 bytes, never read
constexpr std::size_t kSquelchLevel = 49;   // f64, sample units
constexpr std::size_t kOutputGain = 57;     // f64, linear factor
}  // namespace param

// Flag bits of the flags word.
namespace flag {
constexpr std::uint32_t FlushToggle = 0x1;
constexpr std::uint32_t SwapInput = 0x10;
constexpr std::uint32_t SwapOutput = 0x20;
constexpr std::uint32_t MonoInput = 0x40;
constexpr std::uint32_t MonoOutput = 0x80;
constexpr std::uint32_t SpectrumEarly = 0x100;
constexpr std::uint32_t ShiftEarly = 0x200;
constexpr std::uint32_t SidebandEarly = 0x400;
constexpr std::uint32_t AgcOn = 0x800;
constexpr std::uint32_t SquelchOn = 0x2000;
constexpr std::uint32_t BalanceEarly = 0x4000;
constexpr std::uint32_t UpperSideband = 0x100000;
constexpr std::uint32_t LowerSideband = 0x200000;
// The console's receiver: MonoOutput, SpectrumEarly, ShiftEarly,
// SidebandEarly, AgcOn, SquelchOn, BalanceEarly, UpperSideband.
constexpr std::uint32_t ConsoleFlags = 0x00106F80;
}  // namespace flag

// The fields of one block, decoded from its little-endian bytes.
struct ReceiveParams {
  std::uint8_t version = 0;
  std::uint32_t flags = 0;
  double iqPhaseCoef = 0.0;
  double iqGainCoef = 0.0;
  std::int32_t lowCutHz = 0;
  std::int32_t highCutHz = 0;
  std::int32_t tuneOffsetHz = 0;
  std::int32_t agcBlocks = 0;
  double gain = 0.0;
  double squelchLevel = 0.0;
  double outputGain = 0.0;
};

namespace detail {
template <typename T>
T readLe(const std::uint8_t* bytes, std::size_t offset) {
  // The host is little-endian (x86-64, AArch64), like the block.
  T value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}
template <typename T>
void writeLe(std::uint8_t* bytes, std::size_t offset, T value) {
  std::memcpy(bytes + offset, &value, sizeof value);
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
  return p;
}

// Encodes p into a 65-byte block (reserved bytes zero).
inline void encodeParams(const ReceiveParams& p, std::uint8_t* block) {
  using detail::writeLe;
  std::memset(block, 0, kParamBlockBytes);
  block[param::kVersion] = p.version;
  writeLe(block, param::kFlags, p.flags);
  writeLe(block, param::kIqPhaseCoef, p.iqPhaseCoef);
  writeLe(block, param::kIqGainCoef, p.iqGainCoef);
  writeLe(block, param::kLowCutHz, p.lowCutHz);
  writeLe(block, param::kHighCutHz, p.highCutHz);
  writeLe(block, param::kTuneOffsetHz, p.tuneOffsetHz);
  writeLe(block, param::kAgcBlocks, p.agcBlocks);
  writeLe(block, param::kGain, p.gain);
  writeLe(block, param::kSquelchLevel, p.squelchLevel);
  writeLe(block, param::kOutputGain, p.outputGain);
}

// The console's receiver at tuning offset 0: upper sideband, 300..2700 Hz,
// AGC over 10 blocks with ceiling 1000, squelch level 0, output gain 1.
inline ReceiveParams consoleParams() {
  ReceiveParams p;
  p.version = kParamVersion;
  p.flags = flag::ConsoleFlags;
  p.lowCutHz = 300;
  p.highCutHz = 2700;
  p.agcBlocks = 10;
  p.gain = 1000.0;
  p.squelchLevel = 0.0;
  p.outputGain = 1.0;
  return p;
}

}  // namespace bw
