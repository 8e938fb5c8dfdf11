// The receive chain. Real-time rules for process: it runs on the processing
// thread; no allocation, no locks, no waiting, no I/O anywhere below it.
#include "dsp/receive_chain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dsp/filter_design.h"
#include "dsp/pcm.h"
#include "dsp/playable_block.h"
#include "dsp/spectral_steps.h"
#include "primitives/chain_helpers.h"

namespace bw {

namespace {
constexpr std::int32_t kSampleRates[] = {24000, 32000, 44100, 48000, 96000,
                                         16000, 22050, 11025, 8000};
constexpr std::size_t kInitialLength = 2;  // every array before configure
constexpr std::size_t kMinAgcRing = 10;    // the largest hold count

bool isSupportedWidth(std::int32_t bits) {
  return bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The other side of the clip step: a negative gain makes the envelope
// negative, and its size is bounded as well. A NaN stays as it is.
void clipBelow(double* mag, std::int32_t n, double level) {
  for (std::int32_t i = 0; i < n; ++i) mag[i] = mag[i] < level ? level : mag[i];
}
}  // namespace

std::int32_t agcHistoryBlocks(const ReceiveParams& p) {
  return (p.flags & flag::AgcOn) ? agcHoldBlocks(p.agcBlocks) : 0;
}

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
      filterMag_(kInitialLength, heap), filterPhase_(kInitialLength, heap),
      tailRe_(kInitialLength, heap), tailIm_(kInitialLength, heap),
      rotMag_(kInitialLength, heap), rotPhase_(kInitialLength, heap),
      agc_(heap), iqBalance_(heap), fineTuner_(heap) {
  agc_.ring.resize(kInitialLength, 0.0);
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

  const bool newSize = m != m_;
  const bool newLength = newSize || f.sampleRate != format_.sampleRate;

  format_ = f;
  n_ = n;
  m_ = m;
  fftOrder_ = f.order + 1;
  bufferBytes_ = n * 2 * f.bitsPerSample / 8;
  maxAmplitude_ =
      static_cast<std::int32_t>((1u << (f.bitsPerSample - 1)) - 1u);
  binWidth_ = static_cast<double>(f.sampleRate) / m;
  rampSamples_ = f.sampleRate / 1000;

  // A resize keeps the leading elements and zero-fills new ones; an array
  // whose count is unchanged is left as it is. The transform buffers hold
  // nothing from one block to the next: a new size simply zeroes them.
  for (Samples* v : {&outLeft_, &outRight_}) v->resize(m, 0);
  if (newSize) {
    time_.resize(fftOrder_);
    processed_.resize(fftOrder_);
    freq_.resize(fftOrder_);
  }
  for (Array* v : {&filterMag_, &filterPhase_, &mag_, &phase_, &rotMag_,
                   &rotPhase_}) {
    v->resize(m, 0.0);
  }
  tailRe_.resize(m - n, 0.0);
  tailIm_.resize(m - n, 0.0);
  resizeSnapshot(spectrum_, m);
  // At least 10 entries, so that any hold count 1..10 stays inside the ring.
  agc_.ring.resize(
      std::max<std::size_t>(kMinAgcRing, (f.sampleRate / 1000) / 2 + 1), 0.0);
  fineTuner_.configure(n, f.sampleRate);
  dcSettings_ = dcSettings(f.sampleRate);

  if (newLength) {
    // A response made for another length or rate would filter wrongly; the
    // next block designs a new one, and old tails do not fit the new blocks.
    curLowCut_ = 0;
    curHighCut_ = 0;
    clearTails();
    iqBalance_.configure(m, f.sampleRate);
    // Another rate or length is another stream: the DC levels start afresh.
    resetDc(dc_);
    fineTuner_.setPhase(0.0);
  }
  return true;
}

void ReceiveChain::clearTails() {
  std::fill(tailRe_.begin(), tailRe_.end(), 0.0);
  std::fill(tailIm_.begin(), tailIm_.end(), 0.0);
}

namespace {
bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}
bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }
}  // namespace

bool ReceiveChain::CarriedState::operator==(const CarriedState& o) const {
  return sameBits(tailRe, o.tailRe) && sameBits(tailIm, o.tailIm) &&
         sameBits(agcRing, o.agcRing) && sameBits(filterMag, o.filterMag) &&
         sameBits(filterPhase, o.filterPhase) && agcPos == o.agcPos &&
         sameBits(agcPrevious, o.agcPrevious) &&
         sameBits(agcCurrent, o.agcCurrent) && lastFlushBit == o.lastFlushBit &&
         lowCut == o.lowCut && highCut == o.highCut && iqBalance == o.iqBalance &&
         sameBits(tunePhase, o.tunePhase) && sameBits(dcLevel[0], o.dcLevel[0]) &&
         sameBits(dcLevel[1], o.dcLevel[1]) && dcPrimed[0] == o.dcPrimed[0] &&
         dcPrimed[1] == o.dcPrimed[1];
}

