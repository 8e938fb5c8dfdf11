#include "receive_loop.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "api/configuration.h"
#include "api/engine_state.h"
#include "api/lifecycle.h"
#include "dsp/pipeline.h"
#include "iq_reader.h"
#include "iq_writer.h"
#include "pcm_layout.h"
#include "spectrum_average.h"
#include "tool_error.h"

namespace bw::rx {

namespace {
// A ring of two buffers: the smallest the engine configures; the tool hands
// processBlock its own buffers and does not use the ring.
constexpr int kRingBuffers = 2;

void configureEngine(const IqReader& reader, const LoopSettings& settings) {
  const int status = configureFormat(kRingBuffers, settings.order,
                                     reader.sampleRate(), reader.engineBits());
  if (status != 0) {
    throw ToolError(kExitBadInput,
                    reader.path() + ": the engine refused " +
                        std::to_string(reader.sampleRate()) + " Hz, " +
                        std::to_string(reader.engineBits()) + " bits, order " +
                        std::to_string(settings.order) + " (status " +
                        std::to_string(status) + ")");
  }
  std::uint8_t block[kParamBlockBytes];
  encodeParams(settings.params, block);
  if (setNewParam(block) != 0) {
    throw ToolError(kExitBadInput, "the engine refused the parameter block");
  }
}
}  // namespace

EngineSession::EngineSession() {
  engineAttach();
  if (!engine().nsp.complete()) {
    engineDetach();
    throw ToolError(kExitFailure, "the signal-processing primitives could not be bound");
  }
}

EngineSession::~EngineSession() { engineDetach(); }

LoopResult runReceiveLoop(IqReader& reader, IqWriter& writer,
                          const LoopSettings& settings) {
  configureEngine(reader, settings);
  const EngineState& e = engine();
  const std::int64_t n = e.blockSamples;
  const int bits = reader.engineBits();

  std::vector<std::int32_t> samples(static_cast<std::size_t>(2 * n));
  std::vector<std::uint8_t> captured(static_cast<std::size_t>(e.bufferBytes));
  std::vector<std::uint8_t> played(static_cast<std::size_t>(e.bufferBytes));

  LoopResult result;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (settings.stop && *settings.stop) {
      result.interrupted = true;
      break;
    }
    const std::int64_t got = reader.read(samples.data(), n);
    if (got == 0) break;
    // Pad a short last block with zero samples (128 at 8 bits, packed).
    std::fill(samples.begin() + 2 * got, samples.end(), 0);
    packEnginePcm(samples.data(), samples.size(), bits, captured.data());

    processBlock(captured.data(), played.data());
    // Same thread as processBlock: the snapshot is not being written now.
    if (settings.spectrum) settings.spectrum->add(e.spectrum.values);

    unpackEnginePcm(played.data(), static_cast<std::size_t>(2 * got), bits,
                    samples.data());
    writer.write(samples.data(), got);
    result.frames += got;
    ++result.blocks;
    if (settings.progress) settings.progress(result.frames);
    if (got < n) break;
  }
  result.loopSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace bw::rx
