// The spectrum snapshot: written by the chain on the processing thread, read
// on any thread through its sequence counter (consistent_copy.h). Its owner
// provides storage for `capacity` values that never moves while the snapshot
// is in use, so a reader never meets freed memory; `length` and the values
// change only inside a sequence-counter write.
#pragma once

#include <atomic>
#include <cstdint>

namespace bw {

struct SpectrumSnapshot {
  std::atomic<std::uint32_t> sequence{0};
  std::int64_t length = 0;   // elements in use; a shared word
  double* values = nullptr;  // `capacity` elements, owned by the owner
  std::int64_t capacity = 0;
};

// Sets the length in use (at most capacity), zero-filling the elements it
// adds, as one or more sequence-counter writes.
void resizeSnapshot(SpectrumSnapshot& s, std::int64_t length);

// Publishes count values (from element 0) as one sequence-counter write:
// element j is values[(j + first) mod length], for values of the snapshot's
// length held rotated (first = 0: as they are).
void publishSnapshot(SpectrumSnapshot& s, const double* values,
                     std::int64_t count, std::int64_t first = 0);

// Copies the `length` values in use into dest, all from one write (any
// thread). dest must hold the longest length the snapshot may have during
// the call: when the length shrinks meanwhile, a retried longer copy leaves
// values past the new length (never inside it). Returns the length copied.
std::int64_t readSnapshot(const SpectrumSnapshot& s, double* dest);

}  // namespace bw
