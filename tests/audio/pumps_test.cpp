// The capture and playback mechanics under the sound-card and simulated
// backends, with the producer and consumer driven by the test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <numeric>
#include <thread>
#include <vector>

#include "audio/byte_fifo.h"
#include "audio/pumped_capture.h"
#include "audio/pumped_playback.h"
#include "audio/software_volume.h"
#include "primitives/pcm_codec.h"

namespace bw::audio {
namespace {

WaveFormat stereo(int bits, std::uint32_t rate = 8000) {
  WaveFormat f;
  f.wFormatTag = kFormatPcm;
  f.nChannels = 2;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = static_cast<std::uint16_t>(bits);
  f.nBlockAlign = static_cast<std::uint16_t>(2 * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

struct Slot {
  std::vector<std::uint8_t> data;
  WaveHeader header;
  explicit Slot(std::size_t bytes) : data(bytes) {
    header.lpData = data.data();
    header.dwBufferLength = static_cast<std::uint32_t>(bytes);
    prepareHeader(header);
  }
};

TEST(ByteFifo, KeepsOrderAcrossTheWrapAndRefusesWhatDoesNotFit) {
  ByteFifo fifo(16);
  ASSERT_EQ(fifo.capacity(), 16u);
  std::vector<std::uint8_t> in(40), out(40);
  std::iota(in.begin(), in.end(), 0);
  std::size_t written = 0, read = 0;
  for (int round = 0; round < 8; ++round) {  // 5 in, 5 out: wraps repeatedly
    ASSERT_TRUE(fifo.write(&in[written % 35], 5));
    written += 5;
    ASSERT_EQ(fifo.read(&out[0], 5), 5u);
    for (int k = 0; k < 5; ++k) ASSERT_EQ(out[k], in[(read % 35) + k]);
    read += 5;
  }
  ASSERT_TRUE(fifo.write(in.data(), 12));
  EXPECT_FALSE(fifo.write(in.data(), 5));  // 12 + 5 > 16: nothing written
  EXPECT_EQ(fifo.size(), 12u);
  EXPECT_EQ(fifo.read(out.data(), 40), 12u);
}

TEST(SoftwareVolume, ScalesEachChannelAtItsWidth) {
  // left 0x8000/0xFFFF (0.50001), right 0.
  const std::uint32_t volume = 0x00008000u;
  const double g = 32768.0 / 65535.0;
  for (int bits : {8, 16, 24, 32}) {
    const int bytes = bits / 8;
    const std::int32_t top = static_cast<std::int32_t>((1LL << (bits - 1)) - 1);
    std::vector<std::uint8_t> pcm(4 * bytes);
    pcm::write(&pcm[0], bits, top);
    pcm::write(&pcm[bytes], bits, top);
    pcm::write(&pcm[2 * bytes], bits, -top - 1);
    pcm::write(&pcm[3 * bytes], bits, -7);
    applyVolume(pcm.data(), 2, bits, volume);
    EXPECT_EQ(pcm::read(&pcm[0], bits), std::lround(top * g)) << bits;
    EXPECT_EQ(pcm::read(&pcm[bytes], bits), 0) << bits;
    EXPECT_EQ(pcm::read(&pcm[2 * bytes], bits), std::lround((-top - 1) * g)) << bits;
    EXPECT_EQ(pcm::read(&pcm[3 * bytes], bits), 0) << bits;
  }
  std::vector<std::uint8_t> silent8 = {0x80, 0x80};
  applyVolume(silent8.data(), 1, 8, 0x12341234u);
  EXPECT_EQ(silent8, (std::vector<std::uint8_t>{0x80, 0x80}));
}

// Playback with the consumer driven by hand.
class ManualPlayback : public PumpedPlaybackStream {
 public:
  using PumpedPlaybackStream::PumpedPlaybackStream;
  using PumpedPlaybackStream::noteUnderrun;
  using PumpedPlaybackStream::readyFrames;
  using PumpedPlaybackStream::render;
  int starts = 0, stops = 0;

 protected:
  Result startConsumer() override { ++starts; return Result::Ok; }
  void stopConsumer() override { ++stops; }
};

TEST(PumpedPlayback, PlaysInWriteOrderAfterOneBufferOfSilence) {
  const std::atomic<std::uint32_t> volume{0xFFFFFFFFu};
  ManualPlayback p(stereo(8), &volume);
  std::vector<std::uint8_t> out(12);
  p.render(out.data(), 6);  // nothing written yet: silence, not an underrun
  p.noteUnderrun();         // nor the device's gap then
  EXPECT_EQ(out, std::vector<std::uint8_t>(12, 0x80));
  EXPECT_EQ(p.readyFrames(), 0u);

  Slot a(8), b(8);  // 4 frames each
  std::fill(a.data.begin(), a.data.end(), 1);
  std::fill(b.data.begin(), b.data.end(), 2);
  ASSERT_EQ(p.write(a.header), Result::Ok);
  ASSERT_EQ(p.write(b.header), Result::Ok);
  EXPECT_EQ(p.write(a.header), Result::InvalidState);  // already queued
  EXPECT_TRUE(a.header.dwFlags.load() & kHeaderInQueue);

  std::vector<std::uint8_t> played;
  for (int k = 0; k < 4; ++k) {  // 3 frames at a time: 12 frames in all
    EXPECT_EQ(p.readyFrames(), 12u - 3 * k);  // the pre-roll counts
    p.render(out.data(), 3);
    played.insert(played.end(), out.begin(), out.begin() + 6);
  }
  std::vector<std::uint8_t> expect(8, 0x80);  // one buffer of pre-roll
  expect.insert(expect.end(), 8, 1);
  expect.insert(expect.end(), 8, 2);
  EXPECT_EQ(played, expect);
  EXPECT_TRUE(a.header.dwFlags.load() & kHeaderDone);
  EXPECT_TRUE(b.header.dwFlags.load() & kHeaderDone);
  EXPECT_EQ(p.counters().underruns, 0u);
  EXPECT_EQ(p.counters().buffers, 2u);

  p.render(out.data(), 2);  // nothing queued any more
  EXPECT_EQ(out[0], 0x80);
  p.noteUnderrun();
  EXPECT_EQ(p.counters().underruns, 2u);
}

TEST(PumpedPlayback, AQueueTargetStartsAfterItsSilenceAndTrimsABacklogOnceAWindow) {
  // What a device given only what is ready still holds is part of the
  // margin: holding more than the target, it has the whole backlog go.
  struct Case { std::size_t device, least, most; };
  for (const Case c : {Case{0, 55, 62}, Case{10, 64, 64}}) {
    SCOPED_TRACE(c.device);
    const std::atomic<std::uint32_t> volume{0xFFFFFFFFu};
    ManualPlayback p(stereo(8), &volume);  // 8000 frames a second
    p.keepQueueNear(2);
    // Four buffers of 16 frames, each queued again as soon as it has played: a
    // backlog of 49 to 64 frames that nothing else would ever shrink. The rate
    // matcher reads ahead of it by more than is queued, which is no underrun.
    Slot slots[] = {Slot(32), Slot(32), Slot(32), Slot(32)};
    for (int k = 0; k < 4; ++k) {
      std::fill(slots[k].data.begin(), slots[k].data.end(), std::uint8_t(k + 1));
      ASSERT_EQ(p.write(slots[k].header), Result::Ok);
    }
    EXPECT_EQ(p.readyFrames(), 64u + 2);  // the target's silence first
    std::vector<std::uint8_t> out(2), first;
    // The window is 8 buffers here (128 frames), shorter than a second.
    for (int n = 0; n < 132; ++n) {
      EXPECT_TRUE(n != 127 || p.counters().trimmedFrames == 0);
      p.render(out.data(), 1, c.device);
      if (n < 4) first.push_back(out[0]);
      for (Slot& s : slots) {
        if (s.header.dwFlags.load() & kHeaderDone) {
          ASSERT_EQ(p.write(s.header), Result::Ok);
        }
      }
    }
    EXPECT_EQ(first, (std::vector<std::uint8_t>{0x80, 0x80, 1, 1}));
    // After the window, the fewest queued (up to 64 frames, with what the rate
    // matcher has taken ahead) less the target: once. Had its reading ahead
    // raised what the queue keeps, by up to a buffer, less would go.
    EXPECT_GE(p.counters().trimmedFrames, c.least);
    EXPECT_LE(p.counters().trimmedFrames, c.most);
    EXPECT_EQ(p.counters().underruns, 0u);
  }
}

TEST(PumpedPlayback, ResetReturnsQueuedBuffersAndCloseNeedsAnEmptyQueue) {
  ManualPlayback p(stereo(16), nullptr);
  Slot a(16);
  ASSERT_EQ(p.write(a.header), Result::Ok);
  EXPECT_EQ(p.close(), Result::InvalidState);
  ASSERT_EQ(p.reset(), Result::Ok);
  EXPECT_EQ(a.header.dwFlags.load() & (kHeaderDone | kHeaderInQueue), kHeaderDone);
  EXPECT_EQ(p.starts, 1);  // plays on (silence) after a reset
  EXPECT_EQ(unprepareHeader(a.header), Result::Ok);
  EXPECT_EQ(p.write(a.header), Result::InvalidState);  // not prepared
  EXPECT_EQ(p.close(), Result::Ok);
}

// Capture with the producer driven by hand.
class ManualCapture : public PumpedCaptureStream {
 public:
  using PumpedCaptureStream::deliver;
  ManualCapture(const WaveFormat& format, CaptureNotify notify, std::uintptr_t instance)
      : PumpedCaptureStream(format, notify, instance, Scheduling::Normal) {}
  ~ManualCapture() override = default;

 protected:
  Result startProducer() override { return Result::Ok; }
  void stopProducer() override {}
};

struct Notes {
  std::atomic<int> data{0}, opened{0}, closed{0};
  std::vector<WaveHeader*> order;  // data notifications (one thread at a time)
  std::vector<std::uint8_t> firstBytes;
};

void note(CaptureStream&, std::uint32_t message, std::uintptr_t instance,
          WaveHeader* h) {
  auto* n = reinterpret_cast<Notes*>(instance);
  if (message == kCaptureOpened) ++n->opened;
  if (message == kCaptureClosed) ++n->closed;
  if (message == kCaptureData) {
    n->order.push_back(h);
    n->firstBytes.push_back(h->lpData[0]);
    ++n->data;
  }
}

void waitFor(const std::atomic<int>& v, int value) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (v.load() < value && std::chrono::steady_clock::now() < until) {
    std::this_thread::yield();
  }
}

TEST(PumpedCapture, FillsQueuedBuffersInQueueOrderAcrossDeliveries) {
  Notes notes;
  ManualCapture c(stereo(16), &note, reinterpret_cast<std::uintptr_t>(&notes));
  c.announceOpen();
  EXPECT_EQ(notes.opened.load(), 1);
  Slot s0(8), s1(8), s2(8);
  ASSERT_EQ(c.add(s1.header), Result::Ok);  // queue order, not slot order
  ASSERT_EQ(c.add(s0.header), Result::Ok);
  ASSERT_EQ(c.add(s2.header), Result::Ok);
  ASSERT_EQ(c.start(), Result::Ok);
  // 20 bytes in pieces of 4 and 12 and 4 (whole frames): two buffers and a
  // half, the half after the two are done, too little to finish a buffer.
  std::vector<std::uint8_t> bytes(20);
  std::iota(bytes.begin(), bytes.end(), 10);
  c.deliver(&bytes[0], 4);
  c.deliver(&bytes[4], 12);
  waitFor(notes.data, 2);
  c.deliver(&bytes[16], 4);
  ASSERT_EQ(c.stop(), Result::Ok);
  ASSERT_EQ(notes.data.load(), 2);
  EXPECT_EQ(notes.order, (std::vector<WaveHeader*>{&s1.header, &s0.header}));
  EXPECT_EQ(std::vector<std::uint8_t>(s1.data.begin(), s1.data.end()),
            std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8));
  EXPECT_EQ(std::vector<std::uint8_t>(s0.data.begin(), s0.data.end()),
            std::vector<std::uint8_t>(bytes.begin() + 8, bytes.begin() + 16));
  EXPECT_EQ(s1.header.dwFlags.load() & (kHeaderDone | kHeaderInQueue), kHeaderDone);
  EXPECT_EQ(s1.header.dwBytesRecorded, 8u);

  EXPECT_EQ(c.close(), Result::InvalidState);  // s2 still queued
  ASSERT_EQ(c.reset(), Result::Ok);  // returns s2, half filled
  ASSERT_EQ(notes.data.load(), 3);
  EXPECT_EQ(notes.order.back(), &s2.header);
  EXPECT_EQ(s2.header.dwBytesRecorded, 4u);
  EXPECT_TRUE(s2.header.dwFlags.load() & kHeaderDone);
  EXPECT_EQ(c.close(), Result::Ok);
  EXPECT_EQ(notes.closed.load(), 1);
  EXPECT_EQ(c.counters().overruns, 0u);
  EXPECT_EQ(c.counters().buffers, 2u);
}

TEST(PumpedCapture, DataWithNoQueuedBufferIsAnOverrun) {
  Notes notes;
  ManualCapture c(stereo(16), &note, reinterpret_cast<std::uintptr_t>(&notes));
  ASSERT_EQ(c.start(), Result::Ok);
  std::vector<std::uint8_t> bytes(8, 1);
  c.deliver(bytes.data(), bytes.size());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (c.counters().overruns == 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::yield();
  }
  EXPECT_EQ(c.counters().overruns, 1u);
  // The dropped bytes are not found later by a buffer.
  Slot s(8);
  ASSERT_EQ(c.stop(), Result::Ok);
  ASSERT_EQ(c.add(s.header), Result::Ok);
  ASSERT_EQ(c.reset(), Result::Ok);
  EXPECT_EQ(s.header.dwBytesRecorded, 0u);
  // More than a second waiting: the producer drops and counts.
  std::vector<std::uint8_t> second(2 * 8000 * 4);
  c.deliver(second.data(), second.size());
  EXPECT_EQ(c.counters().overruns, 2u);
  EXPECT_EQ(c.close(), Result::Ok);
}

}  // namespace
}  // namespace bw::audio
