// The spectrum snapshot under a 4-term Blackman-Harris window (sidelobes
// 92 dB down), for the WindowedSpectrum extension.
//
// The chain's forward transform is of the N-sample block zero-padded to
// M = 2N points. A window that is a sum of cosines of period N is a sum of
// cosines of 2, 4 and 6 bins' period on the M-point grid, so the transform
// of the windowed block is a 7-tap convolution of the transform itself:
// X_w[k] = sum_j c_j (X[k - 2j] + X[k + 2j]) / 2 (c_0 counted once), with
// circular indices. Nothing of the block is transformed again.
//
// Scale: the taps are divided by the window's mean (0.35875), so a steady
// tone reads the same peak height as without the window; broadband noise
// reads 2.9 dB higher (the window's noise bandwidth of 2.0 bins of N).
#pragma once

#include <cstdint>

#include "dsp/spectrum_snapshot.h"

namespace bw {

// Publishes the magnitudes of the windowed transform of bins 0..m-2 (bin
// order, like captureSpectrum) as the snapshot. re, im: the block's M-point
// transform (m a power of two, at least 16), read only. scratch: m doubles
// the call may overwrite. Allocates nothing.
void captureWindowedSpectrum(SpectrumSnapshot& s, const double* re,
                             const double* im, std::int32_t m, double* scratch);

}  // namespace bw
