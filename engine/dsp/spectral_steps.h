// The steps of the block pipeline that act on whole spectra or envelopes.
// All run on the processing thread over the engine's work arrays (M = fftLength
// bins, N = blockSamples samples); none allocates.
#pragma once

#include <cstdint>

namespace bw {

// Tuning: the content of bin i + k moves to bin i, circularly. An odd k is
// raised by one, so the rotation is always by an even number of bins. Acts on
// mag and phase (M values each).
void rotateBins(std::int64_t k);

// Bins to rotate by for an offset in Hz: offset / binWidth rounded to the
// nearest integer, ties to even (before the odd-to-even raise).
std::int64_t tuningBins(std::int32_t tuneOffsetHz);

// Balance correction over M bins: im += a * re (re as it was), then
// re *= (1 + b).
void applyBalance(double* re, double* im, double a, double b);

// UpperSideband zeroes mag[M/2..M-1], LowerSideband mag[0..M/2-1]; both tests
// are made. Phases stay.
void removeSideband(std::uint32_t flags);

// Squelch: over mag[1..M-1], counts the values above 2.0 as loud (above
// level) or quiet; when loud / (1 + quiet) < 0.1 every mag value becomes 0.
void applySquelch(double level);

// Publishes mag[0..M-2] as the spectrum snapshot (M - 1 values; the last
// element keeps its value) through the snapshot's sequence counter.
void captureSpectrum();

}  // namespace bw
