#include "receive_block.h"

#include "api/param_block.h"

namespace lanternfly {

ReceiveBlock initialReceiveBlock() {
  ReceiveBlock block{};
  bw::encodeParams(bw::consoleParams(), block.data());
  return block;
}

std::int32_t tuneOffsetForPosition(int position) {
  return static_cast<std::int32_t>(position - kSliderCentre) * kHzPerSliderStep;
}

void storeTuneOffset(ReceiveBlock& block, std::int32_t offsetHz) {
  bw::detail::writeLe(block.data(), bw::param::kTuneOffsetHz, offsetHz);
}

}  // namespace lanternfly
