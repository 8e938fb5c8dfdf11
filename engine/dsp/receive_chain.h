// The receive chain: one captured buffer of interleaved stereo I/Q in, one
// playback buffer out, by fast convolution with overlap-add (N frames a
// block, transforms of M = 2N points). On the way it refreshes the spectrum
// snapshot it was given and its gain reading.
//
// The chain never sees the 65-byte wire format: its caller decodes the block
// (decodeParams) and hands it the typed parameters.
//
// Ownership: the chain owns its transform (plans and the paired arrays they
// run on), work arrays, overlap tails, AGC state, filter response and the
// state carried from block to block; the arrays are allocated from `heap`.
// The snapshot and the heap belong to the caller and must outlive the chain.
//
// Threads: configure and clearTails run while no block is being processed;
// process runs on one processing thread at a time and never allocates,
// locks, waits or does I/O. reading() may be called on any thread.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/agc.h"
#include "dsp/dc_removal.h"
#include "dsp/fine_tuning.h"
#include "dsp/iq_balance.h"
#include "dsp/receive_params.h"
#include "dsp/split_buffer.h"
#include "dsp/spectrum_snapshot.h"
#include "primitives/fft_transform.h"
#include "primitives/primitive_entries.h"

namespace bw {

// The sample format of the blocks.
struct ChainFormat {
  std::int32_t order = 0;          // N = 2^order frames a block, 8..16
  std::int32_t sampleRate = 0;     // Hz
  std::int32_t bitsPerSample = 0;  // 8, 16, 24 or 32
};

// True for the sample rates the chain accepts (Hz).
bool isSupportedSampleRate(std::int32_t sampleRate);

// How many blocks a run must have processed with the parameters p before the
// AGC decides from its full history: the blocks it holds (agcHoldBlocks,
// 1..kAgcMaxHoldBlocks) when p turns the AGC on, 0 when it does not (a fixed
// gain keeps no history). Until then the AGC's empty ring entries hold 0,
// which makes its gain 0: silence. Ring entries 0..count-1 are the ones in
// use.
std::int32_t agcHistoryBlocks(const ReceiveParams& p);

class ReceiveChain {
 public:
  // nsp: the primitives (copied); when not complete the chain outputs
  // silence. The chain runs its transforms on its own plans, not through
  // the table's nspzrFftNip, which only has to be bound like the others.
  // The work arrays start at two zero elements each.
  ReceiveChain(const PrimitiveEntries& nsp, SpectrumSnapshot& spectrum,
               std::pmr::memory_resource* heap = std::pmr::get_default_resource());
  ReceiveChain(const ReceiveChain&) = delete;
  ReceiveChain& operator=(const ReceiveChain&) = delete;

  // True when the format is one the chain can be configured for.
  static bool accepts(const ChainFormat& format);

  // Sizes everything for `format` and plans the chain's own M-point
  // transform (allocates, may measure: never on the processing thread):
  // false (nothing changed) for a format it does not accept, a snapshot too
  // small for M values, or a transform that cannot be planned. Resizing
  // keeps the leading elements of every array and zero-fills new ones. A new
  // transform length or rate also drops the filter band in use (the next
  // block designs anew) and clears the tails.
  bool configure(const ChainFormat& format);

  // Processes one block with the parameters `params`; input and output are
  // bufferBytes() bytes of PCM in the configured format. Flags 0 copies the
  // input through; a block that is not playable (playable_block.h) gives
  // silence and leaves the chain's state as it was; a new filter band is
  // designed only for 0 < lowCutHz < highCutHz (else the band in use stays).
  void process(const ReceiveParams& params, const std::uint8_t* input,
               std::uint8_t* output);

  // Zeroes the overlap tails.
  void clearTails();

  // What the chain carries from one block to the next: overlap tails,
  // automatic-gain state, flush bit, filter band and response, the automatic
  // I/Q balance's statistics and estimate, the exact tuning's oscillator
  // phase and the DC levels. For tools that
  // run one recording on several chains; saving allocates, so not on the
  // processing thread. Equal states (bit for bit) give equal output for the
  // same blocks.
  struct CarriedState {
    std::vector<double> tailRe, tailIm, agcRing, filterMag, filterPhase;
    std::int32_t agcPos = 0;
    double agcPrevious = 0.0, agcCurrent = 0.0;
    std::uint32_t lastFlushBit = 0;
    std::int32_t lowCut = 0, highCut = 0;
    IqBalance::Carried iqBalance;
    double tunePhase = 0.0;  // exact tuning's oscillator
    double dcLevel[2] = {0.0, 0.0};
    bool dcPrimed[2] = {false, false};
    bool operator==(const CarriedState& other) const;
  };
  void saveState(CarriedState& state) const;
  // `state` must come from a chain of the same format.
  void restoreState(const CarriedState& state);

  bool runnable() const { return nsp_.complete(); }
  // The linear gain applied to the envelope in the last block.
  double reading() const {
    return agc_.currentGain.load(std::memory_order_relaxed);
  }
  std::int32_t blockSamples() const { return n_; }  // N
  std::int32_t fftLength() const { return m_; }     // M
  std::int32_t bufferBytes() const { return bufferBytes_; }
  double binWidth() const { return binWidth_; }     // Hz per bin
  const ChainFormat& format() const { return format_; }

 private:
  using Array = std::pmr::vector<double>;
  using Samples = std::pmr::vector<std::int32_t>;

  void spectralSteps(std::uint32_t flags, std::int64_t bins,
                     const double* filterMag, const double* filterPhase);
  void writeSilence(std::uint8_t* output) const;

  PrimitiveEntries nsp_;
  SpectrumSnapshot& spectrum_;

  // Sizes (configure).
  ChainFormat format_;
  std::int32_t n_ = 0, m_ = 0, fftOrder_ = 0;
  std::int32_t bufferBytes_ = 0;
  std::int32_t maxAmplitude_ = 0;  // 2^(bits-1) - 1
  std::int32_t rampSamples_ = 0;   // AGC ramp, 1 ms
  double binWidth_ = 0.0;

  // The M-point transform, planned in configure.
  nsp::FftTransform transform_;

  // Work arrays.
  Samples outLeft_, outRight_;
  SplitBuffer time_;       // forward transform input: the block, then zeros
  // inverse transform input: the processed spectrum; a filter design's taps
  SplitBuffer processed_;
  SplitBuffer freq_;  // transform output; a filter design's response
  Array mag_, phase_;
  Array filterMag_, filterPhase_, tailRe_, tailIm_, rotMag_, rotPhase_;

  // Carried from block to block.
  AgcState agc_;
  std::uint32_t lastFlushBit_ = 0;
  std::int32_t curLowCut_ = 0, curHighCut_ = 0;
  IqBalance iqBalance_;  // sized and reset with a new transform length or rate

  // Extensions (used only when their bit is set in the extensions word).
  FineTuner fineTuner_;
  DcTracker dc_;
  DcSettings dcSettings_;
};

}  // namespace bw
