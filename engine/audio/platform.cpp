#include "audio/platform.h"

namespace bw::audio {

Result prepareHeader(WaveHeader& header) {
  header.dwFlags.fetch_or(kHeaderPrepared, std::memory_order_relaxed);
  return Result::Ok;
}

Result unprepareHeader(WaveHeader& header) {
  const std::uint32_t flags = header.dwFlags.load(std::memory_order_acquire);
  if (flags & kHeaderInQueue) return Result::InvalidState;
  header.dwFlags.store(flags & ~kHeaderPrepared, std::memory_order_relaxed);
  return Result::Ok;
}

bool isStreamableFormat(const WaveFormat& f) {
  const unsigned bits = f.wBitsPerSample;
  return f.wFormatTag == kFormatPcm && f.nChannels == 2 &&
         (bits == 8 || bits == 16 || bits == 24 || bits == 32) &&
         f.nBlockAlign == 2 * bits / 8 && f.nSamplesPerSec >= 8000 &&
         f.nSamplesPerSec <= 96000;
}

}  // namespace bw::audio
