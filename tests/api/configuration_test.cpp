// sdrSetGlobal's checks and derived sizes; sdrSetNewParam's version check;
// the read-outs of a stopped engine.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "brackwell/brackwell.h"
#include "core/configuration.h"
#include "audio/devices.h"
#include "support/engine_fixture.h"

namespace bw::test {
namespace {

using ConfigurationTest = EngineTest;

TEST_F(ConfigurationTest, ConsoleConfigurationDerivesEverySize) {
  ASSERT_EQ(sdrSetGlobal(1, 1, 4, 11, 48000, 16), 0);
  EXPECT_EQ(e().chain.blockSamples(), 2048);
  EXPECT_EQ(e().chain.fftLength(), 4096);
  EXPECT_EQ(e().bufferBytes, 8192);
  EXPECT_EQ(e().chain.binWidth(), 11.71875);
  EXPECT_EQ(e().waveFormat.wFormatTag, 1);
  EXPECT_EQ(e().waveFormat.nChannels, 2);
  EXPECT_EQ(e().waveFormat.nBlockAlign, 4);
  EXPECT_EQ(e().waveFormat.nAvgBytesPerSec, 192000u);
}

// Every accepted width, order and rate: buffers and spectrum of the sizes
// the format gives.
TEST_F(ConfigurationTest, EveryAcceptedFormatSizesEverything) {
  for (int bits : {8, 16, 24, 32}) {
    for (int order = 8; order <= 16; ++order) {
      for (int rate : {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000, 96000}) {
        ASSERT_EQ(configureFormat(3, order, rate, bits), SDR_OK);
        const int n = 1 << order, m = 2 * n;
        ASSERT_EQ(e().bufferBytes, n * 2 * bits / 8);
        ASSERT_EQ(e().spectrum.length, m);
        for (int slot = 0; slot < 3; ++slot) ASSERT_NE(e().captureBuffers[slot], nullptr);
      }
    }
  }
}

TEST_F(ConfigurationTest, RefusalsReturnTwoAfterRecordingTheDevices) {
  const int inputs = audio::numInDevices();
  const int outputs = audio::numOutDevices();
  EXPECT_EQ(sdrSetGlobal(0, 1, 4, 11, 48000, 16), 2);
  EXPECT_EQ(sdrSetGlobal(inputs + 1, 1, 4, 11, 48000, 16), 2);
  EXPECT_EQ(sdrSetGlobal(1, 0, 4, 11, 48000, 16), 2);
  EXPECT_EQ(sdrSetGlobal(1, outputs + 1, 4, 11, 48000, 16), 2);
  EXPECT_EQ(e().inputDevice, 0);  // nothing recorded

  const int bad[][4] = {{4, 7, 48000, 16},  {4, 17, 48000, 16}, {1, 11, 48000, 16},
                        {9, 11, 48000, 16}, {4, 11, 48000, 12}, {4, 11, 12000, 16},
                        {4, 11, 0, 16}};
  for (const auto& a : bad) {
    EXPECT_EQ(sdrSetGlobal(inputs, outputs, a[0], a[1], a[2], a[3]), 2)
        << a[0] << " " << a[1] << " " << a[2] << " " << a[3];
    EXPECT_EQ(e().inputDevice, inputs);  // recorded before the format check
    EXPECT_EQ(e().waveFormat.wFormatTag, 0);
  }
  EXPECT_EQ(sdrStart(nullptr), 5);
}

TEST_F(ConfigurationTest, RefusedWhileRunningAndSizesStay) {
  configure(11);
  e().runState = kRunning;
  EXPECT_EQ(sdrSetGlobal(1, 1, 4, 12, 48000, 16), 4);
  EXPECT_EQ(e().chain.fftLength(), 4096);
  e().runState = kStopped;
}

// Every field reaches the chain as sent, also values the chain will not use
// (an inverted band, NaN balance, unknown extension bits): only the version
// byte is checked.
TEST_F(ConfigurationTest, NewParamChecksOnlyTheVersionByte) {
  ReceiveParams sent = consoleParams();
  sent.lowCutHz = 9000;
  sent.highCutHz = -4;
  sent.tuneOffsetHz = -12345;
  sent.iqPhaseCoef = std::numeric_limits<double>::quiet_NaN();
  sent.iqGainCoef = -0.25;
  sent.squelchLevel = 7.5;
  sent.outputGain = -2.0;
  sent.extensions = 0xF0000001u;
  std::uint8_t block[65];
  encodeParams(sent, block);
  for (std::uint8_t version : {0, 3}) {
    block[0] = version;
    EXPECT_EQ(sdrSetNewParam(block), 2);
  }
  std::uint8_t unknownMode[SDR_PARAM_BLOCK_V2_BYTES];
  SdrReceiveModes modes{};
  modes.mode = SDR_MODE_COUNT;
  sdrEncodeParamsV2(&sent, &modes, unknownMode);
  EXPECT_EQ(sdrSetNewParam(unknownMode), 2);
  EXPECT_EQ(sdrSetNewParam(nullptr), 2);
  ReceiveParams read;
  readPendingParams(read);
  EXPECT_EQ(read.version, 0);  // nothing was taken
  EXPECT_EQ(read.flags, 0u);
  block[0] = 1;
  EXPECT_EQ(sdrSetNewParam(block), 0);
  readPendingParams(read);
  std::uint8_t back[65];
  encodeParams(read, back);
  EXPECT_EQ(std::vector<std::uint8_t>(back, back + 65),
            std::vector<std::uint8_t>(block, block + 65));

  // A version-2 block comes back whole, its tail included.
  SdrReceiveModes tail{SDR_MODE_FM, 650, 2500, SDR_TOOL_ALL, 8.0, 0.5, 0.25};
  std::uint8_t v2[SDR_PARAM_BLOCK_V2_BYTES], v2back[SDR_PARAM_BLOCK_V2_BYTES];
  sdrEncodeParamsV2(&sent, &tail, v2);
  EXPECT_EQ(sdrSetNewParam(v2), 0);
  readPendingParams(read);
  encodeParamsV2(read, v2back);
  EXPECT_EQ(std::vector<std::uint8_t>(v2back, v2back + sizeof v2back),
            std::vector<std::uint8_t>(v2, v2 + sizeof v2));
}

TEST_F(ConfigurationTest, StoppedEngineReadsOutNothing) {
  configure(11);
  std::vector<double> dest(4096, -7.0);
  EXPECT_EQ(sdrGetSpectrum(dest.data()), 3);
  EXPECT_EQ(dest, std::vector<double>(4096, -7.0));
  EXPECT_EQ(sdrGetSmetr(), 0.0);
  // After a stop the state is -1: the read-outs report the last values.
  ReceiveParams p = consoleParams();
  p.flags &= ~SDR_FLAG_AGC_ON;
  p.gain = 12.5;
  send(p);
  runBlock(std::vector<std::uint8_t>(e().bufferBytes, 0));
  e().runState = kNotifiedWhileStopped;
  EXPECT_EQ(sdrGetSmetr(), 12.5);
  EXPECT_EQ(sdrGetSpectrum(dest.data()), 0);
  EXPECT_EQ(dest[100], 0.0);  // a silent block
  e().runState = kStopped;
}

}  // namespace
}  // namespace bw::test
