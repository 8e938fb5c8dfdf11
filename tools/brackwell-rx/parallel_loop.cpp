#include "parallel_loop.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dsp/receive_chain.h"
#include "dsp/spectrum_snapshot.h"
#include "primitives/fft_plan.h"
#include "primitives/primitive_entries.h"
#include "iq_reader.h"
#include "iq_writer.h"
#include "pcm_layout.h"
#include "spectrum_average.h"
#include "tool_error.h"

namespace bw::rx {

namespace {

// Segments hold at least this many frames (and at least twice the longest
// warm-up), so that warm-ups cost little; a round is one segment per job,
// or fewer blocks cut evenly at the end of a recording.
constexpr std::int64_t kSegmentFrames = std::int64_t{1} << 17;
constexpr int kMaxHold = 10;  // the AGC's longest history, in blocks
constexpr std::size_t kRoundBytes = std::size_t{256} << 20;

// One chain with its own spectrum snapshot (which the chain refers to, so a
// lane never moves).
struct Lane {
  std::vector<double> spectrumValues;
  SpectrumSnapshot snapshot;
  std::unique_ptr<ReceiveChain> chain;
  ReceiveChain::CarriedState warm;  // state after this round's warm-up
  ReceiveChain::CarriedState end;   // state after this round's segment
};

// The AGC hold count as the chain counts it (1..10, anything else 1).
int holdOf(const ReceiveParams& p) {
  return (p.agcBlocks >= 1 && p.agcBlocks <= kMaxHold) ? p.agcBlocks : 1;
}

}  // namespace

LoopResult runParallelLoop(IqReader& reader, IqWriter& writer,
                           const LoopSettings& settings, int jobs) {
  const ChainFormat format{settings.order, reader.sampleRate(),
                           reader.engineBits()};
  // Scratch for every thread's transforms before any chain plans.
  nsp::prepareFft(settings.order + 1, jobs);

  std::vector<std::unique_ptr<Lane>> lanes;
  for (int j = 0; j < jobs; ++j) {
    Lane& lane = *lanes.emplace_back(std::make_unique<Lane>());
    lane.spectrumValues.assign(std::size_t{2} << SDR_MAX_ORDER, 0.0);
    lane.snapshot.values = lane.spectrumValues.data();
    lane.snapshot.capacity = static_cast<std::int64_t>(lane.spectrumValues.size());
    lane.chain = std::make_unique<ReceiveChain>(directPrimitives(), lane.snapshot);
    if (!lane.chain->configure(format)) {
      throw ToolError(kExitBadInput,
                      reader.path() + ": the engine refused " +
                          std::to_string(reader.sampleRate()) + " Hz, " +
                          std::to_string(reader.engineBits()) + " bits, order " +
                          std::to_string(settings.order) + " (status 2)");
    }
  }
  ReceiveChain::CarriedState fresh;
  lanes[0]->chain->saveState(fresh);

  std::uint8_t params[kParamBlockBytes];
  encodeParams(settings.params, params);
  const int bits = reader.engineBits();
  const std::int64_t n = lanes[0]->chain->blockSamples();
  const std::int64_t m = lanes[0]->chain->fftLength();
  const std::size_t bytes = static_cast<std::size_t>(lanes[0]->chain->bufferBytes());
  const int hold = holdOf(settings.params);
  const int minWarmUp = hold + 2;
  const int history = minWarmUp + hold;  // the longest warm-up
  const int segmentBlocks =
      static_cast<int>(std::max<std::int64_t>(history + 2, kSegmentFrames / n));
  // A round's blocks are kept in memory (captured, played and, if wanted, a
  // spectrum each): at most about kRoundBytes, fewer jobs where blocks are
  // large.
  const std::size_t blockBytes = 2 * bytes + (settings.spectrum ? m * sizeof(double) : 0);
  jobs = static_cast<int>(std::clamp<std::size_t>(
      kRoundBytes / (blockBytes * segmentBlocks), 1, static_cast<std::size_t>(jobs)));
  const int roundBlocks = jobs * segmentBlocks;

  // Captured blocks of this round after up to `history` earlier ones, their
  // playback, frame counts and (if wanted) spectrum snapshots; grown as
  // blocks come, so a short recording touches only what it needs.
  std::vector<std::uint8_t> captured;
  std::vector<std::uint8_t> played;
  std::vector<std::int64_t> frames;
  std::vector<double> spectra;
  std::vector<std::int32_t> samples(static_cast<std::size_t>(2 * n));

  LoopResult result;
  std::int64_t kept = 0;  // earlier blocks at the front of `captured`
  bool last = false;
  const auto start = std::chrono::steady_clock::now();
  while (!last) {
    if (settings.stop && *settings.stop) {
      result.interrupted = true;
      break;
    }
    // Read up to a round of blocks; a short one ends the recording.
    int count = 0;
    while (count < roundBlocks && !last) {
      const std::int64_t got = reader.read(samples.data(), n);
      if (got == 0) break;
      std::fill(samples.begin() + 2 * got, samples.end(), 0);
      captured.resize(std::max(captured.size(), (kept + count + 1) * bytes));
      packEnginePcm(samples.data(), samples.size(), bits,
                    &captured[(kept + count) * bytes]);
      frames.resize(std::max<std::size_t>(frames.size(), count + 1));
      frames[count++] = got;
      last = got < n;
    }
    if (count == 0) break;
    played.resize(std::max(played.size(), count * bytes));
    if (settings.spectrum) spectra.resize(std::max<std::size_t>(spectra.size(), count * m));

    const std::int64_t first = result.blocks;  // global index of block 0 here
    const int perSegment = std::max(1, (count + jobs - 1) / jobs);
    const int segments = (count + perSegment - 1) / perSegment;
    auto runBlocks = [&](Lane& lane, int from, int to) {
      for (int b = from; b < to; ++b) {
        lane.chain->process(params, &captured[(kept + b) * bytes], &played[b * bytes]);
        if (settings.spectrum) {
          std::memcpy(&spectra[b * m], lane.snapshot.values, m * sizeof(double));
        }
      }
      lane.chain->saveState(lane.end);
    };
    // Segment s runs blocks [s * perSegment, ...). Segment 0 continues the
    // chain that ended the previous round; the others warm up first.
    auto runSegment = [&](int s) {
      Lane& lane = *lanes[s];
      const int from = s * perSegment;
      const int to = std::min(count, from + perSegment);
      if (s > 0) {
        const std::int64_t global = first + from;
        // As many blocks as the AGC ring needs, aligned with the ring's
        // position in the one-chain run; all of them near the start.
        std::int64_t warm = minWarmUp + ((global - minWarmUp) % hold + hold) % hold;
        if (warm >= global) warm = global;
        lane.chain->restoreState(fresh);
        for (std::int64_t b = from - warm; b < from; ++b) {
          lane.chain->process(params, &captured[(kept + b) * bytes], &played[from * bytes]);
        }
        lane.chain->saveState(lane.warm);
      }
      runBlocks(lane, from, to);
    };
    std::vector<std::thread> threads;
    for (int s = 1; s < segments; ++s) threads.emplace_back(runSegment, s);
    runSegment(0);
    for (std::thread& t : threads) t.join();

    // Where a warm-up did not reach the state the segment before left, run
    // the segment again from that state.
    for (int s = 1; s < segments; ++s) {
      if (lanes[s]->warm == lanes[s - 1]->end) continue;
      lanes[s]->chain->restoreState(lanes[s - 1]->end);
      runBlocks(*lanes[s], s * perSegment, std::min(count, (s + 1) * perSegment));
      ++result.rerunSegments;
    }
    // The chain of the last segment carries on in the next round.
    std::swap(lanes[0], lanes[segments - 1]);

    for (int b = 0; b < count; ++b) {
      if (settings.spectrum) settings.spectrum->add(&spectra[b * m]);
      unpackEnginePcm(&played[b * bytes], static_cast<std::size_t>(2 * frames[b]),
                      bits, samples.data());
      writer.write(samples.data(), frames[b]);
      result.frames += frames[b];
      ++result.blocks;
    }
    if (settings.progress) settings.progress(result.frames);

    // Keep the last `history` blocks for the next round's warm-ups.
    const std::int64_t total = kept + count;
    const std::int64_t keep = std::min<std::int64_t>(history, total);
    std::memmove(captured.data(), &captured[(total - keep) * bytes], keep * bytes);
    kept = keep;
  }
  result.loopSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace bw::rx