void ReceiveChain::saveState(CarriedState& s) const {
  s.tailRe.assign(tailRe_.begin(), tailRe_.end());
  s.tailIm.assign(tailIm_.begin(), tailIm_.end());
  s.agcRing.assign(agc_.ring.begin(), agc_.ring.end());
  s.filterMag.assign(filterMag_.begin(), filterMag_.end());
  s.filterPhase.assign(filterPhase_.begin(), filterPhase_.end());
  s.agcPos = agc_.pos;
  s.agcPrevious = agc_.previousGain;
  s.agcCurrent = agc_.currentGain.load(std::memory_order_relaxed);
  s.lastFlushBit = lastFlushBit_;
  s.lowCut = curLowCut_;
  s.highCut = curHighCut_;
  iqBalance_.save(s.iqBalance);
  s.tunePhase = fineTuner_.phase();
  for (int c = 0; c < 2; ++c) {
    s.dcLevel[c] = dc_.level[c];
    s.dcPrimed[c] = dc_.primed[c];
  }
}

void ReceiveChain::restoreState(const CarriedState& s) {
  std::copy_n(s.tailRe.begin(), std::min(s.tailRe.size(), tailRe_.size()), tailRe_.begin());
  std::copy_n(s.tailIm.begin(), std::min(s.tailIm.size(), tailIm_.size()), tailIm_.begin());
  std::copy_n(s.agcRing.begin(), std::min(s.agcRing.size(), agc_.ring.size()), agc_.ring.begin());
  std::copy_n(s.filterMag.begin(), std::min(s.filterMag.size(), filterMag_.size()), filterMag_.begin());
  std::copy_n(s.filterPhase.begin(), std::min(s.filterPhase.size(), filterPhase_.size()), filterPhase_.begin());
  agc_.pos = s.agcPos;
  agc_.previousGain = s.agcPrevious;
  agc_.currentGain.store(s.agcCurrent, std::memory_order_relaxed);
  lastFlushBit_ = s.lastFlushBit;
  curLowCut_ = s.lowCut;
  curHighCut_ = s.highCut;
  iqBalance_.restore(s.iqBalance);
  fineTuner_.setPhase(s.tunePhase);
  for (int c = 0; c < 2; ++c) {
    dc_.level[c] = s.dcLevel[c];
    dc_.primed[c] = s.dcPrimed[c];
  }
}

// Fills a playback buffer with the format's silence (8-bit samples are
// unsigned, centred on 128).
void ReceiveChain::writeSilence(std::uint8_t* output) const {
  const int value = format_.bitsPerSample == 8 ? 0x80 : 0;
  std::memset(output, value, static_cast<std::size_t>(bufferBytes_));
}

