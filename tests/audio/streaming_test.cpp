// sdrStart, the capture notification and sdrStop on the fake platform, with
// capture completions driven by hand.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>
#include <vector>

#include "brackwell/brackwell.h"
#include "core/engine_state.h"
#include "core/lifecycle.h"
#include "dsp/receive_params.h"
#include "audio/streaming.h"
#include "support/fake_audio_platform.h"

namespace bw {
namespace {

using audio::WaveHeader;

std::atomic<int> g_hookA{0}, g_hookB{0};
void hookA() { ++g_hookA; }
void hookB() { ++g_hookB; }

// Distinct bytes for every completed buffer.
void pattern(std::uint64_t index, std::uint8_t* data, std::uint32_t bytes) {
  for (std::uint32_t k = 0; k < bytes; ++k) {
    data[k] = static_cast<std::uint8_t>(k * 7 + index * 31 + (k >> 8));
  }
}
std::vector<std::uint8_t> patternBytes(std::uint64_t index, std::uint32_t bytes) {
  std::vector<std::uint8_t> v(bytes);
  pattern(index, v.data(), bytes);
  return v;
}

class StreamingTest : public ::testing::Test {
 protected:
  StreamingTest() : fake_({"Line In", "USB Codec"}, {"Speakers", "Headphones"}) {}
  void SetUp() override {
    engineAttach();
    g_hookA = 0;
    g_hookB = 0;
  }
  void TearDown() override { engineDetach(); }

  void configure(int in = 2, int out = 2) {
    ASSERT_EQ(sdrSetGlobal(in, out, 4, 11, 48000, 16), SDR_OK);
  }
  // Version 1 and flags 0: every block is a byte copy.
  void sendPassThrough() {
    ReceiveParams p;
    p.version = SDR_PARAM_VERSION;
    std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
    encodeParams(p, block);
    ASSERT_EQ(sdrSetNewParam(block), SDR_OK);
  }
  EngineState& e() { return engine(); }
  std::vector<const WaveHeader*> slots(std::initializer_list<int> order) {
    std::vector<const WaveHeader*> v;
    for (int s : order) v.push_back(&e().captureHeaders[s]);
    return v;
  }
  bool nothingOpen() { return fake_->openCaptures() == 0 && fake_->openPlaybacks() == 0; }

  test::ScopedFakeAudio fake_;
};

TEST_F(StreamingTest, StartQueuesTheRingInSlotOrderAndOpensBothDevices) {
  configure();
  ASSERT_EQ(sdrStart(nullptr), SDR_OK);
  EXPECT_EQ(e().runState.load(), kRunning);
  EXPECT_EQ(fake_->captureQueue(), slots({0, 1, 2, 3}));
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(e().captureHeaders[s].lpData, e().captureBuffers[s]);
    EXPECT_EQ(e().captureHeaders[s].dwBufferLength, 8192u);
    EXPECT_EQ(e().playbackHeaders[s].lpData, e().playbackBuffers[s]);
    EXPECT_TRUE(e().playbackHeaders[s].dwFlags.load() & audio::kHeaderPrepared);
  }
  ASSERT_EQ(fake_->opens.size(), 2u);
  EXPECT_EQ(fake_->opens[0].direction, audio::Direction::Capture);
  EXPECT_EQ(fake_->opens[1].direction, audio::Direction::Playback);
  for (const auto& o : fake_->opens) {
    EXPECT_EQ(o.format.wFormatTag, audio::kFormatPcm);
    EXPECT_EQ(o.format.nChannels, 2);
    EXPECT_EQ(o.format.nSamplesPerSec, 48000u);
    EXPECT_EQ(o.format.wBitsPerSample, 16);
    EXPECT_EQ(o.format.nBlockAlign, 4);
    EXPECT_EQ(o.bufferFrames, 2048u);  // the backend sizes its transfers to the blocks
  }
  EXPECT_TRUE(fake_->captureRunning());
  EXPECT_TRUE(fake_->written().empty());  // nothing is played before a block
}

TEST_F(StreamingTest, EachBlockGoesFromCaptureSlotToTheSamePlaybackSlotAsACopy) {
  configure();
  sendPassThrough();
  ASSERT_EQ(sdrStart(&hookA), SDR_OK);
  for (int k = 0; k < 9; ++k) {
    ASSERT_EQ(fake_->completeCapture(1, pattern), 1);
    const auto written = fake_->written();
    ASSERT_EQ(written.size(), std::size_t(k + 1));
    EXPECT_EQ(written[k].header, &e().playbackHeaders[k % 4]) << k;
    EXPECT_EQ(written[k].bytes, patternBytes(k, 8192)) << k;
    // The slot went back to the end of the capture queue.
    EXPECT_EQ(fake_->captureQueue().back(), &e().captureHeaders[k % 4]);
  }
  EXPECT_EQ(g_hookA.load(), 9);
}

TEST_F(StreamingTest, SeveralDoneSlotsInOneNotificationGoInIndexOrder) {
  configure();
  sendPassThrough();
  ASSERT_EQ(sdrStart(nullptr), SDR_OK);
  ASSERT_EQ(fake_->completeCapture(1, pattern), 1);  // slot 0
  ASSERT_EQ(fake_->completeCapture(1, pattern), 1);  // slot 1
  ASSERT_EQ(fake_->captureQueue(), slots({2, 3, 0, 1}));
  // Slots 2, 3 and 0 fill (buffers 2, 3, 4) before one notification: index
  // order processes 0 first.
  ASSERT_EQ(fake_->completeCapture(3, pattern), 3);
  const auto written = fake_->written();
  ASSERT_EQ(written.size(), 5u);
  const int expectSlot[] = {0, 2, 3};
  const int expectBuffer[] = {4, 2, 3};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(written[2 + k].header, &e().playbackHeaders[expectSlot[k]]);
    EXPECT_EQ(written[2 + k].bytes, patternBytes(expectBuffer[k], 8192));
  }
  EXPECT_EQ(fake_->captureQueue(), slots({1, 0, 2, 3}));
}

