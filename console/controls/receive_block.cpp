#include "controls/receive_block.h"

#include "brackwell/param_block.h"

namespace lanternfly {

ReceiveBlock initialReceiveBlock() {
  ReceiveBlock block{};
  const SdrReceiveParams params = sdrConsoleParams();
  sdrEncodeParams(&params, block.data());
  return block;
}

std::int32_t tuneOffsetForPosition(int position) {
  return static_cast<std::int32_t>(position - kSliderCentre) * kHzPerSliderStep;
}

void storeTuneOffset(ReceiveBlock& block, std::int32_t offsetHz) {
  sdrStoreTuneOffset(block.data(), offsetHz);
}

}  // namespace lanternfly
