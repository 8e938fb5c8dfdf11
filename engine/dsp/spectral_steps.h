// The steps of the chain that act on whole spectra or envelopes, as functions
// of the arrays they work on (m = the transform length, bins or entries).
// None allocates.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/spectrum_snapshot.h"

namespace bw {

// Tuning: the content of bin i + k moves to bin i, circularly (negative k
// the other way). An odd k is raised by one, so the rotation is always by an
// even number of bins. The rotated arrays are written into rotMag and
// rotPhase, which then change places with mag and phase (m values each).
void rotateBins(std::pmr::vector<double>& mag, std::pmr::vector<double>& phase,
                std::pmr::vector<double>& rotMag,
                std::pmr::vector<double>& rotPhase, std::int32_t m,
                std::int64_t k);

// Bins to rotate by for an offset in Hz: offset / binWidth rounded to the
// nearest integer, ties to even (before the odd-to-even raise).
std::int64_t tuningBins(std::int32_t tuneOffsetHz, double binWidth);

// Balance correction over m bins: im += a * re (re as it was), then
// re *= (1 + b). With both coefficients 0 nothing changes.
void applyBalance(double* re, double* im, std::int32_t m, double a, double b);

// UpperSideband zeroes mag[m/2..m-1], LowerSideband mag[0..m/2-1]; both tests
// are made. Phases stay.
void removeSideband(double* mag, std::int32_t m, std::uint32_t flags);

// Squelch: over mag[1..m-1], counts the values above 2.0 as loud (above
// level) or quiet; when loud / (1 + quiet) < 0.1 every mag value becomes 0.
void applySquelch(double* mag, std::int32_t m, double level);

// Publishes mag[0..m-2] as the spectrum snapshot (m - 1 values; the last
// element keeps its value).
void captureSpectrum(SpectrumSnapshot& s, const double* mag, std::int32_t m);

}  // namespace bw