TEST_F(StreamingTest, AQueuedPlaybackSlotIsNotOverwritten) {
  configure();
  sendPassThrough();
  fake_->holdPlayback = true;  // playback falls a whole ring behind
  ASSERT_EQ(sdrStart(&hookA), SDR_OK);
  for (int k = 0; k < 4; ++k) fake_->completeCapture(1, pattern);
  ASSERT_EQ(fake_->written().size(), 4u);
  // Block 4 comes back to slot 0 while block 0 still waits to be played:
  // it is processed but its slot keeps block 0's bytes, and the loss is told.
  testing::internal::CaptureStderr();
  fake_->completeCapture(1, pattern);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("blocks dropped 1, silent gaps 0"),
            std::string::npos);
  EXPECT_EQ(g_hookA.load(), 5);
  EXPECT_EQ(fake_->written().size(), 4u);
  EXPECT_EQ(std::vector<std::uint8_t>(e().playbackBuffers[0], e().playbackBuffers[0] + 8192),
            patternBytes(0, 8192));
  EXPECT_EQ(audio::streamReport(engine().audio).lateOutputBlocks, 1u);
  EXPECT_EQ(fake_->captureQueue().back(), &e().captureHeaders[0]);
  // Once played, the slot is used again.
  fake_->finishPlayback();
  fake_->completeCapture(1, pattern);
  ASSERT_EQ(fake_->written().size(), 5u);
  EXPECT_EQ(fake_->written()[4].header, &e().playbackHeaders[1]);
  EXPECT_EQ(fake_->written()[4].bytes, patternBytes(5, 8192));
  EXPECT_EQ(sdrStop(), SDR_OK);
}

TEST_F(StreamingTest, APlaybackThatTakesNothingForSecondsEndsStreaming) {
  configure();
  sendPassThrough();
  fake_->holdPlayback = true;
  ASSERT_EQ(sdrStart(&hookA), SDR_OK);
  // Blocks of 2048 frames at 48 kHz.
  auto blocksFor = [](double seconds) { return int(seconds * 48000 / 2048); };
  std::vector<double> spectrum(4096);
  // Three seconds without playback progress is a slow playback, not a dead
  // one; once it plays again the count starts over.
  for (int k = 0; k < blocksFor(3.0); ++k) fake_->completeCapture(1, pattern);
  EXPECT_EQ(sdrGetSpectrum(spectrum.data()), SDR_OK);
  fake_->finishPlayback();
  for (int k = 0; k < blocksFor(3.0); ++k) fake_->completeCapture(1, pattern);
  EXPECT_EQ(sdrGetSpectrum(spectrum.data()), SDR_OK);
  // Five seconds: streaming ends as on a failed stream.
  for (int k = 0; k < blocksFor(2.0); ++k) fake_->completeCapture(1, pattern);
  EXPECT_EQ(sdrGetSpectrum(spectrum.data()), SDR_NOT_RUNNING);
  const int hooks = g_hookA.load();
  fake_->completeCapture(1, pattern);
  EXPECT_EQ(g_hookA.load(), hooks);
  EXPECT_EQ(sdrStop(), SDR_NOT_RUNNING);
  fake_->finishPlayback();
  ASSERT_EQ(sdrStart(&hookA), SDR_OK);
  EXPECT_EQ(sdrStop(), SDR_OK);
}

