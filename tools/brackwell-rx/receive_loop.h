// The receive loop: a receive chain configured for a recording runs every
// block of it, and what the chain plays is written out.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>

#include "dsp/receive_params.h"

namespace bw::rx {

class IqReader;
class IqWriter;
class SpectrumAverage;

struct LoopSettings {
  ReceiveParams params;  // sent once, before the first block
  int order = 11;        // 2^order frames a block
  int jobs = 1;          // threads; the output is the same for any count
  // The AGC starts with the history of the recording's first blocks
  // (agc_warm_up.h) instead of the engine's empty one.
  bool agcWarmUp = false;
  SpectrumAverage* spectrum = nullptr;  // gets every block's snapshot; may be null
  const volatile std::sig_atomic_t* stop = nullptr;  // checked between blocks
  std::function<void(std::int64_t framesDone)> progress;  // after each block
};

struct LoopResult {
  std::int64_t frames = 0;  // frames read and written
  std::int64_t blocks = 0;  // blocks processed (the last one may be partial)
  bool interrupted = false;
  double loopSeconds = 0.0;  // wall time of the block loop alone
  std::int64_t rerunSegments = 0;  // segments whose warm-up fell short (jobs > 1)
};

// Configures a receive chain (the engine's own, with the engine's
// primitives) for the reader's rate and width with 2^order frames a block
// (ToolError exit 2 when refused), then: reads N frames (the last block
// padded with zeros), runs the chain with the parameter block, adds the
// spectrum snapshot, writes the frames that were read. Block i of the output
// is the chain's playback for captured block i. The chain starts fresh, as
// the engine's does, or with the AGC warm-up state when settings.agcWarmUp. Throws ToolError from the
// reader or writer. With settings.jobs above 1 the blocks are shared among
// that many threads (parallel_loop.h), with the same output.
LoopResult runReceiveLoop(IqReader& reader, IqWriter& writer,
                          const LoopSettings& settings);

}  // namespace bw::rx
