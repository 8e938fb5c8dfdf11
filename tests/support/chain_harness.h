// One receive chain built directly on the direct primitives, with the
// spectrum snapshot it publishes into: the harness of the tests that run the
// chain itself rather than the engine around it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dsp/receive_chain.h"

namespace bw::test {

class ChainHarness {
 public:
  // A chain configured for `format` (a refusal fails the test) whose
  // snapshot holds `spectrumValues` values (0: the format's M).
  explicit ChainHarness(const ChainFormat& format, std::size_t spectrumValues = 0);
  ChainHarness(const ChainHarness&) = delete;
  ChainHarness& operator=(const ChainHarness&) = delete;

  ReceiveChain& chain() { return chain_; }
  const ReceiveChain& chain() const { return chain_; }
  // The snapshot's values, as the chain last published them.
  const std::vector<double>& spectrum() const { return values_; }

  // One block of PCM in the configured format through the chain.
  std::vector<std::uint8_t> process(const ReceiveParams& p,
                                    const std::vector<std::uint8_t>& input);
  // One block of I and Q frames (at the width's integer scale) through the
  // chain; gives the output's two channels.
  void run(const ReceiveParams& p, const std::vector<std::int32_t>& i,
           const std::vector<std::int32_t>& q, std::vector<std::int32_t>& left,
           std::vector<std::int32_t>& right);

 private:
  std::vector<double> values_;
  SpectrumSnapshot snapshot_;
  ReceiveChain chain_;
};

}  // namespace bw::test
