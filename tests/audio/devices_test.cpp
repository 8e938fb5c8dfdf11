// Device, mixer and volume queries through the exports, on the fake platform
// and on this machine's own platform.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "brackwell/brackwell.h"
#include "core/lifecycle.h"
#include "audio/audio_layer.h"
#include "audio/simulated/simulated_backend.h"
#include "support/fake_audio_platform.h"

namespace bw {
namespace {

const std::string kFull32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345";  // 32, no NUL room

class DevicesTest : public ::testing::Test {
 protected:
  DevicesTest()
      : fake_({"Line In", kFull32}, {"Speakers", kFull32 + "-and-more"},
              {"Card A", "Card B"}) {}
  void SetUp() override { engineAttach(); }
  void TearDown() override { engineDetach(); }
  test::ScopedFakeAudio fake_;
};

TEST_F(DevicesTest, NumbersCountTheDefaultThenThePlatformDevices) {
  EXPECT_EQ(sdrGetNumInDevice(), 3);
  EXPECT_EQ(sdrGetNumOutDevice(), 3);
  // 1 is the default device (index 0 here), 2 and 3 the platform's 0 and 1.
  EXPECT_STREQ(sdrGetNameInDevice(1), "Line In");
  EXPECT_STREQ(sdrGetNameInDevice(2), "Line In");
  EXPECT_STREQ(sdrGetNameOutDevice(2), "Speakers");
  fake_->defaultCapture = 1;
  EXPECT_STREQ(sdrGetNameInDevice(1), kFull32.c_str());
}

TEST_F(DevicesTest, NamesAreCutToThirtyTwoCharacters) {
  // A name that fills the whole field without a NUL, and a longer one.
  EXPECT_STREQ(sdrGetNameInDevice(3), kFull32.c_str());
  EXPECT_STREQ(sdrGetNameOutDevice(3), kFull32.c_str());
}

TEST_F(DevicesTest, NumbersWithoutADeviceGiveEmptyText) {
  for (int n : {0, -1, 4, 1000, INT32_MIN}) {
    EXPECT_STREQ(sdrGetNameInDevice(n), "") << n;
    EXPECT_STREQ(sdrGetNameOutDevice(n), "") << n;
  }
  fake_->defaultPlayback = audio::kNoDevice;
  EXPECT_STREQ(sdrGetNameOutDevice(1), "");
}

TEST_F(DevicesTest, NameTextBelongsToTheCallingThread) {
  const char* mine = sdrGetNameInDevice(2);
  std::string theirs;
  std::thread([&] { theirs = sdrGetNameOutDevice(3); }).join();
  EXPECT_STREQ(mine, "Line In");
  EXPECT_EQ(theirs, kFull32);
}

TEST_F(DevicesTest, MixersCountFromOneWithoutADefault) {
  EXPECT_EQ(sdrGetNumMixer(), 2);
  EXPECT_STREQ(sdrGetNameMixer(1), "Card A");
  EXPECT_STREQ(sdrGetNameMixer(2), "Card B");
  EXPECT_STREQ(sdrGetNameMixer(0), "");
  EXPECT_STREQ(sdrGetNameMixer(3), "");
}

TEST_F(DevicesTest, VolumeIsKeptPerDeviceAndDefaultIsTheDefaultDevice) {
  EXPECT_EQ(sdrGetOutVolume(2), 0xFFFFFFFFu);
  EXPECT_EQ(sdrSetOutVolume(3, 0x12345678u), 0);
  EXPECT_EQ(sdrGetOutVolume(3), 0x12345678u);
  EXPECT_EQ(sdrGetOutVolume(2), 0xFFFFFFFFu);
  EXPECT_EQ(sdrSetOutVolume(1, 0x00010002u), 0);  // the default: index 0
  EXPECT_EQ(sdrGetOutVolume(2), 0x00010002u);
  // No device: 0 read, the set does nothing and still answers 0.
  EXPECT_EQ(sdrSetOutVolume(9, 5), 0);
  EXPECT_EQ(sdrGetOutVolume(9), 0u);
  EXPECT_EQ(sdrGetOutVolume(0), 0u);
}

TEST(DevicesWithoutAny, CountsAreOneAndEverythingIsEmpty) {
  engineAttach();
  {
    test::ScopedFakeAudio fake({}, {});
    EXPECT_EQ(sdrGetNumInDevice(), 1);
    EXPECT_EQ(sdrGetNumOutDevice(), 1);
    EXPECT_STREQ(sdrGetNameInDevice(1), "");
    EXPECT_EQ(sdrGetNumMixer(), 0);
    EXPECT_STREQ(sdrGetNameMixer(1), "");
    EXPECT_EQ(sdrGetOutVolume(1), 0u);
    // Nothing to open: a configuration naming device 2 is refused.
    EXPECT_EQ(sdrSetGlobal(2, 1, 4, 11, 48000, 16), SDR_BAD_ARGUMENT);
  }
  engineDetach();
}

// This machine's own platform: the sound cards, then the simulated pair.
TEST(SystemDevices, SimulatedPairIsListedLastAndStartsQuietly) {
  engineAttach();
  audio::endSystemPlatform();  // so the next query starts the sound system
  testing::internal::CaptureStderr();
  const int in = sdrGetNumInDevice();
  const int out = sdrGetNumOutDevice();
  const int mixers = sdrGetNumMixer();
  const std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_EQ(printed, "") << "the sound libraries printed while probing";

  ASSERT_GE(in, 2);
  ASSERT_GE(out, 2);
  EXPECT_STREQ(sdrGetNameInDevice(in), audio::kSimulatedCaptureName);
  EXPECT_STREQ(sdrGetNameOutDevice(out), audio::kSimulatedPlaybackName);
  if (in == 2) {  // no sound card: the default is the simulated device
    EXPECT_STREQ(sdrGetNameInDevice(1), audio::kSimulatedCaptureName);
  }
  if (out == 2) {
    EXPECT_STREQ(sdrGetNameOutDevice(1), audio::kSimulatedPlaybackName);
  }
  for (int k = 1; k <= mixers; ++k) EXPECT_STRNE(sdrGetNameMixer(k), "") << k;
  engineDetach();
}

}  // namespace
}  // namespace bw
