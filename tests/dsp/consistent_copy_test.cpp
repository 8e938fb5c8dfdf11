// The sequence-counter snapshot under contention: a reader must only ever see
// one of the blocks the writers alternate, never a mix. Run under
// ThreadSanitizer too (scripts/test does).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "dsp/consistent_copy.h"
#include "dsp/spectrum_snapshot.h"

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
  std::atomic<int> started{0}, readsDone{0};
  auto writer = [&](const std::vector<std::uint64_t>& first,
                    const std::vector<std::uint64_t>& second) {
    started.fetch_add(1);
    int seen = readsDone.load();
    for (unsigned k = 1; !stop.load(); ++k) {
      publishWords(sequence, shared.data(), first.data(), kWords);
      publishWords(sequence, shared.data(), second.data(), kWords);
      // Every 64 rounds, until the reader has finished a copy since the
      // last such wait: on a machine with fewer cores than threads (slower
      // still under a sanitizer) back-to-back writes can starve it.
      if (k % 64 == 0) {
        while (readsDone.load() == seen && !stop.load()) std::this_thread::yield();
        seen = readsDone.load();
      }
    }
  };
  std::thread w1(writer, std::cref(a), std::cref(b));
  std::thread w2(writer, std::cref(b), std::cref(a));

  // Start reading once both writers are under way.
  while (started.load() < 2) std::this_thread::yield();
  std::vector<std::uint64_t> copy(kWords);
  int seenA = 0, seenB = 0, reads = 0;
  // Bounded in count and time.
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
    readsDone.fetch_add(1);
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

// The spectrum as the chain publishes it (rotated, in two pieces) while its
// length changes between publications, as a reconfiguration does. Publication
// k holds k * 2^16 + bin, so a read that mixes publications, rotates wrongly
// or has the wrong length for its values shows.
TEST(ConsistentCopy, SnapshotReadsAreWholePublicationsWhileTheLengthChanges) {
  constexpr std::int64_t kLong = 4096, kShort = 2048;
  std::vector<double> storage(kLong, 0.0);
  SpectrumSnapshot s;
  s.values = storage.data();
  s.capacity = kLong;
  resizeSnapshot(s, kShort);
  // Publication 0 holds the bin numbers themselves.
  std::vector<double> bins(kShort);
  for (std::int64_t b = 0; b < kShort; ++b) bins[b] = double(b);
  publishSnapshot(s, bins.data(), kShort);

  std::atomic<bool> stop{false};
  std::atomic<int> readsDone{0};
  std::thread writer([&] {
    std::vector<double> rotated(kLong);
    for (std::int64_t k = 1; !stop.load(); ++k) {
      const std::int64_t length = (k / 8) % 2 ? kLong : kShort;
      resizeSnapshot(s, length);
      // Bin b held at index (b + first) mod length, published in bin order.
      const std::int64_t first = (k * 37) % length;
      for (std::int64_t b = 0; b < length; ++b) {
        rotated[(b + first) % length] = double(k * 65536 + b);
      }
      publishSnapshot(s, rotated.data(), length, first);
      // After the last publication of each length, hold still until the
      // reader has finished two reads, so that a whole copy of either length
      // gets through however slow the reader is (two cores, a sanitizer).
      if (k % 8 == 7) {
        const int seen = readsDone.load();
        while (!stop.load() && readsDone.load() < seen + 2) std::this_thread::yield();
      }
    }
  });

  std::vector<double> dest(kLong + 1);
  int reads = 0, longReads = 0, bad = 0;
  // At least a second and both lengths seen; at most ten (a loaded machine).
  const auto start = std::chrono::steady_clock::now();
  for (auto now = start; bad == 0 && now < start + std::chrono::seconds(10);
       now = std::chrono::steady_clock::now()) {
    if (now > start + std::chrono::seconds(1) && longReads > 0 && longReads < reads) break;
    std::fill(dest.begin(), dest.end(), std::numeric_limits<double>::quiet_NaN());
    const std::int64_t length = readSnapshot(s, dest.data());
    ++reads;
    readsDone.store(reads);
    const double k = std::floor(dest[0] / 65536);
    // Values past the length copied may be a torn attempt's; a shrink keeps
    // the values of the last long publication, so only the length returned
    // tells a long read.
    const bool isLong = length == kLong;
    if (!isLong && length != kShort) {
      ADD_FAILURE() << "read " << reads << ": length " << length;
      ++bad;
      break;
    }
    longReads += isLong;
    // Between a growth and the next publication the new part reads zero.
    const bool grown = isLong && dest[kShort] == 0.0;
    for (std::int64_t b = 0; b < length; ++b) {
      const double want = grown && b >= kShort ? 0.0 : k * 65536 + double(b);
      if (dest[b] != want) {
        ADD_FAILURE() << "read " << reads << ": element " << b << " is " << dest[b];
        ++bad;
        break;
      }
    }
  }
  stop = true;
  writer.join();
  RecordProperty("reads", reads);
  RecordProperty("longReads", longReads);
  EXPECT_GT(longReads, 0);
  EXPECT_LT(longReads, reads);
}

}  // namespace
}  // namespace bw
