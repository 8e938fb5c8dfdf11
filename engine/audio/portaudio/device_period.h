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
//    and playback never asks for more than one buffer at a time;
//  - a period stays short, for it sets the delay beyond the block: the
//    device is asked for two periods of latency each way (but at least
//    kShortestLatencySeconds), and the playback queue is kept at one period
//    (audio/pumped_playback.h). With 256-frame periods and two-period
//    latency the console's blocks were heard 85-95 ms after capture on a
//    private PulseAudio, of which 64 ms are the block and its filter's delay;
//  - a period is at most a quarter of the buffer, so that small blocks
//    (chosen for a short delay) get short periods too.
#pragma once

#include <cstdint>

namespace bw::audio {

// The longest period, in seconds (256 frames at 48 kHz).
inline constexpr double kLongestPeriodSeconds = 0.0055;

// Frames per callback for engine buffers of `bufferFrames` frames at
// `rate` Hz: the largest power of two that divides bufferFrames, lasts at
// most kLongestPeriodSeconds and is at most a quarter of bufferFrames, but
// at least 32 frames. 0 (let the library choose) when bufferFrames is 0 or
// has no such divisor, or rate is 0.
std::uint32_t callbackFrames(std::uint32_t bufferFrames, std::uint32_t rate);

// The shortest device latency asked for, in seconds. With 10.7 ms on a
// machine at a load average of 20, the sound server's loopback test heard
// no output in two of three runs (the server, not real-time, fell behind for
// good); with 20 ms, in none of two.
inline constexpr double kShortestLatencySeconds = 0.02;

// The latency (seconds) to ask of a device whose callbacks move
// `periodFrames` frames at `rate` Hz: two periods, at least
// kShortestLatencySeconds; `fallback` (the device's default) when
// periodFrames or rate is 0.
double deviceLatency(std::uint32_t periodFrames, std::uint32_t rate, double fallback);

}  // namespace bw::audio
