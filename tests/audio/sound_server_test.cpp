// Live reception through a real sound server: a private PulseAudio daemon
// (tests/support/private_pulse.h) reached through PortAudio's ALSA pulse
// plugin, as on a desktop.
#include <gtest/gtest.h>

#include <string>

#include "brackwell/brackwell.h"
#include "core/lifecycle.h"
#include "support/private_pulse.h"

namespace bw {
namespace {

class SoundServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = test::PrivatePulse::missingTools();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_TRUE(pulse_.start()) << pulse_.error();
    pulse_.exportEnvironment();
    engineAttach();
  }
  void TearDown() override {
    if (engineAttached()) engineDetach();
  }

  test::PrivatePulse pulse_;
};

TEST_F(SoundServerTest, ThePrivateServerIsListedInBothDirections) {
  auto named = [](auto count, auto name) {
    for (int d = 2; d <= count(); ++d) {
      if (std::string(name(d)) == "pulse") return true;
    }
    return false;
  };
  EXPECT_TRUE(named(sdrGetNumInDevice, sdrGetNameInDevice));
  EXPECT_TRUE(named(sdrGetNumOutDevice, sdrGetNameOutDevice));
}

}  // namespace
}  // namespace bw