// Sideband removal, filter and (unless it was done with the polar
// conversion) rotation in the order the ShiftEarly and SidebandEarly bits
// choose.
void ReceiveChain::spectralSteps(std::uint32_t flags, std::int64_t bins,
                                 const double* filterMag,
                                 const double* filterPhase) {
  const bool shiftEarly = flags & flag::ShiftEarly;
  const bool sidebandEarly = flags & flag::SidebandEarly;

  if (sidebandEarly) removeSideband(mag_.data(), m_, flags);
  nsp_.nspdbMpy2(filterMag, mag_.data(), m_);
  nsp_.nspdbAdd2(filterPhase, phase_.data(), m_);
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
  // through the primitive table.
  const ReceiveParams p = params;

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

  if ((p.flags & flag::FlushToggle) != lastFlushBit_) {
    lastFlushBit_ = p.flags & flag::FlushToggle;
    clearTails();
  }

  if ((p.lowCutHz != curLowCut_ || p.highCutHz != curHighCut_) &&
      0 < p.lowCutHz && p.lowCutHz < p.highCutHz) {
    curLowCut_ = p.lowCutHz;
    curHighCut_ = p.highCutHz;
    // The taps and their transform use the transform's arrays, which the
    // block rewrites before it reads them.
    designFilter({processed_.re(), processed_.im(), freq_.re(), freq_.im(),
                  filterMag_.data(), filterPhase_.data()},
                 n, transform_, format_.sampleRate, p.lowCutHz, p.highCutHz,
                 nsp);
  }

  // The block in the first half of the transform input; the second half
  // holds the zeros the buffer was made with, as nothing else writes there.
  double* timeRe = time_.re();
  double* timeIm = time_.im();
  unpackCapture(input, format_.bitsPerSample, p.flags & flag::SwapInput, n,
                timeRe, timeIm);
  if (p.extensions & ext::DcRemoval) {
    removeCaptureDc(dc_, timeRe, timeIm, n, dcSettings_, p.flags & flag::SwapInput,
                    p.flags & flag::MonoInput);
  }
  if (p.flags & flag::MonoInput) std::copy(timeRe, timeRe + n, timeIm);

  transform_.forward(timeRe, freq_.re());
  if (p.extensions & ext::AutoIqBalance) {
    iqBalance_.process(freq_.re(), freq_.im(), p.tuneOffsetHz);
  }
  if (p.flags & flag::BalanceEarly) {
    applyBalance(freq_.re(), freq_.im(), m, p.iqPhaseCoef,
                 p.iqGainCoef);
  }
  // With ShiftEarly the tuning rotation comes first: the polar conversion
  // writes the bins in rotated order at once, and the early spectrum is
  // published back in bin order.
  const std::int64_t bins = tuningBins(p.tuneOffsetHz, binWidth_);
  const std::int32_t start =
      (p.flags & flag::ShiftEarly) ? rotationStart(bins, m) : 0;
  toPolarRotated(nsp, freq_.re(), freq_.im(), mag_.data(), phase_.data(), m,
                 start);
  if (p.flags & flag::SpectrumEarly) {
    captureSpectrum(spectrum_, mag_.data(), m, start);
  }

  // Exact tuning turns the output by the residual; a filter that acts after
  // the bin rotation moves up by it, so its edges follow the exact offset.
  const double residual = (p.extensions & ext::ExactTuning)
                              ? tuningResidualHz(p.tuneOffsetHz, binWidth_) : 0.0;
  const bool fineTune = !fineTuner_.idle(residual);
  FineTuner::Response filter{filterMag_.data(), filterPhase_.data()};
  if (residual != 0.0 && (p.flags & flag::ShiftEarly) && curLowCut_ > 0) {
    // Scratch as for the chain's own design: both transform arrays are free
    // here (the spectrum is in polar form) and rewritten before they are read.
    filter = fineTuner_.shiftedFilter({processed_.re(), processed_.im(), freq_.re(),
                                       freq_.im(), nullptr, nullptr},
                                      transform_, curLowCut_, curHighCut_, residual, nsp);
  }
  spectralSteps(p.flags, bins, filter.mag, filter.phase);

  double* specRe = processed_.re();
  double* specIm = processed_.im();
  nsp.nspdbrPolarToCart(mag_.data(), phase_.data(), specRe, specIm, m);
  if (!(p.flags & flag::BalanceEarly)) {
    applyBalance(specRe, specIm, m, p.iqPhaseCoef, p.iqGainCoef);
  }
  transform_.inverse(specRe, freq_.re());

  // Overlap-add: output samples 0..N-3 receive the previous tail; the last
  // two are taken without it. Then the second half becomes the new tail.
  double* freqRe = freq_.re();
  double* freqIm = freq_.im();
  nsp.nspdbAdd3(freqRe, tailRe_.data(), freqRe, n - 2);
  nsp.nspdbAdd3(freqIm, tailIm_.data(), freqIm, n - 2);
  std::copy(freqRe + n, freqRe + m, tailRe_.data());
  std::copy(freqIm + n, freqIm + m, tailIm_.data());
  if (fineTune) fineTuner_.rotate(freqRe, freqIm, residual);

  // Envelope and phase of the N output samples; mag[N..M-1] keeps the
  // processed spectrum of bins N..M-1.
  double* mag = mag_.data();
  nsp.nspdbrCartToPolar(freqRe, freqIm, mag, phase_.data(), n);

  if (p.flags & flag::AgcOn) {
    applyAgc(agc_, mag, n, rampSamples_, p.agcBlocks, p.gain, nsp);
  } else {
    nsp.nspdbMpy1(p.gain, mag, n);
    agc_.currentGain.store(p.gain, std::memory_order_relaxed);
  }
  if (p.flags & flag::SquelchOn) applySquelch(mag, m, p.squelchLevel);
  // Multiplying by 1.0 changes no value: the console's setting skips the
  // pass.
  if (p.outputGain > 0.0 && p.outputGain != 1.0) {
    nsp.nspdbMpy1(p.outputGain, mag, n);
  }
  nsp.nspdbThresh1(mag, n, maxAmplitude_, nsp::kThreshGreater);
  clipBelow(mag, n, -maxAmplitude_);
  if (!(p.flags & flag::SpectrumEarly)) captureSpectrum(spectrum_, mag, m);

  nsp.nspdbrPolarToCart(mag, phase_.data(), freqRe, freqIm, n);

  std::int32_t* outLeft = outLeft_.data();
  std::int32_t* outRight = outRight_.data();
  nsp::roundToInt32(freqRe, outLeft, n);
  if (p.flags & flag::MonoOutput) {
    std::copy(outLeft, outLeft + n, outRight);
  } else {
    nsp::roundToInt32(freqIm, outRight, n);
  }
  packPlayback(output, format_.bitsPerSample, p.flags & flag::SwapOutput, n,
               outLeft, outRight);
}

}  // namespace bw
