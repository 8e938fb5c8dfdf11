// The eleven signal-processing primitives the receive chain is written on.
// All arrays are double; n is an element count; every element-wise operation
// works over the first n elements. None of them allocates; the transform uses
// plans made beforehand by prepareFft (see fft_plan.h).
#pragma once

namespace bw::nsp {

// Transform direction flags of nspzrFftNip.
constexpr int kFftForward = 1;  // X[k] = sum x[n] exp(-j2πkn/M), unscaled
constexpr int kFftInverse = 2;  // exp(+j2πkn/M), scaled by 1/M

// Relation argument of nspdbThresh1: every element greater than level
// becomes level.
constexpr int kThreshGreater = 1;

// Window and normalisation arguments of nspdFirBandpass.
constexpr int kWindowOptimalBlackman = 2;
constexpr int kNormaliseCentre = 1;

// Complex 2^order-point transform of split arrays, not in place (outputs must
// not alias inputs). Returns 0, or non-zero for a bad order or flag.
int nspzrFftNip(const double* inRe, const double* inIm, double* outRe,
                double* outIm, int order, int flags);

// mag = hypot(re, im), phase = atan2(im, re) in radians.
void nspdbrCartToPolar(const double* re, const double* im, double* mag,
                       double* phase, int n);
// re = mag cos(phase), im = mag sin(phase).
void nspdbrPolarToCart(const double* mag, const double* phase, double* re,
                       double* im, int n);

void nspdbMpy2(const double* src, double* dst, int n);  // dst *= src
void nspdbAdd2(const double* src, double* dst, int n);  // dst += src
// dst = a + b; dst may be the same array as a or b.
void nspdbAdd3(const double* a, const double* b, double* dst, int n);
void nspdbMpy1(double value, double* dst, int n);  // dst *= value
// relation kThreshGreater: elements above level become level; other
// relations leave the vector as it is.
void nspdbThresh1(double* vec, int n, double level, int relation);
double nspdMax(const double* vec, int n);  // largest element; n >= 1
double nspdMin(const double* vec, int n);  // smallest element; n >= 1

// Writes tapsLen band-pass FIR taps for edges low, high given as fractions of
// the sample rate: windowed ideal band-pass, optimal Blackman window (window
// 2), normalised to unit gain at the band centre (normalise 1). Returns 0; for
// edges outside 0 < low < high < 0.5, tapsLen <= 4 or another window it writes
// nothing and returns non-zero.
int nspdFirBandpass(double low, double high, double* taps, int tapsLen,
                    int window, int normalise);

}  // namespace bw::nsp

// The eleven primitives as one list, in the order the engine binds them by
// name: BW_PRIMITIVES(X) expands X(name) once for each.
#define BW_PRIMITIVES(X) \
  X(nspzrFftNip)         \
  X(nspdbrCartToPolar)   \
  X(nspdbMpy2)           \
  X(nspdbAdd2)           \
  X(nspdbrPolarToCart)   \
  X(nspdbAdd3)           \
  X(nspdMax)             \
  X(nspdMin)             \
  X(nspdbMpy1)           \
  X(nspdbThresh1)        \
  X(nspdFirBandpass)
