#include "support/chain_harness.h"

#include <gtest/gtest.h>

#include "support/engine_fixture.h"

namespace bw::test {

ChainHarness::ChainHarness(const ChainFormat& format, std::size_t spectrumValues)
    : values_(spectrumValues ? spectrumValues : std::size_t{2} << format.order, 0.0),
      chain_(directPrimitives(), snapshot_) {
  snapshot_.values = values_.data();
  snapshot_.capacity = static_cast<std::int64_t>(values_.size());
  EXPECT_TRUE(chain_.configure(format));
}

std::vector<std::uint8_t> ChainHarness::process(const ReceiveParams& p,
                                                const std::vector<std::uint8_t>& input) {
  EXPECT_EQ(input.size(), static_cast<std::size_t>(chain_.bufferBytes()));
  std::vector<std::uint8_t> output(input.size());
  chain_.process(p, input.data(), output.data());
  return output;
}

void ChainHarness::run(const ReceiveParams& p, const std::vector<std::int32_t>& i,
                       const std::vector<std::int32_t>& q,
                       std::vector<std::int32_t>& left,
                       std::vector<std::int32_t>& right) {
  const int bits = chain_.format().bitsPerSample;
  unpackFrames(process(p, packFrames(i, q, bits)), bits, left, right);
}

}  // namespace bw::test