TEST_F(StreamingTest, RefusalsAndTheirCodes) {
  EXPECT_EQ(sdrStop(), SDR_NOT_RUNNING);
  EXPECT_EQ(sdrStart(&hookA), SDR_NOT_CONFIGURED);
  EXPECT_TRUE(fake_->opens.empty());
  EXPECT_EQ(e().blockHook.load(), nullptr);  // a refused start changes nothing

  configure();
  sendPassThrough();
  ASSERT_EQ(sdrStart(&hookA), SDR_OK);
  EXPECT_EQ(sdrStart(&hookB), SDR_RUNNING);
  EXPECT_EQ(fake_->opens.size(), 2u);
  fake_->completeCapture(1, pattern);
  EXPECT_EQ(g_hookA.load(), 1);
  EXPECT_EQ(g_hookB.load(), 0);
  EXPECT_EQ(sdrSetGlobal(2, 2, 4, 10, 48000, 16), SDR_RUNNING);

  EXPECT_EQ(sdrStop(), SDR_OK);
  EXPECT_EQ(sdrStop(), SDR_NOT_RUNNING);
  EXPECT_TRUE(nothingOpen());
}

TEST_F(StreamingTest, AfterStopTheReadoutsKeepTheLastValues) {
  configure();
  ReceiveParams p = consoleParams();
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  encodeParams(p, block);
  ASSERT_EQ(sdrSetNewParam(block), SDR_OK);
  std::vector<double> before(4096, -1.0), after(4096, -2.0);
  EXPECT_EQ(sdrGetSpectrum(before.data()), SDR_NOT_RUNNING);
  EXPECT_EQ(before[0], -1.0);  // untouched

  ASSERT_EQ(sdrStart(nullptr), SDR_OK);
  for (int k = 0; k < 3; ++k) fake_->completeCapture(1, pattern);
  ASSERT_EQ(sdrGetSpectrum(before.data()), SDR_OK);
  const double gain = sdrGetSmetr();

  ASSERT_EQ(sdrStop(), SDR_OK);
  // The reset and close notifications leave the state at -1, not 0.
  EXPECT_EQ(e().runState.load(), kNotifiedWhileStopped);
  ASSERT_EQ(sdrGetSpectrum(after.data()), SDR_OK);
  EXPECT_EQ(after, before);
  EXPECT_GT(before[1], 0.0);
  EXPECT_EQ(sdrGetSmetr(), gain);
  EXPECT_EQ(sdrStop(), SDR_NOT_RUNNING);
  EXPECT_TRUE(nothingOpen());
  for (int s = 0; s < 4; ++s) {
    EXPECT_FALSE(e().captureHeaders[s].dwFlags.load() & audio::kHeaderPrepared);
    EXPECT_FALSE(e().playbackHeaders[s].dwFlags.load() & audio::kHeaderPrepared);
  }
}

TEST_F(StreamingTest, StartAfterStopReopensWithTheSameRingAndClearsTails) {
  configure();
  // Fixed gain, no squelch: a block plays its input filtered plus the
  // previous block's overlap tail.
  ReceiveParams p = consoleParams();
  p.flags &= ~(SDR_FLAG_AGC_ON | SDR_FLAG_SQUELCH_ON);
  p.gain = 1.0;
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  encodeParams(p, block);
  ASSERT_EQ(sdrSetNewParam(block), SDR_OK);
  ASSERT_EQ(sdrStart(nullptr), SDR_OK);
  fake_->completeCapture(2, pattern);
  ASSERT_EQ(sdrStop(), SDR_OK);
  const std::vector<std::uint8_t> silence(8192, 0);
  ASSERT_NE(fake_->written().back().bytes, silence);

  ASSERT_EQ(sdrStart(nullptr), SDR_OK);
  EXPECT_EQ(fake_->captureQueue(), slots({0, 1, 2, 3}));
  ASSERT_EQ(fake_->opens.size(), 4u);
  EXPECT_EQ(fake_->opens[2].device, fake_->opens[0].device);
  EXPECT_EQ(fake_->opens[3].device, fake_->opens[1].device);
  // Field by field: the structure's padding bytes carry no value.
  const audio::WaveFormat& again = fake_->opens[2].format;
  const audio::WaveFormat& first = fake_->opens[0].format;
  EXPECT_EQ(std::tie(again.wFormatTag, again.nChannels, again.nSamplesPerSec,
                     again.nAvgBytesPerSec, again.nBlockAlign, again.wBitsPerSample,
                     again.cbSize),
            std::tie(first.wFormatTag, first.nChannels, first.nSamplesPerSec,
                     first.nAvgBytesPerSec, first.nBlockAlign, first.wBitsPerSample,
                     first.cbSize));
  // The ring works again from slot 0, and a silent block plays silence: the
  // tails of the first run are gone.
  fake_->completeCapture(1, [](std::uint64_t, std::uint8_t* data, std::uint32_t bytes) {
    std::memset(data, 0, bytes);
  });
  EXPECT_EQ(fake_->written().back().header, &e().playbackHeaders[0]);
  EXPECT_EQ(fake_->written().back().bytes, silence);
}

