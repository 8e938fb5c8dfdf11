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
  // -1 when there is none or it is a size that says "unknown"
  // (isUnknownDataSize).
  std::int64_t dataBytes = -1;
};

// The sizes writers put in a "data" chunk when they cannot go back to fill
// in the real one (output to a pipe): 0xFFFFFFFF (also RF64's marker) and
// 0x7FFFF000 (sox's).
constexpr std::uint32_t kUnknownDataSizes[] = {0xFFFFFFFFu, 0x7FFFF000u};
bool isUnknownDataSize(std::uint32_t bytes);

// Reads the RIFF/WAVE chunk list from the open descriptor `fd` (from its
// start, with pread, so the file position is untouched) up to the "fmt "
// chunk and on to the "data" chunk. nullopt when the file is not RIFF/WAVE or
// has no readable "fmt " (a pipe cannot be read this way either).
std::optional<WavFormatChunk> probeWavFormat(int fd);

}  // namespace bw::rx
