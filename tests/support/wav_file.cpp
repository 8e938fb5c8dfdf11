#include "support/wav_file.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>

namespace bw::test {

void writeWav(const std::filesystem::path& path, const Frames& samples, int rate,
              Storage storage, int channels) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  const int subtype[] = {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24,
                         SF_FORMAT_PCM_32, SF_FORMAT_FLOAT};
  info.format = SF_FORMAT_WAV | subtype[static_cast<int>(storage)];
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
  if (storage == Storage::Float) {
    std::vector<float> v(samples.size());
    for (std::size_t s = 0; s < v.size(); ++s) v[s] = samples[s] / 32768.0f;
    EXPECT_EQ(sf_writef_float(f, v.data(), frames), frames);
  } else {
    std::vector<int> v(samples.size());
    for (std::size_t s = 0; s < v.size(); ++s) v[s] = samples[s] * 65536;
    EXPECT_EQ(sf_writef_int(f, v.data(), frames), frames);
  }
  sf_close(f);
}

std::vector<double> Recording::channel(int c, int shift) const {
  std::vector<double> out;
  for (std::size_t s = static_cast<std::size_t>(c); s < samples.size(); s += channels) {
    out.push_back(samples[s] >> shift);
  }
  return out;
}

Recording readWav(const std::filesystem::path& path) {
  Recording r;
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
  if (!f) return r;
  r.rate = info.samplerate;
  r.channels = info.channels;
  r.format = info.format;
  r.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
    // libsndfile hands floating point to integers unscaled: scale here.
    std::vector<double> v(r.samples.size());
    EXPECT_EQ(sf_readf_double(f, v.data(), info.frames), info.frames);
    for (std::size_t s = 0; s < v.size(); ++s) {
      r.samples[s] = static_cast<std::int32_t>(std::lround(
          std::clamp(v[s] * 2147483648.0, -2147483648.0, 2147483647.0)));
    }
  } else {
    EXPECT_EQ(sf_readf_int(f, r.samples.data(), info.frames), info.frames);
  }
  sf_close(f);
  return r;
}

}  // namespace bw::test