TEST_F(StreamingTest, DeviceOneOpensTheDefaultAndTwoTheFirstDevice) {
  fake_->defaultCapture = 1;
  fake_->defaultPlayback = 1;
  configure(1, 1);
  ASSERT_EQ(sdrStart(nullptr), SDR_OK);
  ASSERT_EQ(sdrStop(), SDR_OK);
  configure(2, 3);
  ASSERT_EQ(sdrStart(nullptr), SDR_OK);
  ASSERT_EQ(sdrStop(), SDR_OK);
  ASSERT_EQ(fake_->opens.size(), 4u);
  EXPECT_EQ(fake_->opens[0].device, 1);  // default capture
  EXPECT_EQ(fake_->opens[1].device, 1);  // default playback
  EXPECT_EQ(fake_->opens[2].device, 0);  // number 2
  EXPECT_EQ(fake_->opens[3].device, 1);  // number 3
}

TEST_F(StreamingTest, ADeviceThatRefusesGivesOneAndLeavesNothingOpen) {
  configure();
  for (int which = 0; which < 3; ++which) {
    fake_->failCaptureOpen = which == 0;
    fake_->failPlaybackOpen = which == 1;
    fake_->failCaptureStart = which == 2;
    EXPECT_EQ(sdrStart(nullptr), SDR_DEVICE_REFUSED) << which;
    EXPECT_NE(e().runState.load(), kRunning) << which;
    EXPECT_TRUE(nothingOpen()) << which;
    for (int s = 0; s < 4; ++s) {
      EXPECT_FALSE(e().captureHeaders[s].dwFlags.load() & audio::kHeaderPrepared);
      EXPECT_FALSE(e().playbackHeaders[s].dwFlags.load() & audio::kHeaderPrepared);
    }
    EXPECT_EQ(sdrStop(), SDR_NOT_RUNNING);
  }
  fake_->failCaptureStart = false;
  EXPECT_EQ(sdrStart(nullptr), SDR_OK);  // the devices open again
  EXPECT_EQ(fake_->captureQueue(), slots({0, 1, 2, 3}));
}

// A block held inside the hook: sdrStop must not close the devices under it.
std::atomic<bool> g_holdBlock{false}, g_inBlock{false};
std::atomic<int> g_stopFromHook{-1};
void holdingHook() {
  g_inBlock = true;
  while (g_holdBlock.load()) std::this_thread::yield();
}
void stoppingHook() { g_stopFromHook = sdrStop(); }

TEST_F(StreamingTest, StopWaitsForTheBlockInProgress) {
  configure();
  sendPassThrough();
  g_holdBlock = true;
  g_inBlock = false;
  ASSERT_EQ(sdrStart(&holdingHook), SDR_OK);
  std::thread device([&] { fake_->completeCapture(1, pattern); });
  while (!g_inBlock.load()) std::this_thread::yield();

  std::atomic<bool> stopped{false};
  std::atomic<int> stopStatus{-1};
  std::thread stopper([&] {
    stopStatus = sdrStop();
    stopped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(stopped.load());
  EXPECT_EQ(fake_->openCaptures(), 1);  // still open under the block
  g_holdBlock = false;
  stopper.join();
  device.join();
  EXPECT_EQ(stopStatus.load(), SDR_OK);
  EXPECT_TRUE(nothingOpen());
  // The block finished and queued its playback buffer before the close.
  ASSERT_EQ(fake_->written().size(), 1u);
  EXPECT_EQ(fake_->written()[0].bytes, patternBytes(0, 8192));
}

TEST_F(StreamingTest, StopFromInsideTheHookIsRefused) {
  configure();
  sendPassThrough();
  ASSERT_EQ(sdrStart(&stoppingHook), SDR_OK);
  fake_->completeCapture(1, pattern);
  EXPECT_EQ(g_stopFromHook.load(), SDR_RUNNING);
  EXPECT_EQ(e().runState.load(), kRunning);
  EXPECT_EQ(sdrStop(), SDR_OK);
}

}  // namespace
}  // namespace bw
