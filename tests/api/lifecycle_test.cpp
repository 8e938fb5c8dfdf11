// Start-up and tear-down: initial tables, and what happens when the signal
// library cannot be bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "core/configuration.h"
#include "core/engine_state.h"
#include "core/lifecycle.h"
#include "core/signal_library.h"
#include "core/receiver.h"
#include "support/engine_fixture.h"

namespace bw::test {
namespace {

using LifecycleTest = EngineTest;

TEST_F(LifecycleTest, FreshEngineHasTenEmptySlots) {
  EXPECT_TRUE(e().nsp.complete());
  EXPECT_EQ(e().spectrum.length, 2);
  ASSERT_EQ(e().captureHeaders.size(), 10u);
  ASSERT_EQ(e().playbackBuffers.size(), 10u);
  for (int slot = 0; slot < 10; ++slot) {
    EXPECT_EQ(e().captureBuffers[slot], nullptr);
    EXPECT_EQ(e().playbackHeaders[slot].lpData, nullptr);
    EXPECT_EQ(e().playbackHeaders[slot].dwFlags.load(), 0u);
  }
  EXPECT_EQ(e().runState.load(), kStopped);
  EXPECT_EQ(e().waveFormat.wFormatTag, 0);
}

TEST_F(LifecycleTest, BindingIsExactAndCaseSensitive) {
  const auto table = signalLibraryExports();
  EXPECT_NE(findNamedExport(table, "nspdMax"), nullptr);
  EXPECT_EQ(findNamedExport(table, "nspdmax"), nullptr);
  EXPECT_EQ(findNamedExport(table, "nspdMa"), nullptr);
  EXPECT_EQ(findNamedExport(table, "nspdMaxx"), nullptr);
  EXPECT_EQ(findNamedExport(table, nullptr), nullptr);
}

TEST_F(LifecycleTest, MissingPrimitiveBindsNothingAndTheChainStaysSilent) {
  std::vector<NamedExport> table(signalLibraryExports().begin(),
                                 signalLibraryExports().end());
  table.erase(std::find_if(table.begin(), table.end(), [](const NamedExport& x) {
    return std::string_view(x.name) == "nspdbThresh1";
  }));
  testing::internal::CaptureStderr();
  engineAttach(table);  // loading still succeeds
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: No nsp.dll\n");
  EXPECT_FALSE(e().nsp.complete());
  EXPECT_EQ(e().nsp.nspzrFftNip, nullptr);  // nothing bound at all

  configure(11);
  std::vector<double> spectrumBefore(e().spectrum.values, e().spectrum.values + 4096);
  ReceiveParams p = consoleParams();
  p.flags &= ~SDR_FLAG_AGC_ON;
  p.gain = 3.0;  // would become the reading if the chain ran
  send(p);
  const auto out = runBlock(std::vector<std::uint8_t>(e().bufferBytes, 0x5A));
  EXPECT_EQ(out, std::vector<std::uint8_t>(e().bufferBytes, 0));
  EXPECT_EQ(e().chain.reading(), 0.0);
  EXPECT_EQ(std::vector<double>(e().spectrum.values, e().spectrum.values + 4096),
            spectrumBefore);
}

TEST_F(LifecycleTest, DetachAndAttachAgainGivesAFreshEngine) {
  configure(11);
  send(consoleParams());
  runBlock(std::vector<std::uint8_t>(e().bufferBytes, 1));
  engineDetach();
  EXPECT_FALSE(engineAttached());
  engineDetach();  // harmless when not attached
  engineAttach();
  EXPECT_EQ(e().chain.fftLength(), 0);
  EXPECT_EQ(e().bufferBytes, 0);
  EXPECT_EQ(e().spectrum.length, 2);
}

}  // namespace
}  // namespace bw::test
