// Automatic gain control over a block's envelope.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "primitives/primitive_entries.h"

namespace bw {

// What the AGC keeps from block to block. All zero at first.
struct AgcState {
  explicit AgcState(std::pmr::memory_resource* heap) : ring(heap) {}
  std::pmr::vector<double> ring;  // recent gain candidates; at least 10 entries
  std::int32_t pos = 0;           // ring entry of the latest block
  double previousGain = 0.0;      // gain at the end of the previous AGC block
  // The gain in force (also set by fixed-gain blocks); read on other threads.
  std::atomic<double> currentGain{0.0};
};

// The longest history the AGC keeps, in blocks.
constexpr std::int32_t kAgcMaxHoldBlocks = 10;

// The number of blocks the AGC holds for a requested count: the count itself
// when it is 1..kAgcMaxHoldBlocks, otherwise 1. Ring entries 0..count-1 are
// the ones in use.
constexpr std::int32_t agcHoldBlocks(std::int32_t requested) {
  return (requested >= 1 && requested <= kAgcMaxHoldBlocks) ? requested : 1;
}

// Gain = 16384 / the largest envelope peak of the last holdBlocks blocks
// (agcHoldBlocks), capped at maxGain (linear), reached by a
// linear ramp over rampSamples samples (at most n). Scales mag[0..n-1] in
// place and sets s.currentGain. A block whose peak is 0 keeps the gain.
void applyAgc(AgcState& s, double* mag, std::int32_t n, std::int32_t rampSamples,
              std::int32_t holdBlocks, double maxGain, const PrimitiveEntries& nsp);

}  // namespace bw
