#include "dsp/spectrum_snapshot.h"

#include <algorithm>

#include "dsp/consistent_copy.h"

namespace bw {

void resizeSnapshot(SpectrumSnapshot& s, std::int64_t length) {
  // A sequence-counter write, so readers on other threads see the old or the
  // new length with matching contents.
  std::int64_t words[1] = {length};
  const std::int64_t old = s.length;
  if (old == length) return;
  if (length > old) {
    static const double zeros[256] = {};
    for (std::int64_t i = old; i < length; i += 256) {
      const std::int64_t n = std::min<std::int64_t>(256, length - i);
      publishWords(s.sequence, s.values + i, zeros, n);
    }
  }
  publishWords(s.sequence, &s.length, words, 1);
}

void publishSnapshot(SpectrumSnapshot& s, const double* values,
                     std::int64_t count, std::int64_t first) {
  const std::int64_t length = s.length;
  if (first <= 0 || first >= length) {
    publishWords(s.sequence, s.values, values, static_cast<std::size_t>(count));
    return;
  }
  // values[first..] first, then the wrapped part values[0..].
  const std::int64_t head = std::min(count, length - first);
  publishWords(s.sequence, s.values, values + first,
               static_cast<std::size_t>(head), values,
               static_cast<std::size_t>(count - head));
}

std::int64_t readSnapshot(const SpectrumSnapshot& s, double* dest) {
  // Length and values must come from one write: copy both under one count.
  std::int64_t length = 0;
  readConsistently(s.sequence, [&] {
    length = loadWord(s.length);
    for (std::int64_t i = 0; i < length; ++i) dest[i] = loadWord(s.values[i]);
  });
  return length;
}

}  // namespace bw
