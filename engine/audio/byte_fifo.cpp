#include "audio/byte_fifo.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace bw::audio {

ByteFifo::ByteFifo(std::size_t capacity)
    : mask_(std::bit_ceil(std::max<std::size_t>(capacity, 16)) - 1) {
  data_ = std::make_unique<std::uint8_t[]>(mask_ + 1);
}

bool ByteFifo::write(const std::uint8_t* data, std::size_t bytes) noexcept {
  const std::size_t w = written_.load(std::memory_order_relaxed);
  const std::size_t r = read_.load(std::memory_order_acquire);
  if (bytes > capacity() - (w - r)) return false;
  const std::size_t at = w & mask_;
  const std::size_t first = std::min(bytes, capacity() - at);
  std::memcpy(data_.get() + at, data, first);
  std::memcpy(data_.get(), data + first, bytes - first);
  written_.store(w + bytes, std::memory_order_release);
  return true;
}

std::size_t ByteFifo::read(std::uint8_t* dest, std::size_t bytes) noexcept {
  const std::size_t r = read_.load(std::memory_order_relaxed);
  const std::size_t w = written_.load(std::memory_order_acquire);
  const std::size_t n = std::min(bytes, w - r);
  const std::size_t at = r & mask_;
  const std::size_t first = std::min(n, capacity() - at);
  std::memcpy(dest, data_.get() + at, first);
  std::memcpy(dest + first, data_.get(), n - first);
  read_.store(r + n, std::memory_order_release);
  return n;
}

void ByteFifo::discard() noexcept {
  read_.store(written_.load(std::memory_order_acquire), std::memory_order_release);
}

std::size_t ByteFifo::size() const noexcept {
  return written_.load(std::memory_order_acquire) -
         read_.load(std::memory_order_acquire);
}

}  // namespace bw::audio
