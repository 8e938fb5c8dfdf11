#include "audio/software_volume.h"

#include <cmath>

#include "primitives/pcm_codec.h"

namespace bw::audio {

void applyVolume(std::uint8_t* pcm, std::size_t frames, int bits,
                 std::uint32_t volume) noexcept {
  if (volume == kFullVolume) return;
  const double gain[2] = {double(volume & 0xFFFFu) / 65535.0,
                          double(volume >> 16) / 65535.0};
  const int bytes = bits / 8;
  for (std::size_t f = 0; f < frames; ++f) {
    for (int ch = 0; ch < 2; ++ch) {
      std::uint8_t* at = pcm + (f * 2 + ch) * bytes;
      const double scaled = std::nearbyint(double(pcm::read(at, bits)) * gain[ch]);
      pcm::write(at, bits, static_cast<std::int32_t>(scaled));
    }
  }
}

}  // namespace bw::audio
