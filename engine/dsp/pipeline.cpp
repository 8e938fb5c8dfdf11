// The block pipeline. Real-time rules: runs on the processing thread; no
// allocation, no locks, no waiting, no I/O anywhere below.
#include "dsp/pipeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "api/configuration.h"
#include "api/engine_state.h"
#include "api/param_block.h"
#include "dsp/agc.h"
#include "dsp/filter_design.h"
#include "dsp/pcm.h"
#include "dsp/spectral_steps.h"

namespace bw {

namespace {
// Nearest integer, ties to even, held inside the 32-bit range; a value that
// is not a number (from a non-finite coefficient) becomes 0. Adding and
// removing 1.5 * 2^52 rounds in the default rounding mode (to nearest, ties
// to even) for any |v| <= 2^51, without a library call per sample.
std::int32_t toSample(double v) {
  constexpr double kRound = 6755399441055744.0;
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  v = (v == v) ? v : 0.0;
  v = std::min(std::max(v, lo), hi);
  return static_cast<std::int32_t>((v + kRound) - kRound);
}

// The other side of the clip step: a negative gain makes the envelope
// negative, and its size is bounded as well.
void clipBelow(double* mag, std::int32_t n, double level) {
  for (std::int32_t i = 0; i < n; ++i) {
    if (mag[i] < level) mag[i] = level;
  }
}

// Fills a playback buffer with the format's silence (8-bit samples are
// unsigned, centred on 128).
void writeSilence(std::uint8_t* output, const EngineState& e) {
  const int value = e.waveFormat.wBitsPerSample == 8 ? 0x80 : 0;
  std::memset(output, value, static_cast<std::size_t>(e.bufferBytes));
}

// Steps 13 to 17: rotation, sideband removal and filter in the order the
// ShiftEarly and SidebandEarly bits choose.
void spectralSteps(EngineState& e, const ReceiveParams& p) {
  const PrimitiveEntries& nsp = e.nsp;
  const std::int32_t m = e.fftLength;
  const bool shiftEarly = p.flags & flag::ShiftEarly;
  const bool sidebandEarly = p.flags & flag::SidebandEarly;
  const std::int64_t bins = tuningBins(p.tuneOffsetHz);

  if (shiftEarly) rotateBins(bins);
  if (sidebandEarly) removeSideband(p.flags);
  nsp.nspdbMpy2(e.filterMag.data(), e.mag.data(), m);
  nsp.nspdbAdd2(e.filterPhase.data(), e.phase.data(), m);
  if (!sidebandEarly) removeSideband(p.flags);
  if (!shiftEarly) rotateBins(bins);
}
}  // namespace

void clearTails() {
  EngineState& e = engine();
  std::fill(e.tailRe.begin(), e.tailRe.end(), 0.0);
  std::fill(e.tailIm.begin(), e.tailIm.end(), 0.0);
}

int processBlock(const std::uint8_t* input, std::uint8_t* output) {
  EngineState& e = engine();
  if (BlockHook hook = e.blockHook.load()) hook();

  if (!e.nsp.complete()) {  // no signal library: the chain cannot run
    writeSilence(output, e);
    return 0;
  }

  readPendingParams(e.activeParams);
  const ReceiveParams p = decodeParams(e.activeParams);

  if (p.flags == 0) {  // pass-through, in whole 4-byte units
    std::memcpy(output, input, static_cast<std::size_t>(e.bufferBytes / 4) * 4);
    return 0;
  }

  // Non-finite balance coefficients would fill the transform with NaN, and
  // the tails, the AGC history and the reading with it for blocks to come:
  // such a block is silence and leaves the chain's state as it was.
  if (!std::isfinite(p.iqPhaseCoef) || !std::isfinite(p.iqGainCoef)) {
    writeSilence(output, e);
    return 0;
  }

  const PrimitiveEntries& nsp = e.nsp;
  const std::int32_t n = e.blockSamples;
  const std::int32_t m = e.fftLength;

  if ((p.flags & flag::FlushToggle) != e.lastFlushBit) {
    e.lastFlushBit = p.flags & flag::FlushToggle;
    clearTails();
  }

  if ((p.lowCutHz != e.curLowCut || p.highCutHz != e.curHighCut) &&
      0 < p.lowCutHz && p.lowCutHz < p.highCutHz) {
    e.curLowCut = p.lowCutHz;
    e.curHighCut = p.highCutHz;
    designFilter(p.lowCutHz, p.highCutHz);
  }

  unpackCapture(input, e.waveFormat.wBitsPerSample, p.flags & flag::SwapInput);

  double* timeRe = e.timeRe.data();
  double* timeIm = e.timeIm.data();
  const std::int32_t* inI = e.inI.data();
  const std::int32_t* imagSource =
      (p.flags & flag::MonoInput) ? inI : e.inQ.data();
  for (std::int32_t i = 0; i < n; ++i) timeRe[i] = inI[i];
  for (std::int32_t i = 0; i < n; ++i) timeIm[i] = imagSource[i];
  std::fill(timeRe + n, timeRe + m, 0.0);
  std::fill(timeIm + n, timeIm + m, 0.0);

  nsp.nspzrFftNip(timeRe, timeIm, e.freqRe.data(), e.freqIm.data(), e.fftOrder,
                  nsp::kFftForward);
  if (p.flags & flag::BalanceEarly) {
    applyBalance(e.freqRe.data(), e.freqIm.data(), p.iqPhaseCoef, p.iqGainCoef);
  }
  nsp.nspdbrCartToPolar(e.freqRe.data(), e.freqIm.data(), e.mag.data(),
                        e.phase.data(), m);
  if (p.flags & flag::SpectrumEarly) captureSpectrum();

  spectralSteps(e, p);

  nsp.nspdbrPolarToCart(e.mag.data(), e.phase.data(), timeRe, timeIm, m);
  if (!(p.flags & flag::BalanceEarly)) {
    applyBalance(timeRe, timeIm, p.iqPhaseCoef, p.iqGainCoef);
  }
  nsp.nspzrFftNip(timeRe, timeIm, e.freqRe.data(), e.freqIm.data(), e.fftOrder,
                  nsp::kFftInverse);

  // Overlap-add: output samples 0..N-3 receive the previous tail; the last
  // two are taken without it. Then the second half becomes the new tail.
  double* freqRe = e.freqRe.data();
  double* freqIm = e.freqIm.data();
  nsp.nspdbAdd3(freqRe, e.tailRe.data(), freqRe, n - 2);
  nsp.nspdbAdd3(freqIm, e.tailIm.data(), freqIm, n - 2);
  std::copy(freqRe + n, freqRe + m, e.tailRe.data());
  std::copy(freqIm + n, freqIm + m, e.tailIm.data());

  // Envelope and phase of the N output samples; mag[N..M-1] keeps the
  // processed spectrum of bins N..M-1.
  nsp.nspdbrCartToPolar(freqRe, freqIm, e.mag.data(), e.phase.data(), n);

  if (p.flags & flag::AgcOn) {
    applyAgc(p.agcBlocks, p.gain);
  } else {
    nsp.nspdbMpy1(p.gain, e.mag.data(), n);
    e.currentGain.store(p.gain, std::memory_order_relaxed);
  }
  if (p.flags & flag::SquelchOn) applySquelch(p.squelchLevel);
  if (p.outputGain > 0.0) nsp.nspdbMpy1(p.outputGain, e.mag.data(), n);
  nsp.nspdbThresh1(e.mag.data(), n, e.maxAmplitude, nsp::kThreshGreater);
  clipBelow(e.mag.data(), n, -e.maxAmplitude);
  if (!(p.flags & flag::SpectrumEarly)) captureSpectrum();

  nsp.nspdbrPolarToCart(e.mag.data(), e.phase.data(), freqRe, freqIm, n);

  std::int32_t* outLeft = e.outLeft.data();
  std::int32_t* outRight = e.outRight.data();
  for (std::int32_t i = 0; i < n; ++i) outLeft[i] = toSample(freqRe[i]);
  if (p.flags & flag::MonoOutput) {
    std::copy(outLeft, outLeft + n, outRight);
  } else {
    for (std::int32_t i = 0; i < n; ++i) outRight[i] = toSample(freqIm[i]);
  }
  packPlayback(output, e.waveFormat.wBitsPerSample, p.flags & flag::SwapOutput);
  return 0;
}

}  // namespace bw
