// The PCM format description and the per-buffer header that the engine and
// the platform audio layer share for each slot of the capture and playback
// rings. The engine sets lpData and dwBufferLength and reads only the done
// bit of dwFlags; everything else belongs to the audio layer.
#pragma once

#include <atomic>
#include <cstdint>

namespace bw::audio {

struct WaveFormat {
  std::uint16_t wFormatTag = 0;  // 1 = PCM; 0 until a configuration succeeded
  std::uint16_t nChannels = 0;
  std::uint32_t nSamplesPerSec = 0;   // Hz
  std::uint32_t nAvgBytesPerSec = 0;  // nSamplesPerSec * nBlockAlign
  std::uint16_t nBlockAlign = 0;      // bytes per frame
  std::uint16_t wBitsPerSample = 0;
  std::uint16_t cbSize = 0;
};

constexpr std::uint16_t kFormatPcm = 1;

// dwFlags bits.
constexpr std::uint32_t kHeaderDone = 0x1;      // buffer filled (capture) or played
constexpr std::uint32_t kHeaderPrepared = 0x2;  // registered with a stream
constexpr std::uint32_t kHeaderInQueue = 0x10;  // queued on a stream

struct WaveHeader {
  std::uint8_t* lpData = nullptr;      // the slot's data buffer
  std::uint32_t dwBufferLength = 0;    // bytes
  std::uint32_t dwBytesRecorded = 0;   // bytes filled by capture
  std::uint64_t dwUser = 0;
  std::atomic<std::uint32_t> dwFlags{0};  // written by the audio layer's threads
  std::uint32_t dwLoops = 0;
};
static_assert(sizeof(WaveHeader) == 32, "a wave header is 32 bytes");

// True when a header with these flags may be queued on a stream: prepared,
// not queued already, and pointing at a buffer.
inline bool canQueue(const WaveHeader& header, std::uint32_t flags) {
  return (flags & kHeaderPrepared) && !(flags & kHeaderInQueue) &&
         header.lpData != nullptr && header.dwBufferLength != 0;
}

}  // namespace bw::audio
