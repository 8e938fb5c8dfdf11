// bw_live_latency: capture-to-playback latency through a private sound
// server as a listener hears it (tests/support/latency_probe.h), measured by
// hand rather than in the test suite: the full distribution, optionally
// under load and after a long run.
//
//   bw_live_latency [--server pulse|pipewire] [--order N] [--repeats N]
//                   [--in NAME] [--out NAME] [--busy N] [--minutes N]
//                   [--extensions BITS]
//
// --in/--out pick the engine's devices by their listed name (default: device
// 1, the server's defaults, which end in iqband's monitor and speaker);
// --busy starts N busy loops for the whole run; --minutes streams that long
// before measuring and reports the playback's underruns and trimmed frames;
// --extensions turns on the SDR_EXT_* bits given (decimal or 0x hex).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "audio/streaming.h"
#include "brackwell/brackwell.h"
#include "core/engine_state.h"
#include "core/lifecycle.h"
#include "support/latency_probe.h"

namespace {

// The engine's number for the device listed as `name` (1 when empty), or 0.
int deviceNamed(const std::string& name, int (*count)(), const char* (*nameOf)(int)) {
  if (name.empty()) return 1;
  for (int d = 1; d <= count(); ++d) {
    if (name == nameOf(d)) return d;
  }
  return 0;
}

void report(const char* when, const bw::test::LatencyFigures& f) {
  std::printf("%s: %zu bursts heard, %d missed: median %.1f ms, p95 %.1f ms, max %.1f ms\n",
              when, f.ms.size(), f.missed, f.median(), f.p95(), f.max());
  if (!f.error.empty()) std::printf("  %s\n", f.error.c_str());
  const bw::audio::StreamReport r = bw::audio::streamReport(bw::engine().audio);
  std::printf("  so far: playback underruns %llu, frames trimmed %llu; capture overruns %llu; "
              "blocks dropped as late %llu\n",
              static_cast<unsigned long long>(r.playback.underruns),
              static_cast<unsigned long long>(r.playback.trimmedFrames),
              static_cast<unsigned long long>(r.capture.overruns),
              static_cast<unsigned long long>(r.lateOutputBlocks));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using bw::test::SoundServer;
  SoundServer server = SoundServer::PulseAudio;
  int order = 11, busy = 0, minutes = 0;
  std::uint32_t extensions = 0;
  bw::test::LatencyRun run;
  std::string inName, outName;
  for (int k = 1; k + 1 < argc; k += 2) {
    const std::string arg = argv[k], value = argv[k + 1];
    if (arg == "--server" && (value == "pulse" || value == "pipewire")) {
      server = value == "pulse" ? SoundServer::PulseAudio : SoundServer::PipeWire;
    } else if (arg == "--order") {
      order = std::atoi(value.c_str());
    } else if (arg == "--repeats") {
      run.repeats = std::atoi(value.c_str());
    } else if (arg == "--in") {
      inName = value;
    } else if (arg == "--out") {
      outName = value;
    } else if (arg == "--busy") {
      busy = std::atoi(value.c_str());
    } else if (arg == "--extensions") {
      extensions = std::uint32_t(std::strtoul(value.c_str(), nullptr, 0));
    } else if (arg == "--minutes") {
      minutes = std::atoi(value.c_str());
    } else {
      std::fprintf(stderr, "bw_live_latency: unknown option or value: %s %s\n", arg.c_str(),
                   value.c_str());
      return 2;
    }
  }
  if (argc % 2 == 0 || run.repeats < 1) {
    std::fprintf(stderr, "usage: bw_live_latency [--server pulse|pipewire] [--order N] "
                         "[--repeats N] [--in NAME] [--out NAME] [--busy N] [--minutes N] "
                         "[--extensions BITS]\n");
    return 2;
  }
  const std::string missing = bw::test::PrivatePulse::missingTools(server);
  if (!missing.empty()) {
    std::fprintf(stderr, "bw_live_latency: %s\n", missing.c_str());
    return 1;
  }
  bw::test::PrivatePulse pulse(server, bw::test::Sinks::OneMonitor);
  if (!pulse.start()) {
    std::fprintf(stderr, "bw_live_latency: %s\n", pulse.error().c_str());
    return 1;
  }
  pulse.exportEnvironment();
  std::vector<pid_t> loops;
  for (int k = 0; k < busy; ++k) loops.push_back(pulse.spawn({"sh", "-c", "while :; do :; done"}));
  bw::engineAttach();
  const int in = deviceNamed(inName, sdrGetNumInDevice, sdrGetNameInDevice);
  const int out = deviceNamed(outName, sdrGetNumOutDevice, sdrGetNameOutDevice);
  int status = in > 0 && out > 0 ? bw::test::startFixedGainReceiver(in, out, order, extensions) : -1;
  if (status == SDR_OK) {
    std::printf("%s, order %d, extensions 0x%x, devices %d and %d, %d busy loops\n",
                server == SoundServer::PulseAudio ? "PulseAudio" : "PipeWire", order,
                unsigned(extensions), in, out, busy);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    report("at start", bw::test::measureLatency(pulse, run));
    if (minutes > 0) {
      std::this_thread::sleep_for(std::chrono::minutes(minutes));
      report("after the run", bw::test::measureLatency(pulse, run));
    }
    sdrStop();
  } else {
    std::fprintf(stderr, "bw_live_latency: the receiver did not start (%d)\n", status);
  }
  bw::engineDetach();
  for (pid_t p : loops) bw::test::PrivatePulse::finish(p, true);
  return status == SDR_OK ? 0 : 1;
}
