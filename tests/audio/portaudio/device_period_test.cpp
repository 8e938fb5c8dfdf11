// The frames a sound-card stream moves per callback, at every block size
// and rate the engine can be configured with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "audio/portaudio/device_period.h"

namespace bw::audio {
namespace {

TEST(CallbackFrames, DivideTheBlockStayShortAndStillCutTheWakeUps) {
  const std::uint32_t rates[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 96000};
  for (int order = 8; order <= 16; ++order) {
    for (const std::uint32_t rate : rates) {
      SCOPED_TRACE(testing::Message() << "order " << order << ", " << rate << " Hz");
      const std::uint32_t block = 1u << order;
      const std::uint32_t frames = callbackFrames(block, rate);
      ASSERT_GT(frames, 0u);
      // Every block completes with one callback; playback never asks for
      // more than one block.
      EXPECT_EQ(block % frames, 0u);
      // Short next to the device latency.
      EXPECT_LE(double(frames) / rate, kLongestPeriodSeconds);
      // Small blocks get short periods: at most a quarter block.
      EXPECT_LE(frames, block / 4);
      // Not needlessly short: a quarter block, or at least half the longest
      // period.
      EXPECT_TRUE(frames == block / 4 || double(frames) / rate > kLongestPeriodSeconds / 2)
          << frames << " frames";
    }
  }
  EXPECT_EQ(callbackFrames(2048, 48000), 256u);  // the console's blocks: 5.3 ms
  EXPECT_EQ(callbackFrames(512, 48000), 128u);   // the low-latency blocks: 2.7 ms
}

TEST(CallbackFrames, LeavesTheChoiceToTheLibraryWithoutAUsableDivisor) {
  EXPECT_EQ(callbackFrames(0, 48000), 0u);
  EXPECT_EQ(callbackFrames(2048, 0), 0u);
  EXPECT_EQ(callbackFrames(1000, 48000), 0u);  // 8 frames at most divide it
  EXPECT_EQ(callbackFrames(3 * 256, 48000), 128u);
  EXPECT_EQ(deviceLatency(0, 48000, 0.035), 0.035);
}

TEST(DeviceLatency, TwoPeriodsButNeverBelowTheShortest) {
  EXPECT_DOUBLE_EQ(deviceLatency(2048, 48000, 0.035), 2 * 2048 / 48000.0);
  EXPECT_EQ(deviceLatency(256, 48000, 0.035), kShortestLatencySeconds);
}

}  // namespace
}  // namespace bw::audio
