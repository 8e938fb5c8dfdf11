// The software output volume applied by the playback path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bw::audio {

constexpr std::uint32_t kFullVolume = 0xFFFFFFFFu;

// Scales interleaved stereo PCM in place: left by (volume & 0xFFFF) / 0xFFFF,
// right by (volume >> 16) / 0xFFFF, rounding to nearest. bits is 8 (unsigned
// bytes centred on 128), 16, 24 or 32 (signed little-endian). Full volume
// leaves the samples as they are. Real-time safe.
void applyVolume(std::uint8_t* pcm, std::size_t frames, int bits,
                 std::uint32_t volume) noexcept;

}  // namespace bw::audio
