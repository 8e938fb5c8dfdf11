// The overlap tails of fast convolution: each block's inverse transform is M
// = 2N samples long, and its second half is added to the start of the next
// block. A stage of the receive chain (the shape is described in
// dsp/receive_chain.h).
#pragma once

#include <cstdint>
#include <memory_resource>
#include <vector>

#include "dsp/chain_format.h"
#include "dsp/receive_params.h"
#include "primitives/primitive_entries.h"

namespace bw {

class OverlapTails {
 public:
  struct State {
    explicit State(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
        : re(2, 0.0, heap), im(2, 0.0, heap) {}
    std::pmr::vector<double> re, im;  // M - N values each
    std::uint32_t flushBit = 0;       // the FlushToggle bit of the last block
    bool operator==(const State&) const = default;
  };

  // Sizes the tails for M - N values (keeping the leading ones); another
  // stream's tails are cleared.
  void configure(const ChainFormat& format, State& s);
  // Zeroes the tails. The flush bit stays: it is the caller's toggle, not
  // history.
  static void reset(State& s);

  // A FlushToggle bit in p that differs from the last block's clears the
  // tails first. Then adds them to re + j im [0..N-3] (the last two samples
  // are taken without) and keeps [N..M-1] as the next tails.
  void process(State& s, const ReceiveParams& p, double* re, double* im,
               const PrimitiveEntries& nsp) const;

 private:
  std::int32_t n_ = 0, m_ = 0;
  ChainFormat format_;
};

}  // namespace bw
