// The steps of the chain that act on whole spectra or envelopes, as functions
// of the arrays they work on (m = the transform length, bins or entries).
// None allocates.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/spectrum_snapshot.h"
#include "primitives/primitive_entries.h"

namespace bw {

// Tuning: the content of bin i + k moves to bin i, circularly (negative k
// the other way). An odd k is raised by one, so the rotation is always by an
// even number of bins. The rotated arrays are written into rotMag and
// rotPhase, which then change places with mag and phase (m values each).
void rotateBins(std::pmr::vector<double>& mag, std::pmr::vector<double>& phase,
                std::pmr::vector<double>& rotMag,
                std::pmr::vector<double>& rotPhase, std::int32_t m,
                std::int64_t k);

// Where the rotation by k bins starts: bin k raised to even, taken mod m
// (two's complement with the mask m - 1, so a negative k rotates the other
// way). Rotated arrays hold bin (i + start) mod m at index i.
std::int32_t rotationStart(std::int64_t k, std::int32_t m);

// The bins the rotation actually moves for a count of k: an odd count is
// raised to the even one above it, so overlap-added blocks stay
// phase-continuous.
inline std::int64_t evenRotationBins(std::int64_t k) { return (k & 1) ? k + 1 : k; }

// The polar conversion of m bins straight into rotated order: the same
// values as nspdbrCartToPolar followed by rotateBins, without the copies.
// Two calls of the primitive, one per side of the wrap.
void toPolarRotated(const PrimitiveEntries& nsp, const double* re,
                    const double* im, double* mag, double* phase,
                    std::int32_t m, std::int32_t start);

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
// element keeps its value). With mag in rotated order (start as for
// rotationStart), it is published in bin order.
void captureSpectrum(SpectrumSnapshot& s, const double* mag, std::int32_t m,
                     std::int32_t start = 0);

}  // namespace bw
