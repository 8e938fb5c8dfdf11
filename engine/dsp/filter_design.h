// Band-pass filter design: the M-point response, in polar form, of an N-tap
// windowed band-pass FIR (M = 2N).
#pragma once

#include <cstdint>

#include "primitives/fft_transform.h"
#include "primitives/primitive_entries.h"

namespace bw {

// The arrays of one design, M elements each. The taps and their transform
// are scratch, each a pair in the paired layout of primitives/fft_plan.h
// (tapsIm and respIm at splitStride after tapsRe and respRe); mag and phase
// receive the response and keep it until the next design that succeeds.
struct FilterArrays {
  double* tapsRe;
  double* tapsIm;
  double* respRe;
  double* respIm;
  double* mag;
  double* phase;
};

// Designs the band low..high (Hz) for n taps at sampleRate (Hz); transform
// is planned for 2n points. A band with low < SDR_MIN_CUT_HZ (50),
// high > SDR_MAX_CUT_HZ (6000) or high <= low becomes 50..6000 Hz; an edge at or above half the sample rate becomes
// (0.5 - 1/(2n)) of the rate; if the band is then empty the design is
// skipped and the previous response stays.
void designFilter(const FilterArrays& a, std::int32_t n,
                  const nsp::FftTransform& transform, std::int32_t sampleRate, std::int32_t low, std::int32_t high,
                  const PrimitiveEntries& nsp);

}  // namespace bw
