// The filters of the detected modes: N-tap windowed-sinc designs under a
// four-term Blackman-Harris window, whose skirts fall more than 90 dB below
// the passband within about 4 sampleRate / N of an edge (94 Hz at 48000 Hz
// and N = 2048). A band-pass for CW and a low-pass (DC kept, for the
// carrier) for AM, SAM and FM.
#pragma once

#include <cstdint>

#include "dsp/filter_design.h"

namespace bw {

// Writes the n taps of a filter passing |f| in low..high Hz at sampleRate,
// symmetric about tap (n - 1) / 2, with unit gain at the band's centre;
// low <= 0 gives the low-pass -high..+high with unit gain at DC. An edge at
// or above half the rate is moved just below it; a band left empty writes
// nothing and gives false.
bool steepFilterTaps(double* taps, std::int32_t n, std::int32_t sampleRate,
                     double low, double high);

// Designs the band as designFilter does (the M-point response of the taps
// into a.mag and a.phase; a band left empty keeps the previous response),
// with the steep band-pass, or the low-pass when lowPass is set. False when
// the band was left empty.
bool designSteepFilter(const FilterArrays& a, std::int32_t n,
                       const nsp::FftTransform& transform, std::int32_t sampleRate,
                       std::int32_t low, std::int32_t high, bool lowPass,
                       const PrimitiveEntries& nsp);

}  // namespace bw
