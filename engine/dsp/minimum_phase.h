// The minimum-phase form of a band filter: the same magnitude response with
// the least delay a causal filter of that magnitude can have. A linear-phase
// band filter of N taps delays everything by (N - 1) / 2 samples (21.3 ms at
// N = 2048 and 48000 Hz); its minimum-phase form delays the middle of a
// speech or CW passband by about 1-5 ms, more near a steep edge, at the cost
// of a phase that is no longer linear (which the ear does not hear in
// speech or a tone).
#pragma once

#include <cstdint>

#include "dsp/filter_design.h"

namespace bw {

// Levels below this (-110 dB of unit gain) are held at it before the
// logarithm: deeper notches would lengthen the cepstrum past what M points
// hold, and the truncation to N taps would then spoil the response.
inline constexpr double kMinimumPhaseFloor = 3.16e-6;

// Replaces the M-point response in a.mag / a.phase (M = 2n) by the response
// of the n-tap minimum-phase filter of the same magnitude (floored at
// kMinimumPhaseFloor), by the folded real cepstrum. The response may be that
// of complex taps (a band moved off centre). The four scratch arrays are
// overwritten, and on return a.tapsRe / a.tapsIm hold the n taps followed
// by zeros. `transform` is planned for M points. Runs without allocating:
// four transforms and M logarithms, exponentials and sine/cosine pairs.
//
// The magnitude comes back within about 0.02 dB of the original in the
// passband; where the original is deeper than -100 dB it comes back below
// about -97 dB. The sideband design's window leaves nulls that fold back
// further (-70 dB at 512 taps), so designBand uses the steep band-pass for
// a sideband in minimum phase.
void toMinimumPhase(const FilterArrays& a, std::int32_t n,
                    const nsp::FftTransform& transform, const PrimitiveEntries& nsp);

}  // namespace bw
