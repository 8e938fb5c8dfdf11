// The receive chain. Real-time rules for process: it runs on the processing
// thread; no allocation, no locks, no waiting, no I/O anywhere below it.
#include "dsp/receive_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/filter_design.h"
#include "dsp/pcm.h"
#include "dsp/playable_block.h"
#include "dsp/receive_mode.h"
#include "dsp/spectral_steps.h"
#include "dsp/windowed_spectrum.h"
#include "primitives/chain_helpers.h"
#include "primitives/pcm_codec.h"

namespace bw {

namespace {
constexpr std::int32_t kSampleRates[] = {24000, 32000, 44100, 48000, 96000,
                                         16000, 22050, 11025, 8000};
constexpr std::size_t kInitialLength = 2;  // every array before configure

bool isSupportedWidth(std::int32_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The other side of the clip step: a negative gain makes the envelope
// negative, and its size is bounded as well. A NaN stays as it is.
void clipBelow(double* mag, std::int32_t n, double level) {
  for (std::int32_t i = 0; i < n; ++i) mag[i] = mag[i] < level ? level : mag[i];
}
}  // namespace

bool isSupportedSampleRate(std::int32_t sampleRate) {
  return std::find(std::begin(kSampleRates), std::end(kSampleRates),
                   sampleRate) != std::end(kSampleRates);
}

ReceiveChain::ReceiveChain(const PrimitiveEntries& nsp,
                           SpectrumSnapshot& spectrum,
                           std::pmr::memory_resource* heap)
    : nsp_(nsp),
      spectrum_(spectrum),
      outLeft_(kInitialLength, heap), outRight_(kInitialLength, heap),
      time_(heap), processed_(heap), freq_(heap),
      mag_(kInitialLength, heap), phase_(kInitialLength, heap),
      rotMag_(kInitialLength, heap), rotPhase_(kInitialLength, heap),
      iqBalance_(heap), fineTuner_(heap), detector_(heap), reduction_(heap),
      carried_(heap) {
  time_.resize(1);
  processed_.resize(1);
  freq_.resize(1);
}

bool ReceiveChain::accepts(const ChainFormat& f) {
  return f.order >= SDR_MIN_ORDER && f.order <= SDR_MAX_ORDER &&
         isSupportedWidth(f.bitsPerSample) && isSupportedSampleRate(f.sampleRate);
}

bool ReceiveChain::configure(const ChainFormat& f) {
  if (!accepts(f)) return false;
  const std::int32_t n = 1 << f.order;
  const std::int32_t m = 2 * n;
  if (m > spectrum_.capacity) return false;
  // Plan the transform first: it is the one step that can fail for want of
  // memory, and the processing thread must find the plan ready.
  if (transform_.order() != f.order + 1 && !transform_.plan(f.order + 1)) {
    return false;
  }
  if (!reduction_.configure(f, carried_.reduction)) return false;

  const bool newSize = m != m_;

  n_ = n;
  m_ = m;
  fftOrder_ = f.order + 1;
  bufferBytes_ = n * 2 * f.bitsPerSample / 8;
  maxAmplitude_ =
      static_cast<std::int32_t>((1u << (f.bitsPerSample - 1)) - 1u);
  binWidth_ = static_cast<double>(f.sampleRate) / m;

  // A resize keeps the leading elements and zero-fills new ones; an array
  // whose count is unchanged is left as it is. The transform buffers hold
  // nothing from one block to the next: a new size simply zeroes them.
  for (Samples* v : {&outLeft_, &outRight_}) v->resize(m, 0);
  if (newSize) {
    time_.resize(fftOrder_);
    processed_.resize(fftOrder_);
    freq_.resize(fftOrder_);
  }
  for (Array* v : {&mag_, &phase_, &rotMag_, &rotPhase_}) v->resize(m, 0.0);
  resizeSnapshot(spectrum_, m);

  // Each stage sizes itself and its state, and drops the history that does
  // not fit another stream (a new length or rate).
  CarriedState& s = carried_;
  filter_.configure(f, s.filter);
  dc_.configure(f, s.dc);
  iqBalance_.configure(f, s.iqBalance);
  fineTuner_.configure(f, s.tuning);
  tails_.configure(f, s.tails);
  detector_.configure(f, s.detector);
  agc_.configure(f, s.agc);
  blanker_.configure(f, s.blanker);
  notch_.configure(f, s.notch);
  s.format = f;
  return true;
}

void ReceiveChain::clearTails() { OverlapTails::reset(carried_.tails); }

bool ReceiveChain::restoreState(const CarriedState& state) {
  if (state.format != carried_.format) return false;
  carried_ = state;
  reading_.store(carried_.agc.currentGain, std::memory_order_relaxed);
  return true;
}

// Fills a playback buffer with the format's silence.
void ReceiveChain::writeSilence(std::uint8_t* output) const {
  std::memset(output, pcm::silenceByte(format().bitsPerSample),
              static_cast<std::size_t>(bufferBytes_));
}

// Sideband removal, filter and (unless it was done with the polar
// conversion) rotation in the order the ShiftEarly and SidebandEarly bits
// choose.
void ReceiveChain::spectralSteps(std::uint32_t flags, std::int64_t bins,
                                 const FineTuner::Response& filter) {
  const bool shiftEarly = flags & SDR_FLAG_SHIFT_EARLY;
  const bool sidebandEarly = flags & SDR_FLAG_SIDEBAND_EARLY;

  if (sidebandEarly) removeSideband(mag_.data(), m_, flags);
  nsp_.nspdbMpy2(filter.mag, mag_.data(), m_);
  nsp_.nspdbAdd2(filter.phase, phase_.data(), m_);
  if (!sidebandEarly) removeSideband(mag_.data(), m_, flags);
  if (!shiftEarly) rotateBins(mag_, phase_, rotMag_, rotPhase_, m_, bins);
}

void ReceiveChain::process(const ReceiveParams& params,
                           const std::uint8_t* input, std::uint8_t* output) {
  if (!nsp_.complete()) {  // no primitives: the chain cannot run
    writeSilence(output);
    return;
  }

  // The block's own copy: its values stay as they are through the block
  // whatever happens to the caller's, and stay in registers across the calls
  // through the primitive table. A receive mode sets the tuning, sideband
  // and band its spectral part runs on.
  const ReceiveParams p = modeParams(params);

  if (p.flags == 0) {  // pass-through, in whole 4-byte units
    std::memcpy(output, input, static_cast<std::size_t>(bufferBytes_ / 4) * 4);
    return;
  }

  // A block that would fill the chain with infinities or NaN (the tails, the
  // AGC history and the reading for blocks to come) is silence and leaves
  // the chain's state as it was.
  if (!playable(p)) {
    writeSilence(output);
    return;
  }

  const PrimitiveEntries& nsp = nsp_;
  const std::int32_t n = n_;
  const std::int32_t m = m_;
  CarriedState& s = carried_;

  filter_.process(s.filter, p, designScratch(), transform_, nsp);

  // The block in the first half of the transform input; the second half
  // holds the zeros the buffer was made with, as nothing else writes there.
  double* timeRe = time_.re();
  double* timeIm = time_.im();
  unpackCapture(input, format().bitsPerSample, p.flags & SDR_FLAG_SWAP_INPUT, n,
                timeRe, timeIm);
  dc_.process(s.dc, p, timeRe, timeIm, n);
  if (p.flags & SDR_FLAG_MONO_INPUT) std::copy(timeRe, timeRe + n, timeIm);
  blanker_.process(s.blanker, p, timeRe, timeIm, n);

  transform_.forward(timeRe, freq_.re());
  iqBalance_.process(s.iqBalance, p, freq_.re(), freq_.im());
  if (p.flags & SDR_FLAG_BALANCE_EARLY) {
    applyBalance(freq_.re(), freq_.im(), m, p.iqPhaseCoef,
                 p.iqGainCoef);
  }
  // With ShiftEarly the tuning rotation comes first: the polar conversion
  // writes the bins in rotated order at once, and the early spectrum is
  // published back in bin order.
  const std::int64_t bins = tuningBins(p.tuneOffsetHz, binWidth_);
  const std::int32_t start =
      (p.flags & SDR_FLAG_SHIFT_EARLY) ? rotationStart(bins, m) : 0;
  toPolarRotated(nsp, freq_.re(), freq_.im(), mag_.data(), phase_.data(), m,
                 start);
  if (p.flags & SDR_FLAG_SPECTRUM_EARLY) {
    // rotMag_ is free until the spectral steps: the window's scratch.
    if (p.extensions & SDR_EXT_WINDOWED_SPECTRUM) {
      captureWindowedSpectrum(spectrum_, freq_.re(), freq_.im(), m,
                              rotMag_.data());
    } else {
      captureSpectrum(spectrum_, mag_.data(), m, start);
    }
  }

  // The transform's arrays are free here: the spectrum is in polar form.
  spectralSteps(p.flags, bins,
                fineTuner_.filter(p, s.filter, designScratch(), transform_, nsp));

  double* specRe = processed_.re();
  double* specIm = processed_.im();
  nsp.nspdbrPolarToCart(mag_.data(), phase_.data(), specRe, specIm, m);
  if (!(p.flags & SDR_FLAG_BALANCE_EARLY)) {
    applyBalance(specRe, specIm, m, p.iqPhaseCoef, p.iqGainCoef);
  }
  transform_.inverse(specRe, freq_.re());

  double* freqRe = freq_.re();
  double* freqIm = freq_.im();
  tails_.process(s.tails, p, freqRe, freqIm, nsp);
  notch_.process(s.notch, p, mag_.data(), phase_.data(), freqRe, freqIm, n);
  reduction_.process(s.reduction, p, freqRe, freqIm, n);
  fineTuner_.process(s.tuning, p, freqRe, freqIm);
  detector_.process(s.detector, p, s.filter, freqRe, freqIm, n);

  // Envelope and phase of the N output samples; mag[N..M-1] keeps the
  // processed spectrum of bins N..M-1.
  double* mag = mag_.data();
  nsp.nspdbrCartToPolar(freqRe, freqIm, mag, phase_.data(), n);

  agc_.process(s.agc, p, mag, n, nsp);
  reading_.store(s.agc.currentGain, std::memory_order_relaxed);
  if (p.flags & SDR_FLAG_SQUELCH_ON) applySquelch(mag, m, p.squelchLevel);
  // Multiplying by 1.0 changes no value: the console's setting skips the
  // pass.
  if (p.outputGain > 0.0 && p.outputGain != 1.0) {
    nsp.nspdbMpy1(p.outputGain, mag, n);
  }
  nsp.nspdbThresh1(mag, n, maxAmplitude_, nsp::kThreshGreater);
  clipBelow(mag, n, -maxAmplitude_);
  if (!(p.flags & SDR_FLAG_SPECTRUM_EARLY)) captureSpectrum(spectrum_, mag, m);

  nsp.nspdbrPolarToCart(mag, phase_.data(), freqRe, freqIm, n);

  std::int32_t* outLeft = outLeft_.data();
  std::int32_t* outRight = outRight_.data();
  nsp::roundToInt32(freqRe, outLeft, n);
  if ((p.flags & SDR_FLAG_MONO_OUTPUT) || isDetectedMode(p.modes.mode)) {
    std::copy(outLeft, outLeft + n, outRight);
  } else {
    nsp::roundToInt32(freqIm, outRight, n);
  }
  packPlayback(output, format().bitsPerSample, p.flags & SDR_FLAG_SWAP_OUTPUT, n,
               outLeft, outRight);
}

}  // namespace bw
