// The gain stage: automatic gain control over a block's envelope, or the
// fixed gain when the AGC is off. A stage of the receive chain (the shape is
// described in dsp/receive_chain.h).
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"
#include "primitives/primitive_entries.h"

namespace bw {

// The longest history the AGC keeps, in blocks.
constexpr std::int32_t kAgcMaxHoldBlocks = 10;

// The number of blocks the AGC holds for a requested count: the count itself
// when it is 1..kAgcMaxHoldBlocks, otherwise 1. Ring entries 0..count-1 are
// the ones in use.
constexpr std::int32_t agcHoldBlocks(std::int32_t requested) {
  return (requested >= 1 && requested <= kAgcMaxHoldBlocks) ? requested : 1;
}

// How many blocks a run must have processed with the parameters p before the
// AGC decides from its full history: the blocks it holds (agcHoldBlocks)
// when p turns the AGC on, 0 when it does not (a fixed gain keeps no
// history). Until then the AGC's empty ring entries hold 0, which makes its
// gain 0: silence.
std::int32_t agcHistoryBlocks(const ReceiveParams& p);

class Agc {
 public:
  // What the gain stage keeps from block to block. All zero at first.
  struct State {
    explicit State(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : ring(2, 0.0, heap) {}
    std::pmr::vector<double> ring;  // recent gain candidates; at least 10 entries
    std::int32_t pos = 0;           // ring entry of the latest block
    double previousGain = 0.0;      // gain at the end of the previous AGC block
    double currentGain = 0.0;       // the gain in force (fixed-gain blocks too)
    bool operator==(const State&) const = default;
  };

  // The ring grows to hold every hold count (new entries 0) and the ramp
  // becomes 1 ms; the history stays, whatever the format.
  void configure(const ChainFormat& format, State& s);
  static void reset(State& s);

  // With AgcOn: gain = 16384 / the largest envelope peak of the last
  // agcHoldBlocks(p.agcBlocks) blocks, capped at p.gain (linear), reached by
  // a linear ramp over 1 ms (at most n samples); a block whose peak is 0
  // keeps the gain. Without it the fixed gain p.gain. Scales mag[0..n-1] in
  // place and sets s.currentGain.
  void process(State& s, const ReceiveParams& p, double* mag, std::int32_t n,
               const PrimitiveEntries& nsp) const;

  // The warm start for a recording, whose first blocks are at hand where a
  // live stream starts from an empty history. `seen`: the state a fresh
  // chain's gain stage was left in by those blocks, holding `hold` blocks
  // (agcHistoryBlocks). readingsHeld counts the entries in use that hold a
  // reading; warmStart gives `fresh` with the readings of `seen`, an entry
  // no block reached taking the largest (so that it lowers no gain);
  // startAt puts the gain in force and the ramp's start at `gain`, so that
  // the first block does not ramp up from zero.
  static std::int32_t readingsHeld(const State& seen, std::int32_t hold);
  static State warmStart(const State& fresh, const State& seen, std::int32_t hold);
  static void startAt(State& s, double gain);

 private:
  std::int32_t rampSamples_ = 0;
};

}  // namespace bw
