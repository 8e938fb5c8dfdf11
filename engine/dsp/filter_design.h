// Band-pass filter design: the M-point response, in polar form, of an N-tap
// windowed band-pass FIR (M = 2N); and the chain's band filter stage, which
// keeps the band in use and its response.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/chain_format.h"
#include "dsp/receive_mode.h"
#include "dsp/receive_params.h"
#include "primitives/fft_transform.h"
#include "primitives/primitive_entries.h"

namespace bw {

// The arrays of one design, M elements each. The taps and their transform
// are scratch, each a pair in the paired layout of primitives/fft_plan.h
// (tapsIm and respIm at splitStride after tapsRe and respRe); mag and phase
// receive the response and keep it until the next design that succeeds.
// Scratch of a design: the taps and their transform (M elements each), each
// a pair in the paired layout of primitives/fft_plan.h (tapsIm and respIm at
// splitStride after tapsRe and respRe).
struct DesignScratch {
  double* tapsRe;
  double* tapsIm;
  double* respRe;
  double* respIm;
};

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
// skipped, the previous response stays and the result is false.
bool designFilter(const FilterArrays& a, std::int32_t n,
                  const nsp::FftTransform& transform, std::int32_t sampleRate, std::int32_t low, std::int32_t high,
                  const PrimitiveEntries& nsp);

// Designs the band in the shape a mode uses: designFilter for Sideband,
// designSteepFilter (dsp/steep_filter_design.h) for the others; with
// minimumPhase, in the minimum-phase form (dsp/minimum_phase.h). False when
// the design was skipped (the previous response stays).
bool designBand(BandShape shape, bool minimumPhase, const FilterArrays& a, std::int32_t n,
                const nsp::FftTransform& transform, std::int32_t sampleRate,
                std::int32_t low, std::int32_t high, const PrimitiveEntries& nsp);

// The band filter: designs the response for the band the parameters ask for
// and keeps it from block to block. A stage of the receive chain (the shape
// is described in dsp/receive_chain.h).
class BandFilter {
 public:
  struct State {
    explicit State(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : mag(2, 0.0, heap), phase(2, 0.0, heap) {}
    std::int32_t low = 0, high = 0;        // the band designed (Hz); 0: none
    BandShape shape = BandShape::Sideband;  // the shape it was designed in
    bool minimumPhase = false;              // and its phase
    std::pmr::vector<double> mag, phase;  // its response, M values each
    bool operator==(const State&) const = default;
  };

  // Sizes the response for M values (keeping the leading ones); for another
  // stream the band is dropped, so that the next block designs anew (a
  // response made for another length or rate would filter wrongly).
  void configure(const ChainFormat& format, State& s);
  static void reset(State& s) { s.low = s.high = 0; }

  // Designs the band p.lowCutHz..p.highCutHz in the shape of p's mode, in
  // minimum phase with SDR_EXT_MINIMUM_PHASE, when band, shape or phase is
  // not the one in use and 0 < low < high (else the band in use stays). `transform` is planned
  // for M points.
  void process(State& s, const ReceiveParams& p, const DesignScratch& scratch,
               const nsp::FftTransform& transform, const PrimitiveEntries& nsp) const;

 private:
  ChainFormat format_;
};

}  // namespace bw
