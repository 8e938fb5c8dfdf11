#include "agc_warm_up.h"

#include <algorithm>
#include <vector>

#include "dsp/receive_params.h"
#include "dsp/spectrum_snapshot.h"
#include "iq_reader.h"
#include "pcm_layout.h"

namespace bw::rx {

std::optional<ReceiveChain::CarriedState> agcWarmUpState(
    IqReader& reader, const ChainFormat& format, const ReceiveParams& params,
    const volatile std::sig_atomic_t* stop) {
  const auto hold = static_cast<std::size_t>(agcHistoryBlocks(params));
  if (hold == 0) return std::nullopt;  // the AGC is off

  std::vector<double> spectrumValues(std::size_t{2} << format.order, 0.0);
  SpectrumSnapshot snapshot;
  snapshot.values = spectrumValues.data();
  snapshot.capacity = static_cast<std::int64_t>(spectrumValues.size());
  ReceiveChain chain(directPrimitives(), snapshot);
  if (!chain.configure(format)) return std::nullopt;
  ReceiveChain::CarriedState state;
  chain.saveState(state);
  const ReceiveChain::CarriedState fresh = state;

  const std::int64_t n = chain.blockSamples();
  const std::int64_t blocks =
      std::max<std::int64_t>(static_cast<std::int64_t>(hold), kWarmUpFrames / n);
  std::vector<std::int32_t> samples(static_cast<std::size_t>(2 * n));
  std::vector<std::uint8_t> captured(static_cast<std::size_t>(chain.bufferBytes()));
  std::vector<std::uint8_t> played(captured.size());
  std::vector<std::uint8_t> first;  // block 0, captured
  const auto filled = [&] { return Agc::readingsHeld(state.agc, static_cast<std::int32_t>(hold)); };
  for (std::int64_t b = 0; b < blocks && static_cast<std::size_t>(filled()) < hold; ++b) {
    if (stop && *stop) return std::nullopt;
    const std::int64_t got = reader.peek(b * n, samples.data(), n);
    if (got == 0) break;
    // As the receive loop does: a short last block padded with zeros.
    std::fill(samples.begin() + 2 * got, samples.end(), 0);
    packEnginePcm(samples.data(), samples.size(), format.bitsPerSample, captured.data());
    if (b == 0) first = captured;
    chain.process(params, captured.data(), played.data());
    chain.saveState(state);
    if (got < n) break;
  }
  if (filled() == 0) return std::nullopt;

  ReceiveChain::CarriedState start = fresh;
  start.agc = Agc::warmStart(fresh.agc, state.agc, static_cast<std::int32_t>(hold));
  // The gain the chain gives block 0 from this history, so that block 0
  // starts at it rather than ramping up from zero.
  chain.restoreState(start);
  chain.process(params, first.data(), played.data());
  Agc::startAt(start.agc, chain.reading());
  return start;
}

}  // namespace bw::rx
