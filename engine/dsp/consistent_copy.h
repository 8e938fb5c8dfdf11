// consistentCopy: the engine's only protection of data that one thread writes
// and another reads (the parameter block, the spectrum snapshot). A sequence
// counter guards each shared area: a writer makes it odd, writes, and makes it
// even again; a reader copies and retries until it saw the same even counter
// before and after its copy. Every access to the shared words is atomic, so
// there is no data race. Word stores are releases and word loads acquires: a
// reader that sees any word of a write therefore also sees that write's odd
// count when it reads the counter again, and retries. (On x86-64 these are
// plain moves.) No lock, no allocation: safe on the processing thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace bw {

namespace detail {
inline std::uint32_t beginWrite(std::atomic<std::uint32_t>& sequence) {
  std::uint32_t s = sequence.load(std::memory_order_relaxed);
  for (;;) {
    if (s & 1u) {  // another writer is in the middle of its write
      s = sequence.load(std::memory_order_relaxed);
      continue;
    }
    if (sequence.compare_exchange_weak(s, s + 1, std::memory_order_acquire,
                                       std::memory_order_relaxed)) {
      break;
    }
  }
  return s + 1;
}
inline void endWrite(std::atomic<std::uint32_t>& sequence, std::uint32_t odd) {
  sequence.store(odd + 1, std::memory_order_release);
}
// Atomic stores are not vectorised; unrolled, they at least go out two a
// cycle (a spectrum is thousands of words, published every block).
template <typename T>
void storeWords(T* dst, const T* src, std::size_t count) {
#pragma GCC unroll 8
  for (std::size_t i = 0; i < count; ++i) {
    std::atomic_ref<T>(dst[i]).store(src[i], std::memory_order_release);
  }
}
}  // namespace detail

// Writer side (any thread; two writers are safe): copies count words from
// src into the shared words dst.
template <typename T>
void publishWords(std::atomic<std::uint32_t>& sequence, T* dst, const T* src,
                  std::size_t count) {
  const std::uint32_t odd = detail::beginWrite(sequence);
  detail::storeWords(dst, src, count);
  detail::endWrite(sequence, odd);
}

// The same for two source pieces written one after the other into dst, as
// one write: count1 words from src1, then count2 from src2.
template <typename T>
void publishWords(std::atomic<std::uint32_t>& sequence, T* dst, const T* src1,
                  std::size_t count1, const T* src2, std::size_t count2) {
  const std::uint32_t odd = detail::beginWrite(sequence);
  detail::storeWords(dst, src1, count1);
  detail::storeWords(dst + count1, src2, count2);
  detail::endWrite(sequence, odd);
}

// Reader side: runs copy() (which must read the shared words only through
// loadWord) until it ran during no write. copy() writes only the caller's
// own memory, so a retry overwrites what a torn attempt wrote, as far as the
// retry copies: when the amount depends on shared words (a length), a longer
// torn attempt leaves its surplus behind.
template <typename Copy>
void readConsistently(const std::atomic<std::uint32_t>& sequence, Copy copy) {
  for (;;) {
    const std::uint32_t before = sequence.load(std::memory_order_acquire);
    if (before & 1u) continue;
    copy();
    if (sequence.load(std::memory_order_relaxed) == before) return;
  }
}

// One atomic load of a shared word.
template <typename T>
T loadWord(const T& word) {
  return std::atomic_ref<T>(const_cast<T&>(word)).load(std::memory_order_acquire);
}

// Copies count shared words from src into the caller's dst, retrying until
// the copy is of one complete write.
template <typename T>
void consistentCopy(const std::atomic<std::uint32_t>& sequence, const T* src,
                    T* dst, std::size_t count) {
  readConsistently(sequence, [&] {
    for (std::size_t i = 0; i < count; ++i) dst[i] = loadWord(src[i]);
  });
}

}  // namespace bw
