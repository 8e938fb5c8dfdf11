// The mode step of the receive chain: after the inverse transform, the
// overlap tails and the fine tuning, a detector chosen by the block's mode
// turns the complex baseband of N samples into real audio; gain control,
// squelch, output gain and clipping then run on it as on the sideband
// chain's output. SIDEBAND (and an unknown mode) runs no detector.
//
// Every detector has the shape of a chain stage (dsp/receive_chain.h):
//   struct State;  (what it carries from block to block, with ==)
//   void configure(const ChainFormat&, State&);
//   static void reset(State&);
//   void process(State&, const ReceiveParams&, double* re, double* im,
//                std::int32_t n);
// process replaces re + j im [0..n-1] by the audio in re and sets im to 0;
// the ReceiveParams it gets carry the band in use as lowCutHz..highCutHz.
#pragma once

#include <cstdint>
#include <memory_resource>

#include "dsp/am_detector.h"
#include "dsp/chain_format.h"
#include "dsp/filter_design.h"
#include "dsp/fm_detector.h"
#include "dsp/receive_params.h"
#include "dsp/sam_detector.h"

namespace bw {

// CW: the chain has tuned the carrier to the pitch and kept one sideband, so
// the audio is the baseband's real part.
class CwDetector {
 public:
  struct State {
    bool operator==(const State&) const = default;
  };
  void configure(const ChainFormat&, State&) {}
  static void reset(State&) {}
  void process(State&, const ReceiveParams&, double* re, double* im,
               std::int32_t n) const;
};

class ModeDetector {
 public:
  // Detectors' scratch comes from heap, in configure.
  explicit ModeDetector(std::pmr::memory_resource* heap) : fm_(heap) {}

  struct State {
    CwDetector::State cw;
    AmDetector::State am;
    SamDetector::State sam;
    FmDetector::State fm;
    bool operator==(const State&) const = default;
  };

  void configure(const ChainFormat& format, State& s);
  static void reset(State& s);

  // Runs the detector of p.modes.mode, with the band in use `band`.
  void process(State& s, const ReceiveParams& p, const BandFilter::State& band,
               double* re, double* im, std::int32_t n);

 private:
  CwDetector cw_;
  AmDetector am_;
  SamDetector sam_;
  FmDetector fm_;
};

}  // namespace bw
