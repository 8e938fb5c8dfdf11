#include "core/configuration.h"

#include <cstdlib>
#include <cstring>

#include "audio/devices.h"
#include "audio/streaming.h"
#include "core/engine_state.h"
#include "dsp/consistent_copy.h"
#include "dsp/receive_params.h"

namespace bw {

namespace {
// Gives slots 0..count-1 a new zero-filled data buffer of `bytes`, releasing
// the old one. The data buffers come from the general heap.
bool renewBuffers(HeapVector<std::uint8_t*>& table, std::int32_t count,
                  std::int32_t bytes) {
  for (std::int32_t slot = 0; slot < count; ++slot) {
    std::free(table[slot]);
    table[slot] = static_cast<std::uint8_t*>(std::calloc(1, bytes));
    if (table[slot] == nullptr) return false;
  }
  return true;
}
}  // namespace

SdrStatus setGlobal(std::int32_t inputDevice, std::int32_t outputDevice,
                    std::int32_t bufferCount, std::int32_t order,
                    std::int32_t sampleRate, std::int32_t bitsPerSample) {
  if (inputDevice < 1 || inputDevice > audio::numInDevices() ||
      outputDevice < 1 || outputDevice > audio::numOutDevices()) {
    return SDR_BAD_ARGUMENT;
  }
  EngineState& e = engine();
  // Recorded before the format checks: a call refused below still names the
  // devices of the next sdrStart.
  e.inputDevice = inputDevice;
  e.outputDevice = outputDevice;
  // Inside a block the engine is running, and the control lock may be held
  // by an sdrStop waiting for this very block.
  if (audio::inBlock()) return SDR_RUNNING;
  // The running check and the renewal of the buffers are one step against
  // sdrStart and sdrStop on other threads.
  const std::unique_lock control = audio::holdControl();
  if (e.runState.load() == kRunning) return SDR_RUNNING;
  audio::closeLeftoverStreams(e.audio);  // a failed run's streams use them
  return configureFormat(bufferCount, order, sampleRate, bitsPerSample);
}

SdrStatus configureFormat(std::int32_t bufferCount, std::int32_t order,
                          std::int32_t sampleRate, std::int32_t bitsPerSample) {
  EngineState& e = engine();
  if (e.runState.load() == kRunning) return SDR_RUNNING;
  const ChainFormat format{order, sampleRate, bitsPerSample};
  if (bufferCount < kMinBufferCount || bufferCount > kMaxBufferCount ||
      !ReceiveChain::accepts(format)) {
    return SDR_BAD_ARGUMENT;
  }
  // Sizes the chain and plans its transform; refused (nothing changed) only
  // for want of memory.
  if (!e.chain.configure(format)) return SDR_BAD_ARGUMENT;

  e.bufferCount = bufferCount;
  e.bufferBytes = e.chain.bufferBytes();
  if (!renewBuffers(e.playbackBuffers, bufferCount, e.bufferBytes) ||
      !renewBuffers(e.captureBuffers, bufferCount, e.bufferBytes)) {
    e.waveFormat = audio::WaveFormat{};  // no usable format
    return SDR_BAD_ARGUMENT;
  }
  e.waveFormat.wFormatTag = audio::kFormatPcm;
  e.waveFormat.nChannels = 2;
  e.waveFormat.nSamplesPerSec = static_cast<std::uint32_t>(sampleRate);
  e.waveFormat.wBitsPerSample = static_cast<std::uint16_t>(bitsPerSample);
  e.waveFormat.nBlockAlign =
      static_cast<std::uint16_t>(e.waveFormat.nChannels * bitsPerSample / 8);
  e.waveFormat.nAvgBytesPerSec =
      e.waveFormat.nSamplesPerSec * e.waveFormat.nBlockAlign;
  e.waveFormat.cbSize = 0;
  return SDR_OK;
}

SdrStatus setNewParam(const void* block) {
  if (block == nullptr) return SDR_BAD_ARGUMENT;
  const auto* bytes = static_cast<const std::uint8_t*>(block);
  const std::uint8_t version = bytes[SDR_PARAM_OFFSET_VERSION];
  if (version != SDR_PARAM_VERSION && version != SDR_PARAM_VERSION_MODES) {
    return SDR_BAD_ARGUMENT;
  }
  // A mode the chain does not know is refused rather than played as
  // something else.
  if (version == SDR_PARAM_VERSION_MODES &&
      bytes[SDR_PARAM_OFFSET_MODE] >= SDR_MODE_COUNT) {
    return SDR_BAD_ARGUMENT;
  }
  // Decoded here, once per block the host sends, not once per processed
  // block. The values go to the chain as sent: its rules for values it
  // cannot use (a band it ignores, a block it cannot play) are part of what
  // it plays, and a block the layout accepts is always SDR_OK.
  const ReceiveParams p = decodeParams(bytes);
  std::uint64_t words[kParamWords] = {};
  std::memcpy(words, &p, sizeof p);
  EngineState& e = engine();
  publishWords(e.paramSequence, e.pendingParams, words, kParamWords);
  return SDR_OK;
}

void readPendingParams(ReceiveParams& dest) {
  EngineState& e = engine();
  std::uint64_t words[kParamWords];
  consistentCopy(e.paramSequence, e.pendingParams, words, kParamWords);
  std::memcpy(&dest, words, sizeof dest);
}

SdrStatus getSpectrum(double* dest) {
  EngineState& e = engine();
  if (e.runState.load() == kStopped) return SDR_NOT_RUNNING;
  if (dest == nullptr) return SDR_BAD_ARGUMENT;
  readSnapshot(e.spectrum, dest);
  return SDR_OK;
}

double getSmetr() {
  EngineState& e = engine();
  if (e.runState.load() == kStopped) return 0.0;
  return e.chain.reading();
}

}  // namespace bw
