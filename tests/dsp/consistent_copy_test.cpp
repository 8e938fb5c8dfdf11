// The sequence-counter snapshot under contention: a reader must only ever see
// one of the blocks the writers alternate, never a mix. Run under
// ThreadSanitizer too (scripts/test does).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "dsp/consistent_copy.h"

namespace bw {
namespace {

TEST(ConsistentCopy, ReaderSeesOnlyWholeWritesFromTwoWriters) {
  constexpr std::size_t kWords = 128;
  std::atomic<std::uint32_t> sequence{0};
  std::vector<std::uint64_t> shared(kWords, 0);
  std::vector<std::uint64_t> a(kWords), b(kWords);
  for (std::size_t i = 0; i < kWords; ++i) {
    a[i] = 0xAAAA0000 + i;
    b[i] = 0xBBBB0000 + i;
  }
  publishWords(sequence, shared.data(), a.data(), kWords);

  std::atomic<bool> stop{false};
  auto writer = [&](const std::vector<std::uint64_t>& first,
                    const std::vector<std::uint64_t>& second) {
    for (unsigned k = 1; !stop.load(); ++k) {
      publishWords(sequence, shared.data(), first.data(), kWords);
      publishWords(sequence, shared.data(), second.data(), kWords);
      // Now and then give the reader a chance on a machine with fewer cores
      // than threads.
      if (k % 64 == 0) std::this_thread::yield();
    }
  };
  std::thread w1(writer, std::cref(a), std::cref(b));
  std::thread w2(writer, std::cref(b), std::cref(a));

  // Start reading once both writers are under way.
  while (sequence.load() < 1000) std::this_thread::yield();
  std::vector<std::uint64_t> copy(kWords);
  int seenA = 0, seenB = 0, reads = 0;
  // Bounded in count and time: two writers on a two-core machine (slower
  // still under a sanitizer) can starve the reader for a while.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int r = 0; (r < 50000 || seenA == 0 || seenB == 0) &&
                  std::chrono::steady_clock::now() < until;
       ++r) {
    ++reads;
    consistentCopy(sequence, shared.data(), copy.data(), kWords);
    if (copy == a) {
      ++seenA;
    } else if (copy == b) {
      ++seenB;
    } else {
      ADD_FAILURE() << "torn copy at read " << r;
      break;
    }
  }
  stop = true;
  w1.join();
  w2.join();
  EXPECT_EQ(seenA + seenB, reads);
  EXPECT_GE(reads, 100);
  EXPECT_GT(seenA, 0);
  EXPECT_GT(seenB, 0);
  EXPECT_EQ(sequence.load() % 2, 0u);
}

}  // namespace
}  // namespace bw
