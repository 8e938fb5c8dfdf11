// The receive loop: configures the engine for a recording and runs every
// block of it through processBlock, writing what the engine plays.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>

#include "api/param_block.h"

namespace bw::rx {

class IqReader;
class IqWriter;
class SpectrumAverage;

struct LoopSettings {
  ReceiveParams params;  // sent once, before the first block
  int order = 11;        // 2^order frames a block
  SpectrumAverage* spectrum = nullptr;  // gets every block's snapshot; may be null
  const volatile std::sig_atomic_t* stop = nullptr;  // checked between blocks
  std::function<void(std::int64_t framesDone)> progress;  // after each block
};

struct LoopResult {
  std::int64_t frames = 0;  // frames read and written
  std::int64_t blocks = 0;  // blocks processed (the last one may be partial)
  bool interrupted = false;
  double loopSeconds = 0.0;  // wall time of the block loop alone
};

// Attaches the engine for the duration of one recording (and detaches it at
// the end, also on error); the engine is a process-wide state, so one
// recording at a time.
class EngineSession {
 public:
  EngineSession();
  ~EngineSession();
  EngineSession(const EngineSession&) = delete;
  EngineSession& operator=(const EngineSession&) = delete;
};

// Needs an EngineSession. Configures the engine for the reader's rate and
// width with 2^order frames a block (ToolError exit 2 when refused), sends
// the parameter block, then: reads N frames (the last block padded with
// zeros), processBlock, adds the spectrum snapshot, writes the frames that
// were read. Block i of the output is the engine's playback for captured
// block i. Throws ToolError from the reader or writer.
LoopResult runReceiveLoop(IqReader& reader, IqWriter& writer,
                          const LoopSettings& settings);

}  // namespace bw::rx
