// How many frames a sound-card stream moves per callback.
//
// Left to PortAudio, a stream on the sound server wakes its callback thread
// and the server's client thread every few milliseconds (150-400 times a
// second), far more often than the engine needs: it only acts once a whole
// buffer has been captured. Fewer, larger periods cost less (with the
// console's blocks, 512-frame periods took its CPU from about 6 % to 4 % of
// a core; 1024 frames saved no more), as long as
//  - a period divides the engine's buffer, so that every buffer is
//    completed by one callback (no buffer waits for part of the next period)
//    and playback never asks for more than one buffer at a time, which the
//    one buffer of silence played before the first keeps ahead of;
//  - a period stays short next to the device's default latency (about
//    35 ms on the sound server), so that the device's buffer and with it
//    the receiver's delay grow little.
#pragma once

#include <cstdint>

namespace bw::audio {

// The longest period, in seconds.
inline constexpr double kLongestPeriodSeconds = 0.0125;

// Frames per callback for engine buffers of `bufferFrames` frames at
// `rate` Hz: the largest power of two that divides bufferFrames and lasts at
// most kLongestPeriodSeconds, but at least 32 frames. 0 (let the library
// choose) when bufferFrames is 0 or has no such divisor, or rate is 0.
std::uint32_t callbackFrames(std::uint32_t bufferFrames, std::uint32_t rate);

}  // namespace bw::audio
