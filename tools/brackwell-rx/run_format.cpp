#include "run_format.h"

namespace bw::rx {

namespace {
// 2^31 / 2^15: from the 32-bit scale to the 16-bit one. A power of two, so
// the scaling itself rounds nothing.
constexpr double kSixteenBitScale = 65536.0;
}  // namespace

RunFormat runFormatFor(SampleEncoding input, const ReceiveParams& requested,
                       bool asEngine) {
  RunFormat run{requested, input};
  if (input != SampleEncoding::Float) return run;
  if (asEngine) {
    run.output = SampleEncoding::Pcm32;
    return run;
  }
  // The gain (fixed, or the AGC's ceiling) brings the envelope to the 16-bit
  // scale before the squelch; the output gain takes it back up before the
  // clip at 2^31, which is then the 16-bit clip at 32768.
  run.params.gain = requested.gain / kSixteenBitScale;
  run.params.outputGain = requested.outputGain * kSixteenBitScale;
  return run;
}

}  // namespace bw::rx
