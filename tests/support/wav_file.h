// WAV recordings for the tests, written and read with libsndfile: a test's
// own recordings at any storage, and the shared recordings read back at
// full scale.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace bw::test {

// How a test recording is stored; samples are always given at 16-bit scale.
enum class Storage { U8, Pcm16, Pcm24, Pcm32, Float };

// Interleaved samples at 16-bit scale.
using Frames = std::vector<std::int32_t>;

// Writes a WAV file of `channels` channels (the samples interleaved as given)
// exactly: 24 and 32 bits hold the 16-bit value shifted up, float holds
// value / 32768, U8 keeps the top 8 bits.
void writeWav(const std::filesystem::path& path, const Frames& samples, int rate,
              Storage storage, int channels = 2);

struct Recording {
  int rate = 0, channels = 0, format = 0;
  std::vector<std::int32_t> samples;  // full-scale 32-bit, interleaved
  std::int64_t frames() const { return channels ? samples.size() / channels : 0; }
  std::vector<double> channel(int c, int shift = 0) const;  // samples >> shift
};
// The whole recording; a file that cannot be opened fails the test and
// gives an empty recording.
Recording readWav(const std::filesystem::path& path);

}  // namespace bw::test
