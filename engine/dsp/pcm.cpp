#include "dsp/pcm.h"

#include <cstddef>

#include "primitives/pcm_codec.h"

namespace bw {

namespace {
// The loops for one width, so that the byte loops unroll.
template <int kBits>
void unpackFrames(const std::uint8_t* buffer, bool swap, std::int32_t frames,
                  double* inI, double* inQ) {
  constexpr int kBytes = pcm::sampleBytes(kBits);
  double* first = swap ? inQ : inI;
  double* second = swap ? inI : inQ;
  for (std::int32_t i = 0; i < frames; ++i) {
    const std::uint8_t* f = buffer + static_cast<std::ptrdiff_t>(i) * 2 * kBytes;
    first[i] = pcm::read<kBits>(f);
    second[i] = pcm::read<kBits>(f + kBytes);
  }
}

template <int kBits>
void packFrames(std::uint8_t* buffer, bool swap, std::int32_t frames,
                const std::int32_t* outLeft, const std::int32_t* outRight) {
  constexpr int kBytes = pcm::sampleBytes(kBits);
  const std::int32_t* first = swap ? outRight : outLeft;
  const std::int32_t* second = swap ? outLeft : outRight;
  for (std::int32_t i = 0; i < frames; ++i) {
    std::uint8_t* f = buffer + static_cast<std::ptrdiff_t>(i) * 2 * kBytes;
    pcm::write<kBits>(f, pcm::playbackSample<kBits>(first[i]));
    pcm::write<kBits>(f + kBytes, pcm::playbackSample<kBits>(second[i]));
  }
}
}  // namespace

void unpackCapture(const std::uint8_t* buffer, int width, std::uint32_t swap,
                   std::int32_t n, double* inI, double* inQ) {
  const bool s = swap != 0;
  switch (width) {
    case 8: return unpackFrames<8>(buffer, s, n, inI, inQ);
    case 16: return unpackFrames<16>(buffer, s, n, inI, inQ);
    case 24: return unpackFrames<24>(buffer, s, n, inI, inQ);
    case 32: return unpackFrames<32>(buffer, s, n, inI, inQ);
    default: return;
  }
}

void packPlayback(std::uint8_t* buffer, int width, std::uint32_t swap,
                  std::int32_t n, const std::int32_t* outLeft,
                  const std::int32_t* outRight) {
  const bool s = swap != 0;
  switch (width) {
    case 8: return packFrames<8>(buffer, s, n, outLeft, outRight);
    case 16: return packFrames<16>(buffer, s, n, outLeft, outRight);
    case 24: return packFrames<24>(buffer, s, n, outLeft, outRight);
    case 32: return packFrames<32>(buffer, s, n, outLeft, outRight);
    default: return;
  }
}

}  // namespace bw
