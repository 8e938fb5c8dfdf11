// A single-producer, single-consumer byte FIFO without locks: the sound
// system's real-time callback writes, the layer's notification thread reads
// (or the other way round for playback). Capacity is fixed at construction.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace bw::audio {

class ByteFifo {
 public:
  // Holds at least `capacity` bytes (rounded up to a power of two).
  explicit ByteFifo(std::size_t capacity);

  // Producer: appends all `bytes` or nothing (false when there is no room).
  bool write(const std::uint8_t* data, std::size_t bytes) noexcept;
  // Consumer: moves up to `bytes` into dest; returns how many.
  std::size_t read(std::uint8_t* dest, std::size_t bytes) noexcept;
  // Consumer: drops everything that is there.
  void discard() noexcept;
  // Bytes waiting (exact for the consumer, a lower bound for others).
  std::size_t size() const noexcept;
  std::size_t capacity() const noexcept { return mask_ + 1; }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t mask_;
  std::atomic<std::size_t> written_{0};  // total bytes written
  std::atomic<std::size_t> read_{0};     // total bytes read
};

}  // namespace bw::audio
