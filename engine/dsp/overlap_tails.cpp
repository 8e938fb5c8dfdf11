#include "dsp/overlap_tails.h"

#include <algorithm>

namespace bw {

void OverlapTails::configure(const ChainFormat& f, State& s) {
  n_ = 1 << f.order;
  m_ = 2 * n_;
  s.re.resize(static_cast<std::size_t>(m_ - n_), 0.0);
  s.im.resize(static_cast<std::size_t>(m_ - n_), 0.0);
  // Old tails do not fit the blocks of another stream.
  if (isNewStream(format_, f)) reset(s);
  format_ = f;
}

void OverlapTails::reset(State& s) {
  std::fill(s.re.begin(), s.re.end(), 0.0);
  std::fill(s.im.begin(), s.im.end(), 0.0);
}

void OverlapTails::process(State& s, const ReceiveParams& p, double* re,
                           double* im, const PrimitiveEntries& nsp) const {
  if ((p.flags & SDR_FLAG_FLUSH_TOGGLE) != s.flushBit) {
    s.flushBit = p.flags & SDR_FLAG_FLUSH_TOGGLE;
    reset(s);
  }
  nsp.nspdbAdd3(re, s.re.data(), re, n_ - 2);
  nsp.nspdbAdd3(im, s.im.data(), im, n_ - 2);
  std::copy(re + n_, re + m_, s.re.data());
  std::copy(im + n_, im + m_, s.im.data());
}

}  // namespace bw
