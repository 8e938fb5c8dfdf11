// The receive chain: one captured buffer of interleaved stereo I/Q in, one
// playback buffer out, by fast convolution with overlap-add (N frames a
// block, transforms of M = 2N points). On the way it refreshes the spectrum
// snapshot it was given and its gain reading.
//
// The chain never sees the 65-byte wire format: its caller decodes the block
// (decodeParams) and hands it the typed parameters.
//
// The chain is a list of stages of one shape: State, the value a stage
// carries from block to block (a field of CarriedState); configure, which
// sizes the stage and its state for a format and decides what of its
// history another stream keeps (allocates: not on the processing thread);
// reset, which forgets the history; and process, which runs one block if
// the parameters turn the stage on and never allocates. A stage owns its
// scratch or is handed it as an argument. Adding one: its file, a member
// and its State in CarriedState, and a line each in configure and process.
//
// Ownership: the chain owns its transform (plans and the paired arrays they
// run on), work arrays, stages and the state carried from block to block;
// the arrays are allocated from `heap`.
// The snapshot and the heap belong to the caller and must outlive the chain.
//
// Threads: configure and clearTails run while no block is being processed;
// process runs on one processing thread at a time and never allocates,
// locks, waits or does I/O. reading() may be called on any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/agc.h"
#include "dsp/auto_notch.h"
#include "dsp/chain_format.h"
#include "dsp/dc_removal.h"
#include "dsp/filter_design.h"
#include "dsp/fine_tuning.h"
#include "dsp/iq_balance.h"
#include "dsp/mode_detector.h"
#include "dsp/noise_blanker.h"
#include "dsp/noise_reduction.h"
#include "dsp/overlap_tails.h"
#include "dsp/receive_params.h"
#include "dsp/split_buffer.h"
#include "dsp/spectrum_snapshot.h"
#include "primitives/fft_transform.h"
#include "primitives/primitive_entries.h"

namespace bw {

// True for the sample rates the chain accepts (Hz).
bool isSupportedSampleRate(std::int32_t sampleRate);

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
  // input through; a mode other than SIDEBAND (receive_mode.h) plays its
  // detector's audio on both channels; a block that is not playable (playable_block.h) gives
  // silence and leaves the chain's state as it was; a new filter band is
  // designed only for 0 < lowCutHz < highCutHz (else the band in use stays).
  void process(const ReceiveParams& params, const std::uint8_t* input,
               std::uint8_t* output);

  // Zeroes the overlap tails.
  void clearTails();

  // What the chain carries from one block to the next: the format it was
  // configured for and each stage's state. For tools that run one recording
  // on several chains; a copy allocates, so not on the processing thread.
  // Equal states give equal output for the same blocks.
  struct CarriedState {
    explicit CarriedState(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : filter(heap), iqBalance(heap), tails(heap), agc(heap), notch(heap), reduction(heap) {}
    ChainFormat format;
    BandFilter::State filter;
    DcRemoval::State dc;
    IqBalance::State iqBalance;
    FineTuner::State tuning;
    OverlapTails::State tails;
    ModeDetector::State detector;
    Agc::State agc;
    NoiseBlanker::State blanker;
    AutoNotch::State notch;
    NoiseReduction::State reduction;
    bool operator==(const CarriedState&) const = default;
  };
  void saveState(CarriedState& state) const { state = carried_; }
  // False (nothing changed) for a state saved at another format.
  bool restoreState(const CarriedState& state);

  // The linear gain applied to the envelope in the last block.
  double reading() const { return reading_.load(std::memory_order_relaxed); }
  std::int32_t blockSamples() const { return n_; }  // N
  std::int32_t fftLength() const { return m_; }     // M
  std::int32_t bufferBytes() const { return bufferBytes_; }
  double binWidth() const { return binWidth_; }     // Hz per bin
  const ChainFormat& format() const { return carried_.format; }

 private:
  using Array = std::pmr::vector<double>;
  using Samples = std::pmr::vector<std::int32_t>;

  void spectralSteps(std::uint32_t flags, std::int64_t bins,
                     const FineTuner::Response& filter);
  // The transform's arrays as a filter design's scratch: free before the
  // forward transform and between the polar conversion and the spectral
  // steps, as the block rewrites them before it reads them.
  DesignScratch designScratch() {
    return {processed_.re(), processed_.im(), freq_.re(), freq_.im()};
  }
  void writeSilence(std::uint8_t* output) const;

  PrimitiveEntries nsp_;
  SpectrumSnapshot& spectrum_;

  // Sizes (configure).
  std::int32_t n_ = 0, m_ = 0, fftOrder_ = 0;
  std::int32_t bufferBytes_ = 0;
  std::int32_t maxAmplitude_ = 0;  // 2^(bits-1) - 1
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
  Array rotMag_, rotPhase_;

  // The stages, in the order a block meets them.
  BandFilter filter_;
  DcRemoval dc_;
  IqBalance iqBalance_;
  FineTuner fineTuner_;
  OverlapTails tails_;
  ModeDetector detector_;
  Agc agc_;
  NoiseBlanker blanker_;
  AutoNotch notch_;
  NoiseReduction reduction_;

  CarriedState carried_;
  std::atomic<double> reading_{0.0};  // the gain stage's gain, for other threads
};

}  // namespace bw
