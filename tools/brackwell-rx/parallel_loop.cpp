#include "parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dsp/receive_chain.h"
#include "dsp/spectrum_snapshot.h"
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

// What one round of blocks needs: captured blocks after up to `history`
// earlier ones, their playback, frame counts and (if wanted) spectrum
// snapshots; grown as blocks come, so a short recording touches only what it
// needs.
struct Round {
  std::vector<std::uint8_t> captured;
  std::vector<std::uint8_t> played;
  std::vector<std::int64_t> frames;
  std::vector<double> spectra;
  std::int64_t kept = 0;   // earlier blocks at the front of `captured`
  std::int64_t first = 0;  // global index of the round's first new block
  int count = 0;           // new blocks
  bool last = false;       // the recording ends in this round
};

}  // namespace

LoopResult runParallelLoop(IqReader& reader, IqWriter& writer,
                           const LoopSettings& settings, int jobs,
                           const ReceiveChain::CarriedState* startFrom) {
  const ChainFormat format{settings.order, reader.sampleRate(),
                           reader.engineBits()};
  // One more segment a round than threads: the main thread does the file
  // work and then runs a segment itself, so that no core idles while the
  // file work goes on.
  const int lanesWanted = jobs + 1;
  std::vector<std::unique_ptr<Lane>> lanes;
  for (int j = 0; j < lanesWanted; ++j) {
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
  // The state block 0 starts from: the one chain's start.
  const ReceiveChain::CarriedState& startState = startFrom ? *startFrom : fresh;
  lanes[0]->chain->restoreState(startState);

  const ReceiveParams& params = settings.params;
  const int bits = reader.engineBits();
  const std::int64_t n = lanes[0]->chain->blockSamples();
  const std::int64_t m = lanes[0]->chain->fftLength();
  const std::size_t bytes = static_cast<std::size_t>(lanes[0]->chain->bufferBytes());
  // The AGC's ring period; a fixed gain keeps no history and runs like 1.
  const int hold = std::max(1, agcHistoryBlocks(params));
  const int minWarmUp = hold + 2;
  const int history = minWarmUp + hold;  // the longest warm-up
  const int segmentBlocks =
      static_cast<int>(std::max<std::int64_t>(history + 2, kSegmentFrames / n));
  // Two rounds of blocks are kept in memory (captured, played and, if
  // wanted, a spectrum each): at most about kRoundBytes each, fewer
  // segments where blocks are large.
  const std::size_t blockBytes = 2 * bytes + (settings.spectrum ? m * sizeof(double) : 0);
  const int segmentsPerRound = static_cast<int>(std::clamp<std::size_t>(
      kRoundBytes / (blockBytes * segmentBlocks), 1, static_cast<std::size_t>(lanesWanted)));
  const int threadCount = std::min(jobs, segmentsPerRound);
  const int roundBlocks = segmentsPerRound * segmentBlocks;
  std::vector<std::int32_t> samples(static_cast<std::size_t>(2 * n));

  // Reads the round after `before` (null for the first): its last `history`
  // blocks, then up to a round of new ones; a short block ends the
  // recording.
  auto readRound = [&](Round& r, const Round* before) {
    r.kept = 0;
    r.count = 0;
    r.first = 0;
    r.last = false;
    if (before != nullptr) {
      const std::int64_t total = before->kept + before->count;
      r.kept = std::min<std::int64_t>(history, total);
      r.first = before->first + before->count;
      r.captured.resize(std::max<std::size_t>(r.captured.size(), r.kept * bytes));
      std::memcpy(r.captured.data(), &before->captured[(total - r.kept) * bytes],
                  r.kept * bytes);
    }
    while (r.count < roundBlocks && !r.last) {
      // A stop asked for meanwhile ends the run before another read that
      // might wait on a pipe.
      if (settings.stop && *settings.stop) break;
      const std::int64_t got = reader.read(samples.data(), n);
      if (got == 0) {
        r.last = true;
        break;
      }
      std::fill(samples.begin() + 2 * got, samples.end(), 0);
      r.captured.resize(std::max(r.captured.size(), (r.kept + r.count + 1) * bytes));
      packEnginePcm(samples.data(), samples.size(), bits,
                    &r.captured[(r.kept + r.count) * bytes]);
      r.frames.resize(std::max<std::size_t>(r.frames.size(), r.count + 1));
      r.frames[r.count++] = got;
      r.last = got < n;
    }
    r.played.resize(std::max(r.played.size(), r.count * bytes));
    if (settings.spectrum) {
      r.spectra.resize(std::max<std::size_t>(r.spectra.size(), r.count * m));
    }
  };

  LoopResult result;
  // Writes a processed round out, in block order.
  auto writeRound = [&](const Round& r) {
    for (int b = 0; b < r.count; ++b) {
      if (settings.spectrum) settings.spectrum->add(&r.spectra[b * m]);
      unpackEnginePcm(&r.played[b * bytes], static_cast<std::size_t>(2 * r.frames[b]),
                      bits, samples.data());
      writer.write(samples.data(), r.frames[b]);
      result.frames += r.frames[b];
      ++result.blocks;
    }
    if (settings.progress) settings.progress(result.frames);
  };

  // Runs a round's segments, one thread each. Segment s runs blocks
  // [s * perSegment, ...); segment 0 continues the chain that ended the
  // previous round, the others warm up first.
  struct Plan {
    int perSegment = 1;
    int segments = 0;
  };
  auto runBlocks = [&](Round& r, Lane& lane, int from, int to) {
    for (int b = from; b < to; ++b) {
      lane.chain->process(params, &r.captured[(r.kept + b) * bytes], &r.played[b * bytes]);
      if (settings.spectrum) {
        std::memcpy(&r.spectra[b * m], lane.snapshot.values, m * sizeof(double));
      }
    }
    lane.chain->saveState(lane.end);
  };
  auto runSegment = [&](Round& r, const Plan& plan, int s) {
    Lane& lane = *lanes[s];
    const int from = s * plan.perSegment;
    const int to = std::min(r.count, from + plan.perSegment);
    if (s > 0) {
      const std::int64_t global = r.first + from;
      // As many blocks as the AGC ring needs, aligned with the ring's
      // position in the one-chain run; all of them near the start.
      std::int64_t warm = minWarmUp + ((global - minWarmUp) % hold + hold) % hold;
      if (warm >= global) warm = global;
      lane.chain->restoreState(warm == global ? startState : fresh);
      for (std::int64_t b = from - warm; b < from; ++b) {
        lane.chain->process(params, &r.captured[(r.kept + b) * bytes], &r.played[from * bytes]);
      }
      lane.chain->saveState(lane.warm);
    }
    runBlocks(r, lane, from, to);
  };

  // Round k is processed while round k-1 is written and round k+1 read, so
  // the file work (a good half of the time at 16 bits) runs beside the
  // chains instead of between rounds.
  Round rounds[2];
  int current = 0;
  bool pending = false;  // rounds[1 - current] holds output not yet written
  const auto start = std::chrono::steady_clock::now();
  readRound(rounds[0], nullptr);
  while (rounds[current].count > 0) {
    if (settings.stop && *settings.stop) {
      result.interrupted = true;
      break;
    }
    Round& r = rounds[current];
    Round& other = rounds[1 - current];
    Plan plan;
    plan.perSegment = std::max(1, (r.count + segmentsPerRound - 1) / segmentsPerRound);
    plan.segments = (r.count + plan.perSegment - 1) / plan.perSegment;
    // Each thread takes the next segment not yet taken until none is left.
    std::atomic<int> next{0};
    auto takeSegments = [&] {
      for (int s; (s = next.fetch_add(1)) < plan.segments;) runSegment(r, plan, s);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < std::min(threadCount, plan.segments); ++t) {
      threads.emplace_back(takeSegments);
    }
    // The threads must be joined whatever the file work throws.
    try {
      if (pending) writeRound(other);
      if (r.last) {
        other.count = 0;
      } else {
        readRound(other, &r);
      }
    } catch (...) {
      next.store(plan.segments);
      for (std::thread& t : threads) t.join();
      throw;
    }
    takeSegments();
    for (std::thread& t : threads) t.join();

    // Where a warm-up did not reach the state the segment before left, run
    // the segment again from that state.
    for (int s = 1; s < plan.segments; ++s) {
      if (lanes[s]->warm == lanes[s - 1]->end) continue;
      lanes[s]->chain->restoreState(lanes[s - 1]->end);
      runBlocks(r, *lanes[s], s * plan.perSegment,
                std::min(r.count, (s + 1) * plan.perSegment));
      ++result.rerunSegments;
    }
    // The chain of the last segment carries on in the next round.
    std::swap(lanes[0], lanes[plan.segments - 1]);
    pending = true;
    current = 1 - current;
  }
  if (settings.stop && *settings.stop) result.interrupted = true;
  if (pending && !result.interrupted) writeRound(rounds[1 - current]);
  result.loopSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace bw::rx
