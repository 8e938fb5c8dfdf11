#include "core/receiver.h"

#include "audio/streaming.h"
#include "core/configuration.h"
#include "core/engine_state.h"
#include "core/lifecycle.h"

namespace bw {

namespace {
Status fromStream(audio::StreamResult r) {
  switch (r) {
    case audio::StreamResult::Ok: return Status::Ok;
    case audio::StreamResult::Refused: return Status::DeviceRefused;
    case audio::StreamResult::Running: return Status::Running;
    case audio::StreamResult::NotRunning: return Status::NotRunning;
    case audio::StreamResult::NotConfigured: return Status::NotConfigured;
  }
  return Status::DeviceRefused;
}

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

Status startReceiver(BlockHook hook) {
  // Inside a block the start is refused at once. Elsewhere the setup is read
  // under the control lock, so that a concurrent sdrSetGlobal cannot renew
  // the buffers between this read and the start.
  if (audio::inBlock()) return fromStream(audio::StreamResult::Running);
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
  const audio::StreamResult started = audio::startStreaming(e.audio, s);
  if (started == audio::StreamResult::Ok) engineWatchExit();
  return fromStream(started);
}

Status stopReceiver() { return fromStream(audio::stopStreaming(engine().audio)); }

void processBlock(const std::uint8_t* input, std::uint8_t* output) {
  processEngineBlock(&engine(), input, output);
}

void clearTails() { engine().chain.clearTails(); }

}  // namespace bw
