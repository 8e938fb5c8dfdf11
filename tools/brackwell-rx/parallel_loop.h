// The receive loop on several threads: the recording is cut into segments of
// consecutive blocks, each run by a receive chain of its own, and the output
// is byte for byte what one chain running every block gives.
//
// A chain remembers little: the overlap tail of the last block and the
// automatic gain's recent history (at most ten blocks). So a segment's chain
// first runs the blocks before it as a warm-up, output discarded, and its
// state after the warm-up is compared with the state of the chain that ran
// the segment before. Where they differ (a long silent stretch keeps an old
// gain, for one), the segment is run again from the earlier chain's state,
// one segment after the other.
//
// The file work overlaps the chains: while the threads run one round's
// segments, the main thread writes the round before and reads the round
// after, then runs the round's spare segment (there is one segment more
// than threads) or waits.
#pragma once

#include "dsp/receive_chain.h"
#include "receive_loop.h"

namespace bw::rx {

// As runReceiveLoop, with `jobs` threads (2 or more) besides the main
// thread; the first block starts from `start` (a state of a chain of this
// format), or fresh when it is null. Stops between rounds of up to jobs + 1
// segments. Throws ToolError from the reader or writer.
LoopResult runParallelLoop(IqReader& reader, IqWriter& writer,
                           const LoopSettings& settings, int jobs,
                           const ReceiveChain::CarriedState* start);

}  // namespace bw::rx
