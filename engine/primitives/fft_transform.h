// A complex transform of 2^order points that its user owns: a forward and an
// inverse FFTW plan for split arrays in the paired layout of fft_plan.h.
// plan() allocates and may measure for a while, so it belongs to
// configuration, never to the processing thread; forward() and inverse()
// then run on any paired arrays without allocating, locking or copying.
//
// Every plan of this library, these and the plans behind nspzrFftNip, is
// made here, under one planner lock (FFTW's planner is not thread-safe),
// with the same rigor, the wisdom file read before the first plan and new
// wisdom written back after (fft_wisdom.h). A problem planned again is
// therefore planned from wisdom, as the same algorithm: a transform made
// here gives the results of nspzrFftNip bit for bit.
#pragma once

struct fftw_plan_s;

namespace bw::nsp {

class FftTransform {
 public:
  FftTransform() = default;
  ~FftTransform();
  FftTransform(const FftTransform&) = delete;
  FftTransform& operator=(const FftTransform&) = delete;

  // Plans the 2^order-point transform, dropping the plans of another order.
  // False (the transform as it was) for an order outside
  // kMinFftOrder..kMaxFftOrder, or when FFTW cannot plan it or memory runs
  // out. Thread-safe against all other planning.
  bool plan(int order);

  // The planned order; 0 before the first successful plan.
  int order() const { return order_; }

  // Forward transform, unscaled, of the paired array whose real part is at
  // inRe into the paired array at outRe. Both real parts kSplitAlignment
  // aligned, the arrays not overlapping; only after a successful plan.
  void forward(const double* inRe, double* outRe) const;
  // The inverse transform, scaled by 1/2^order, on the same terms.
  void inverse(const double* inRe, double* outRe) const;

 private:
  void release();

  fftw_plan_s* forward_ = nullptr;
  fftw_plan_s* inverse_ = nullptr;
  int order_ = 0;
};

// Forgets what is known of the wisdom file (engine tear-down): the next plan
// reads it again. Plans already made stay valid.
void forgetWisdomState();

}  // namespace bw::nsp
