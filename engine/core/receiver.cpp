#include "core/receiver.h"

#include "audio/streaming.h"
#include "core/configuration.h"
#include "core/engine_state.h"
#include "core/lifecycle.h"

namespace bw {

namespace {
void processEngineBlock(void* context, const std::uint8_t* input,
                        std::uint8_t* output) {
  EngineState& e = *static_cast<EngineState*>(context);
  if (BlockHook hook = e.blockHook.load()) hook();
  readPendingParams(e.activeParams);
  e.chain.process(e.activeParams, input, output);
}

// What a start does once the audio layer's checks have passed, before the
// streams open: the new hook, and no tail of an earlier run.
struct StartingBlocks {
  EngineState* engine;
  BlockHook hook;
};
void onStart(void* context) {
  const auto& start = *static_cast<StartingBlocks*>(context);
  start.engine->blockHook.store(start.hook);
  start.engine->chain.clearTails();
}
}  // namespace

SdrStatus startReceiver(BlockHook hook) {
  // Inside a block the start is refused at once. Elsewhere the setup is read
  // under the control lock, so that a concurrent sdrSetGlobal cannot renew
  // the buffers between this read and the start.
  if (audio::inBlock()) return SDR_RUNNING;
  const auto control = audio::holdControl();
  EngineState& e = engine();
  audio::StreamSetup s;
  s.inputDevice = e.inputDevice;
  s.outputDevice = e.outputDevice;
  s.format = e.waveFormat;
  s.bufferCount = e.bufferCount;
  s.bufferBytes = e.bufferBytes;
  s.captureHeaders = e.captureHeaders.data();
  s.playbackHeaders = e.playbackHeaders.data();
  s.captureBuffers = e.captureBuffers.data();
  s.playbackBuffers = e.playbackBuffers.data();
  s.client.context = &e;
  s.client.process = &processEngineBlock;
  StartingBlocks starting{&e, hook};
  s.onStart = &onStart;
  s.startContext = &starting;
  const SdrStatus started = audio::startStreaming(e.audio, s);
  if (started == SDR_OK) engineWatchExit();
  return started;
}

SdrStatus stopReceiver() { return audio::stopStreaming(engine().audio); }

void processBlock(const std::uint8_t* input, std::uint8_t* output) {
  processEngineBlock(&engine(), input, output);
}

void clearTails() { engine().chain.clearTails(); }

}  // namespace bw
