#include "receive_loop.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "dsp/receive_chain.h"
#include "dsp/spectrum_snapshot.h"
#include "primitives/primitive_entries.h"
#include "agc_warm_up.h"
#include "iq_reader.h"
#include "iq_writer.h"
#include "parallel_loop.h"
#include "pcm_layout.h"
#include "spectrum_average.h"
#include "tool_error.h"

namespace bw::rx {

namespace {
// The status the engine's configuration answers for a refused format.
constexpr int kRefusedFormatStatus = 2;

void configureChain(ReceiveChain& chain, const ChainFormat& format,
                    const IqReader& reader, const LoopSettings& settings) {
  if (!chain.configure(format)) {
    throw ToolError(kExitBadInput,
                    reader.path() + ": the engine refused " +
                        std::to_string(reader.sampleRate()) + " Hz, " +
                        std::to_string(reader.engineBits()) + " bits, order " +
                        std::to_string(settings.order) + " (status " +
                        std::to_string(kRefusedFormatStatus) + ")");
  }
}
}  // namespace

LoopResult runReceiveLoop(IqReader& reader, IqWriter& writer,
                          const LoopSettings& settings) {
  const ChainFormat format{settings.order, reader.sampleRate(),
                           reader.engineBits()};
  const ReceiveParams& params = settings.params;
  std::optional<ReceiveChain::CarriedState> warmedUp;
  if (settings.agcWarmUp) {
    warmedUp = agcWarmUpState(reader, format, params, settings.stop);
  }
  const ReceiveChain::CarriedState* startState = warmedUp ? &*warmedUp : nullptr;
  // The extensions' estimates and oscillator phase carry the whole recording
  // with them, so a lane's warm-up never ends in the state the lane before
  // it ended in, and every segment would be run twice: one chain is faster.
  if (settings.jobs > 1 && params.extensions == 0) {
    return runParallelLoop(reader, writer, settings, settings.jobs, startState);
  }
  // The snapshot's storage holds M values for the largest order.
  std::vector<double> spectrumValues(std::size_t{2} << SDR_MAX_ORDER, 0.0);
  SpectrumSnapshot snapshot;
  snapshot.values = spectrumValues.data();
  snapshot.capacity = static_cast<std::int64_t>(spectrumValues.size());
  ReceiveChain chain(directPrimitives(), snapshot);
  configureChain(chain, format, reader, settings);
  if (startState) chain.restoreState(*startState);

  const std::int64_t n = chain.blockSamples();
  const int bits = reader.engineBits();

  std::vector<std::int32_t> samples(static_cast<std::size_t>(2 * n));
  std::vector<std::uint8_t> captured(static_cast<std::size_t>(chain.bufferBytes()));
  std::vector<std::uint8_t> played(static_cast<std::size_t>(chain.bufferBytes()));

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

    chain.process(params, captured.data(), played.data());
    // Same thread as the chain: the snapshot is not being written now.
    if (settings.spectrum) settings.spectrum->add(snapshot.values);

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
