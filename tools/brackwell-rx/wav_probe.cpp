#include "wav_probe.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace bw::rx {

namespace {
constexpr int kMaxChunksBeforeData = 64;

std::uint32_t le32(const unsigned char* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) |
         (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint16_t le16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
bool readAt(int fd, unsigned char* dest, std::size_t bytes, std::uint64_t at) {
  return ::pread(fd, dest, bytes, static_cast<off_t>(at)) ==
         static_cast<ssize_t>(bytes);
}
}  // namespace

bool isUnknownDataSize(std::uint32_t bytes) {
  return std::find(std::begin(kUnknownDataSizes), std::end(kUnknownDataSizes),
                   bytes) != std::end(kUnknownDataSizes);
}

std::optional<WavFormatChunk> probeWavFormat(int fd) {
  unsigned char riff[12];
  if (!readAt(fd, riff, sizeof riff, 0) || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  std::uint64_t at = 12;
  std::optional<WavFormatChunk> format;
  for (int i = 0; i < kMaxChunksBeforeData; ++i) {
    unsigned char header[8];
    if (!readAt(fd, header, sizeof header, at)) return format;
    const std::uint32_t size = le32(header + 4);
    if (std::memcmp(header, "fmt ", 4) == 0) {
      unsigned char body[16];
      if (size < sizeof body || !readAt(fd, body, sizeof body, at + 8)) {
        return std::nullopt;
      }
      format.emplace();
      format->formatTag = le16(body);
      format->channels = le16(body + 2);
      format->sampleRate = le32(body + 4);
      format->blockAlign = le16(body + 12);
      format->bitsPerSample = le16(body + 14);
    } else if (std::memcmp(header, "data", 4) == 0) {
      if (format && !isUnknownDataSize(size)) format->dataBytes = size;
      return format;
    }
    at += 8 + std::uint64_t{size} + (size & 1u);  // chunks are word-aligned
  }
  return format;
}

}  // namespace bw::rx
