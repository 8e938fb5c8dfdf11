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
    // Order 11 is the console's block, order 9 its Low latency. At a load
    // average of 10 on two cores, medians of 80-120 ms at order 11 on
    // PulseAudio (130-188 ms when playback began with a block of silence
    // and kept it), 91-123 ms on PipeWire, whose pulse server at times lets
    // the playback run dry and then keeps the backlog. The 95th percentile
    // is bounded loosely: a capture hiccup leaves a backlog that is trimmed
    // only after a second without a shorter queue, and a loaded machine
    // hears a few bursts through it (beside the whole suite, p95 of 296 ms
    // on PulseAudio and 395 ms on PipeWire at order 11). The minimum-phase band filter takes
    // about 18 ms off order 11: 67-109 ms on PulseAudio, 81-113 ms on
    // PipeWire, at the same load.
    //
    // PipeWire's rows were as loose as they were because its pulse server
    // held our capture back behind the playback's requests (bursts of 20-85
    // ms). With the capture on a connection of its own, at a load of 2:
    // order 11 74-85 ms (p95 the same), minimum phase 54-65 (p95 59-70),
    // order 9 with it 19-30 ms; beside two busy loops order 11 minimum
    // phase was 102 / 156 ms. The bounds keep a margin for a loaded CI
    // machine above those.
    ::testing::Values(Case{test::SoundServer::PulseAudio, 11, 125, 250},
                      Case{test::SoundServer::PipeWire, 11, 130, 300},
                      Case{test::SoundServer::PulseAudio, 11, 105, 250, SDR_EXT_MINIMUM_PHASE},
                      Case{test::SoundServer::PipeWire, 11, 115, 300, SDR_EXT_MINIMUM_PHASE},
                      Case{test::SoundServer::PulseAudio, 9, 60, 100},
                      Case{test::SoundServer::PipeWire, 9, 70, 200}),
    [](const auto& info) {
      return std::string(info.param.server == test::SoundServer::PulseAudio ? "PulseAudio"
                                                                           : "PipeWire") +
             "_order" + std::to_string(info.param.order) +
             (info.param.extensions & SDR_EXT_MINIMUM_PHASE ? "_minimumPhase" : "");
    });

}  // namespace
}  // namespace bw
