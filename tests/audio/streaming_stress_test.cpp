// Streaming while other threads send parameter blocks and read the spectrum
// and the signal reading at full speed, and while the engine is stopped,
// reconfigured and started again. Meant for the ThreadSanitizer build: any
// race shows up as a report; torn spectrum reads show up as checksums that
// were never published.
//
// A read's length is where the NaN marks begin, except for a read that
// overlapped a reconfiguration: an attempt that copied the longer snapshot
// and was retried after the shrink leaves its elements beyond the shorter
// length, so such a read is a whole state at one of the lengths in force.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <algorithm>
#include <limits>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "brackwell/brackwell.h"
#include "core/engine_state.h"
#include "core/lifecycle.h"
#include "dsp/receive_params.h"
#include "support/engine_fixture.h"

namespace bw {
namespace {

using namespace std::chrono_literals;

constexpr int kMaxLength = 4096;  // M at order 11; order 10 gives 2048

// FNV-1a over the length and the bytes of a spectrum.
std::uint64_t checksum(const double* values, std::int64_t length) {
  std::uint64_t h = 1469598103934665603ull;
  auto mix = [&](const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t k = 0; k < n; ++k) h = (h ^ b[k]) * 1099511628211ull;
  };
  mix(&length, sizeof length);
  mix(values, sizeof(double) * length);
  return h;
}

// Every state the spectrum snapshot takes, recorded by the only thread that
// writes it at that moment.
std::mutex g_publishedMutex;
std::set<std::uint64_t> g_published;

void recordSnapshot() {
  const SpectrumSnapshot& s = engine().spectrum;
  const std::uint64_t sum = checksum(s.values, s.length);
  std::lock_guard lock(g_publishedMutex);
  g_published.insert(sum);
}

// Odd while the main thread reconfigures (the snapshot may change length).
std::atomic<int> g_configuring{0};

// The hook runs at the start of each block, on the processing thread: the
// snapshot holds what the previous block published.
void hook() {
  test::countBlock();
  recordSnapshot();
}

TEST(StreamingStress, ParamsReadoutsAndRestartsWhileStreaming) {
  engineAttach();
  const test::SimulatedDevices devices = test::findSimulatedDevices();
  const int in = devices.in, out = devices.out;
  ASSERT_GT(in, 1);
  ASSERT_GT(out, 1);
  ASSERT_EQ(sdrSetGlobal(in, out, 4, 11, 48000, 16), SDR_OK);
  recordSnapshot();

  std::uint8_t blocks[2][SDR_PARAM_BLOCK_BYTES];
  ReceiveParams p = consoleParams();
  p.tuneOffsetHz = 6000;
  encodeParams(p, blocks[0]);
  p.tuneOffsetHz = -1500;
  p.flags ^= SDR_FLAG_FLUSH_TOGGLE;
  encodeParams(p, blocks[1]);
  ASSERT_EQ(sdrSetNewParam(blocks[0]), SDR_OK);
  ASSERT_EQ(sdrStart(&hook), SDR_OK);

  std::atomic<bool> done{false};
  std::atomic<long> paramsSent{0}, badStatus{0}, stoppedReads{0};
  std::thread sender([&] {
    for (int k = 0; !done.load(); ++k) {
      if (sdrSetNewParam(blocks[k & 1]) != SDR_OK) ++badStatus;
      ++paramsSent;
    }
  });
  // Each read's checksum at the marked length and, for a read across a
  // reconfiguration, at the shorter length (0 when there is none).
  struct Read {
    std::uint64_t marked, shorterLength;
  };
  auto shorter = [](const double* values, std::int64_t length) -> std::uint64_t {
    return length > kMaxLength / 2 ? checksum(values, kMaxLength / 2) : 0;
  };
  std::vector<Read> reads;
  std::thread reader([&] {
    // NaN marks the end of what a read wrote: the length varies with M.
    std::vector<double> spectrum(2 * kMaxLength);
    const double mark = std::numeric_limits<double>::quiet_NaN();
    while (!done.load()) {
      std::fill(spectrum.begin(), spectrum.begin() + kMaxLength + 1, mark);
      const int configuringBefore = g_configuring.load();
      const int status = sdrGetSpectrum(spectrum.data());
      const bool acrossResize =
          (configuringBefore & 1) || g_configuring.load() != configuringBefore;
      if (status == SDR_NOT_RUNNING) {
        // Inside sdrStop, between runState 0 and the reset notifications.
        ++stoppedReads;
        continue;
      }
      if (status != SDR_OK) ++badStatus;
      std::int64_t length = 0;
      while (length <= kMaxLength && !std::isnan(spectrum[length])) ++length;
      reads.push_back({checksum(spectrum.data(), length),
                       acrossResize ? shorter(spectrum.data(), length) : 0});
      if (!std::isfinite(sdrGetSmetr())) ++badStatus;
    }
  });

  std::this_thread::sleep_for(300ms);
  std::chrono::steady_clock::duration longestStop{};
  int cycles = 0;
  for (; cycles < 50; ++cycles) {
    // Stop while blocks are coming: after one to two buffer periods.
    std::this_thread::sleep_for(std::chrono::milliseconds(45 + 9 * (cycles % 5)));
    const auto stopBegins = std::chrono::steady_clock::now();
    if (sdrStop() != SDR_OK) break;
    longestStop = std::max(longestStop, std::chrono::steady_clock::now() - stopBegins);
    recordSnapshot();  // what the last block left
    // Another ring and order each time: 3 x 1024 frames, 4 x 2048 frames.
    ++g_configuring;
    const int configured = sdrSetGlobal(in, out, cycles % 2 ? 4 : 3,
                                        cycles % 2 ? 11 : 10, 48000, 16);
    recordSnapshot();  // the resized snapshot
    ++g_configuring;
    if (configured != SDR_OK) break;
    if (sdrStart(&hook) != SDR_OK) break;
  }
  std::this_thread::sleep_for(200ms);
  done = true;
  sender.join();
  reader.join();
  EXPECT_EQ(sdrStop(), SDR_OK);
  recordSnapshot();
  engineDetach();

  EXPECT_EQ(cycles, 50);
  RecordProperty("blocks", int(test::g_blocks.load()));
  RecordProperty("reads", int(reads.size()));
  RecordProperty("stoppedReads", int(stoppedReads.load()));
  RecordProperty("paramsSent", int(paramsSent.load()));
  RecordProperty("longestStopMs", int(std::chrono::duration_cast<std::chrono::milliseconds>(longestStop).count()));
  EXPECT_EQ(badStatus.load(), 0);
  EXPECT_GT(paramsSent.load(), 1000);
  ASSERT_GT(reads.size(), 100u);
  std::size_t unknown = 0, acrossResize = 0;
  for (const Read& r : reads) {
    acrossResize += r.shorterLength != 0;
    unknown += g_published.count(r.marked) == 0 &&
               (r.shorterLength == 0 || g_published.count(r.shorterLength) == 0);
  }
  RecordProperty("readsAcrossResize", int(acrossResize));
  EXPECT_EQ(unknown, 0u) << "of " << reads.size() << " reads, "
                         << g_published.size() << " published states";
}

}  // namespace
}  // namespace bw
