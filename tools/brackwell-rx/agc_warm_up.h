// The automatic gain's starting history for a recording. Live, the engine's
// AGC starts from an empty history and plays silence until it has seen as
// many blocks as it holds (the chain's agcHistoryBlocks: 0.38 s at the
// console's settings); a file has those blocks at hand, so the tool starts
// with the history they give.
#pragma once

#include <csignal>
#include <cstdint>
#include <optional>

#include "dsp/receive_chain.h"

namespace bw::rx {

class IqReader;

// Runs a fresh chain of `format` with the parameters `params` over the
// first blocks of the recording, read ahead through `reader` (so the receive
// loop still reads them from the start), until every block the AGC holds
// has left a reading or kWarmUpFrames frames were looked at. Returns the
// state a fresh chain starts from with that history: overlap tails and
// filter as fresh, the AGC's readings in the slots the blocks left them in
// (a slot no block reached takes the largest reading, so that it lowers no
// gain), the gain in force set to the one they give so that the first block
// does not ramp up from zero. nullopt when the AGC is off, the recording
// holds no block with signal that soon, or `stop` was set meanwhile.
// Throws ToolError from the reader.
std::optional<ReceiveChain::CarriedState> agcWarmUpState(
    IqReader& reader, const ChainFormat& format, const ReceiveParams& params,
    const volatile std::sig_atomic_t* stop);

// The most frames looked at ahead (at least the blocks the AGC holds).
constexpr std::int64_t kWarmUpFrames = std::int64_t{1} << 20;

}  // namespace bw::rx
