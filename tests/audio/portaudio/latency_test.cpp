// Capture to playback through a private sound server, as a listener hears
// it (tests/support/latency_probe.h), on the default devices (through
// libpulse, or PortAudio's ALSA plugin with BW_SOUND_SERVER=alsa). The
// bounds are loose, for a loaded machine;
// the figures themselves are printed, and bw_live_latency measures them in
// full.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
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
  double medianBoundMs;  // above what is reached on a loaded machine, below the old queueing
  double p95BoundMs;
  std::uint32_t extensions = 0;  // SDR_EXT_* bits
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
  ASSERT_EQ(test::startFixedGainReceiver(1, 1, c.order, c.extensions), SDR_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const test::LatencyFigures f = test::measureLatency(server, {.repeats = 20, .spacingMs = 250});
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
  EXPECT_LT(f.p95(), c.p95BoundMs);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, LoopbackLatency,
    // Order 11 is the console's block, order 9 its Low latency; the
    // minimum-phase band filter takes about 20 ms off order 11. Beside the
    // whole suite on two cores: order 11 79 / 85 ms (median / p95) on
    // PulseAudio and 90 / 90 on PipeWire, minimum phase 60 / 69 and 51 / 54,
    // order 9 with it 29 / 37 and 24 / 24. Queueing a whole block more, as
    // the engine once did, adds 43 ms at order 11 and 11 ms at order 9; the
    // median bounds catch that with a margin for a loaded machine. A stall of
    // the machine shows in the last bursts, not in the median: on a CI
    // machine that stalled, minimum phase on PulseAudio measured 74 ms at the
    // median and 216 ms at the 95th percentile (11 underruns), so the p95
    // bounds only catch a queue that grows without end.
    ::testing::Values(Case{test::SoundServer::PulseAudio, 11, 110, 300},
                      Case{test::SoundServer::PipeWire, 11, 130, 300},
                      Case{test::SoundServer::PulseAudio, 11, 95, 300, SDR_EXT_MINIMUM_PHASE},
                      Case{test::SoundServer::PipeWire, 11, 115, 300, SDR_EXT_MINIMUM_PHASE},
                      Case{test::SoundServer::PulseAudio, 9, 45, 200},
                      Case{test::SoundServer::PipeWire, 9, 70, 200}),
    [](const auto& info) {
      return std::string(info.param.server == test::SoundServer::PulseAudio ? "PulseAudio"
                                                                           : "PipeWire") +
             "_order" + std::to_string(info.param.order) +
             (info.param.extensions & SDR_EXT_MINIMUM_PHASE ? "_minimumPhase" : "");
    });

}  // namespace
}  // namespace bw
