// The console's receive-parameter block: the fixed upper-sideband receiver
// (300..2700 Hz, AGC over 10 blocks, ceiling 1000) and the tuning offset
// that the slider rewrites.
#pragma once

#include <array>
#include <cstdint>

#include "brackwell/param_block.h"

namespace lanternfly {

using ReceiveBlock = std::array<std::uint8_t, SDR_PARAM_BLOCK_BYTES>;

// Slider range and the middle position that means offset 0.
inline constexpr int kSliderMinimum = 0;
inline constexpr int kSliderMaximum = 4800;
inline constexpr int kSliderCentre = 2400;
inline constexpr int kHzPerSliderStep = 10;

// The block as sent at start-up: version 1, the receiver's flags and fields,
// tuning offset 0, every other byte 0.
ReceiveBlock initialReceiveBlock();

// Tuning offset in Hz for a slider position: (position - 2400) * 10.
std::int32_t tuneOffsetForPosition(int position);

// Writes offsetHz into the block's tuning field (little-endian i32).
void storeTuneOffset(ReceiveBlock& block, std::int32_t offsetHz);

}  // namespace lanternfly
