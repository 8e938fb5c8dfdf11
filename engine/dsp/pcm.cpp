#include "dsp/pcm.h"

#include <algorithm>
#include <cstring>


namespace bw {

namespace {
std::int32_t read16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}
std::int32_t read24(const std::uint8_t* p) {
  // (bytes 1-2 as a signed 16-bit value) * 256 + byte 0
  return read16(p + 1) * 256 + p[0];
}
std::int32_t read32(const std::uint8_t* p) {
  std::uint32_t u = static_cast<std::uint32_t>(p[0]) |
                    (static_cast<std::uint32_t>(p[1]) << 8) |
                    (static_cast<std::uint32_t>(p[2]) << 16) |
                    (static_cast<std::uint32_t>(p[3]) << 24);
  return static_cast<std::int32_t>(u);
}
void write16(std::uint8_t* p, std::int32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void write32(std::uint8_t* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = static_cast<std::uint8_t>(u);
  p[1] = static_cast<std::uint8_t>(u >> 8);
  p[2] = static_cast<std::uint8_t>(u >> 16);
  p[3] = static_cast<std::uint8_t>(u >> 24);
}

template <typename Read>
void unpackFrames(const std::uint8_t* buffer, int bytesPerSample, bool swap,
                  std::int32_t frames, double* inI, double* inQ, Read read) {
  double* first = swap ? inQ : inI;
  double* second = swap ? inI : inQ;
  const int frameBytes = 2 * bytesPerSample;
  for (std::int32_t i = 0; i < frames; ++i) {
    const std::uint8_t* f = buffer + static_cast<std::ptrdiff_t>(i) * frameBytes;
    first[i] = read(f);
    second[i] = read(f + bytesPerSample);
  }
}

template <typename Write>
void packFrames(std::uint8_t* buffer, int bytesPerSample, bool swap,
                std::int32_t frames, const std::int32_t* outLeft,
                const std::int32_t* outRight, Write write) {
  const std::int32_t* first = swap ? outRight : outLeft;
  const std::int32_t* second = swap ? outLeft : outRight;
  const int frameBytes = 2 * bytesPerSample;
  for (std::int32_t i = 0; i < frames; ++i) {
    std::uint8_t* f = buffer + static_cast<std::ptrdiff_t>(i) * frameBytes;
    write(f, first[i]);
    write(f + bytesPerSample, second[i]);
  }
}
}  // namespace

void unpackCapture(const std::uint8_t* buffer, int width, std::uint32_t swap,
                   std::int32_t n, double* inI, double* inQ) {
  const bool s = swap != 0;
  switch (width) {
    case 8:  // the device's unsigned bytes, centred on 128
      unpackFrames(buffer, 1, s, n, inI, inQ,
                   [](const std::uint8_t* p) { return std::int32_t{p[0]} - 128; });
      break;
    case 16:
      unpackFrames(buffer, 2, s, n, inI, inQ, read16);
      break;
    case 24:
      unpackFrames(buffer, 3, s, n, inI, inQ, read24);
      break;
    case 32:
      unpackFrames(buffer, 4, s, n, inI, inQ, read32);
      break;
    default:
      break;
  }
}

void packPlayback(std::uint8_t* buffer, int width, std::uint32_t swap,
                  std::int32_t n, const std::int32_t* outLeft,
                  const std::int32_t* outRight) {
  const bool s = swap != 0;
  switch (width) {
    case 8:
      packFrames(buffer, 1, s, n, outLeft, outRight,
                 [](std::uint8_t* p, std::int32_t v) {
                   p[0] = static_cast<std::uint8_t>(std::clamp(v, -128, 127) + 128);
                 });
      break;
    case 16:  // low 16 bits, as the format holds them
      packFrames(buffer, 2, s, n, outLeft, outRight, write16);
      break;
    case 24:
      // The 16-bit value in bytes 1-2, low byte 0. Saturate first: the low 16
      // bits of a larger value would be noise.
      packFrames(buffer, 3, s, n, outLeft, outRight,
                 [](std::uint8_t* p, std::int32_t v) {
                   p[0] = 0;
                   write16(p + 1, std::clamp(v, -32768, 32767));
                 });
      break;
    case 32:
      packFrames(buffer, 4, s, n, outLeft, outRight, write32);
      break;
    default:
      break;
  }
}

}  // namespace bw
