// The block pipeline: one captured buffer in, one playback buffer out, by fast
// convolution with overlap-add, refreshing the spectrum snapshot and
// currentGain on the way.
//
// Real-time rules: these run on the processing thread (the audio layer's
// notification thread, or a tool's loop). They never allocate, never lock,
// never wait and never do I/O.
#pragma once

#include <cstdint>

namespace bw {

// Processes one block: reads bufferBytes bytes of interleaved stereo PCM from
// input, writes bufferBytes bytes into output (the playback buffer of the same
// slot). Calls blockHook first. Always returns 0. If the signal library is not
// bound the output is silence and the spectrum and currentGain keep their
// values.
int processBlock(const std::uint8_t* input, std::uint8_t* output);

// Zeroes the N values of tailRe and tailIm.
void clearTails();

}  // namespace bw
