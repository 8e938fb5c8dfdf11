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
  std::uint16_t blockAlign = 0;  // bytes a frame
  // The "data" chunk's declared size in bytes when a "data" chunk follows;
  // -1 when there is none or it says "unknown" (0xFFFFFFFF, as RF64 and
  // streamed files do).
  std::int64_t dataBytes = -1;
};

// Reads the RIFF/WAVE chunk list from the open descriptor `fd` (from its
// start, with pread, so the file position is untouched) up to the "fmt "
// chunk and on to the "data" chunk. nullopt when the file is not RIFF/WAVE or
// has no readable "fmt " (a pipe cannot be read this way either).
std::optional<WavFormatChunk> probeWavFormat(int fd);

}  // namespace bw::rx
