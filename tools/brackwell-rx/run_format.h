// What a recording runs as: the parameter block the chain gets and the
// encoding of the output, by the recording's encoding.
//
// PCM recordings run as the engine runs them, at their own width, and the
// output is what the engine plays at that width. A floating-point recording
// runs through the chain as 32-bit samples (1.0 = 2^31, so its precision is
// kept), but its gains work on the 16-bit scale, where the automatic gain's
// target (16384) and ceiling, a fixed gain and the squelch level mean what
// they mean for a 16-bit recording; the output gain then brings the result
// back to 2^31 and the output is floating point. So a float recording comes
// out at the level of the same signal stored in 16 bits. As the engine
// (asEngine) a float recording runs as plain 32-bit PCM and gives 32-bit PCM.
#pragma once

#include "dsp/receive_params.h"
#include "iq_reader.h"

namespace bw::rx {

struct RunFormat {
  ReceiveParams params;     // the block the chain gets
  SampleEncoding output = SampleEncoding::Pcm16;
};

RunFormat runFormatFor(SampleEncoding input, const ReceiveParams& requested,
                       bool asEngine);

}  // namespace bw::rx
