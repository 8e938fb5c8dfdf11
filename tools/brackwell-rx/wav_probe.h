// A look at a WAV file's "fmt " chunk without libsndfile, used only to
// explain why libsndfile refused a file: a recording whose layout it cannot
// follow may still say plainly that its rate or channel count is unusable.
#pragma once

#include <cstdint>
#include <optional>

namespace bw::rx {

struct WavFormatChunk {
  std::uint16_t formatTag = 0;
  std::uint16_t channels = 0;
  std::uint32_t sampleRate = 0;  // Hz
  std::uint16_t bitsPerSample = 0;
};

// Reads the RIFF/WAVE chunk list from the open descriptor `fd` (from its
// start, with pread, so the file position is untouched) up to the "fmt "
// chunk. nullopt when the file is not RIFF/WAVE or has no readable "fmt ".
std::optional<WavFormatChunk> probeWavFormat(int fd);

}  // namespace bw::rx
