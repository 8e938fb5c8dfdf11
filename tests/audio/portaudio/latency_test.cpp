// Capture to playback through a private sound server, as a listener hears
// it (tests/support/latency_probe.h), on the default devices (through
// libpulse, or PortAudio's ALSA plugin with BW_SOUND_SERVER=alsa). The
// bounds are loose, for a loaded machine;
// the figures themselves are printed, and bw_live_latency measures them in
// full.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "brackwell/brackwell.h"
#include "audio/streaming.h"
#include "core/engine_state.h"
#include "core/lifecycle.h"
#include "support/latency_probe.h"

namespace bw {
namespace {

struct Case {
  test::SoundServer server;
  int order;
  double medianBoundMs;  // well above what is reached, below the old queueing
};

class LoopbackLatency : public ::testing::TestWithParam<Case> {};

TEST_P(LoopbackLatency, BurstsAreHeardWithinTheBound) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "real-time loopback: the sanitizers slow the chain below real time";
#endif
  const Case c = GetParam();
  const std::string missing = test::PrivatePulse::missingTools(c.server);
  if (!missing.empty()) GTEST_SKIP() << missing;
  test::PrivatePulse server(c.server, test::Sinks::OneMonitor);
  ASSERT_TRUE(server.start()) << server.error();
  server.exportEnvironment();
  engineAttach();
  ASSERT_EQ(test::startFixedGainReceiver(1, 1, c.order), SDR_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const test::LatencyFigures f = test::measureLatency(server, {.repeats = 10, .spacingMs = 250});
  const audio::StreamReport report = audio::streamReport(engine().audio);
  EXPECT_EQ(sdrStop(), SDR_OK);
  engineDetach();

  std::printf("order %d: %zu bursts, median %.1f ms, p95 %.1f ms, max %.1f ms; "
              "underruns %llu, frames trimmed %llu\n",
              c.order, f.ms.size(), f.median(), f.p95(), f.max(),
              static_cast<unsigned long long>(report.playback.underruns),
              static_cast<unsigned long long>(report.playback.trimmedFrames));
  ASSERT_TRUE(f.error.empty()) << f.error;
  EXPECT_LE(f.missed, 2);
  EXPECT_LT(f.median(), c.medianBoundMs);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, LoopbackLatency,
    // Before the queue was held near its target: 171 ms at order 11 on
    // both servers. PipeWire's pulse server keeps its own backlog at times.
    // Order 9 is the console's Low latency.
    ::testing::Values(Case{test::SoundServer::PulseAudio, 11, 150},
                      Case{test::SoundServer::PipeWire, 11, 250},
                      Case{test::SoundServer::PulseAudio, 9, 100},
                      Case{test::SoundServer::PipeWire, 9, 150}),
    [](const auto& info) {
      return std::string(info.param.server == test::SoundServer::PulseAudio ? "PulseAudio"
                                                                           : "PipeWire") +
             "_order" + std::to_string(info.param.order);
    });

}  // namespace
}  // namespace bw
