// Live reception through a real sound server: a private PulseAudio daemon
// (tests/support/private_pulse.h) on devices 1 (the defaults: iqband's
// monitor in, speaker out), as on a desktop: listed by PortAudio among the
// cards, streamed on by the route the engine takes by default (libpulse,
// audio/system_platform.h). The daemon is frozen, killed and started again
// under the engine.
#include "support/wait_for.h"
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "audio/portaudio/portaudio_stream.h"
#include "brackwell/brackwell.h"
#include "dsp/receive_params.h"
#include "core/lifecycle.h"
#include "support/engine_fixture.h"
#include "support/private_pulse.h"
#include "support/scheduler_probe.h"

namespace bw {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kRate = 48000;

using test::countBlock;
using test::g_blocks;

using bw::test::waitFor;

std::string readText(const std::string& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
    if (!engineAttached()) return;
    sdrStop();
    pulse_.signal(SIGCONT);
    // A stream given up on a frozen server finishes its abort once the
    // server runs again; then PortAudio can end cleanly.
    waitFor([] { return audio::PortAudioStream::stuckStreams() == 0; }, 10s);
    engineDetach();
  }

  // The console's set-up on the default devices; waits for the first blocks.
  void startReceiving() {
    ASSERT_EQ(sdrSetGlobal(1, 1, 4, 11, kRate, 16), SDR_OK);
    std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
    encodeParams(consoleParams(), block);
    ASSERT_EQ(sdrSetNewParam(block), SDR_OK);
    ASSERT_EQ(sdrStart(&countBlock), SDR_OK);
    expectBlocksFlow();
  }
  // The receiver starts again (its set-up kept), streams and stops.
  void expectStartStreamsAndStops() {
    ASSERT_EQ(sdrStart(&countBlock), SDR_OK);
    expectBlocksFlow();
    EXPECT_EQ(sdrStop(), SDR_OK);
  }
  void expectBlocksFlow() {
    const long before = g_blocks.load();
    EXPECT_TRUE(waitFor([&] { return g_blocks.load() > before + 3; }, 8s))
        << "no blocks from the sound server";
  }

  // Starts brackwell-live with `args` against the private server, its
  // output to `output`.
  pid_t spawnLive(const std::vector<std::string>& args, const std::string& output) {
#if defined(__SANITIZE_ADDRESS__)
    // brackwell-live unloads the engine and with it ALSA and PortAudio, whose
    // process-wide caches (ALSA's configuration tree, its plugins' constructor
    // allocations) then show as leaks with no symbol left to suppress them by.
    // The engine's own unloading is leak-checked where those libraries stay
    // loaded (LibraryLoad); the tool's exit status is what is tested here.
    const std::string asanOptions = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asanOptions + ":detect_leaks=0").c_str(), 1);
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers intercept dlopen, so the run path glibc searches is their
    // runtime's, not brackwell-live's: point the loader at the built engine.
    const char* oldPath = std::getenv("LD_LIBRARY_PATH");
    const std::string savedPath = oldPath ? oldPath : "";
    const std::string engineDir =
        std::string(BW_LIBRARY_PATH).substr(0, std::string(BW_LIBRARY_PATH).rfind('/'));
    setenv("LD_LIBRARY_PATH", engineDir.c_str(), 1);
#endif
    std::vector<std::string> argv{BW_LIVE_TOOL};
    argv.insert(argv.end(), args.begin(), args.end());
    const pid_t live = pulse_.spawn(argv, output);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (oldPath != nullptr) {
      setenv("LD_LIBRARY_PATH", savedPath.c_str(), 1);
    } else {
      unsetenv("LD_LIBRARY_PATH");
    }
#endif
#if defined(__SANITIZE_ADDRESS__)
    setenv("ASAN_OPTIONS", asanOptions.c_str(), 1);
#endif
    return live;
  }

  // brackwell-live receiving on devices 1 for a minute, its output to
  // `output`; waits until it reports the signal (a sanitizer build on a busy
  // machine took over 8 s to load, plan and start).
  pid_t spawnReceivingLive(const std::string& output) {
    const pid_t live = spawnLive({"--in", "1", "--out", "1", "--seconds", "60"}, output);
    EXPECT_TRUE(waitFor([&] { return readText(output).find("signal") != std::string::npos; }, 30s))
        << readText(output);
    return live;
  }

  // `pactl list short <what>` as lines.
  std::vector<std::string> pactlList(const char* what) {
    const std::string file = pulse_.folder() + "/pactl.txt";
    std::filesystem::remove(file);
    EXPECT_EQ(pulse_.run({"pactl", "list", "short", what}, 10000, file), 0);
    std::vector<std::string> lines;
    std::istringstream in(readText(file));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // After a failure ended streaming: the codes, no more blocks.
  void expectStreamingEnded() {
    std::vector<double> spectrum(4096);
    EXPECT_TRUE(waitFor([&] { return sdrGetSpectrum(spectrum.data()) == SDR_NOT_RUNNING; }, 6s));
    EXPECT_EQ(sdrStop(), SDR_NOT_RUNNING);
    const long blocks = g_blocks.load();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_blocks.load(), blocks) << "the block hook still runs";
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

TEST_F(SoundServerTest, StopReturnsPromptlyWhileTheServerIsFrozen) {
  startReceiving();
  pulse_.signal(SIGSTOP);
  std::this_thread::sleep_for(200ms);
  const auto begin = Clock::now();
  EXPECT_EQ(sdrStop(), SDR_OK);
  EXPECT_LT(Clock::now() - begin, 2500ms);
  // Once the server runs again, so does the receiver.
  pulse_.signal(SIGCONT);
  expectStartStreamsAndStops();
}

TEST_F(SoundServerTest, ADeadServerEndsStreamingAndANewOneServesAgain) {
  const std::string liveOutput = pulse_.folder() + "/live.txt";
  const pid_t live = spawnReceivingLive(liveOutput);
  ASSERT_GT(live, 0);
  startReceiving();

  pulse_.signal(SIGKILL);
  pulse_.stop();
  expectStreamingEnded();

  // brackwell-live says so in a line of its own and fails. PortAudio's own
  // diagnostics of the dead stream ("Expression '...' failed in ...") may
  // come before it: no public hook silences them.
  EXPECT_EQ(test::PrivatePulse::finish(live, false, 8000), 1);
  const std::string said = readText(liveOutput);
  EXPECT_NE(said.find("brackwell-live: the sound device stopped delivering"), std::string::npos)
      << said;

  ASSERT_TRUE(pulse_.start()) << pulse_.error();
  expectStartStreamsAndStops();
}

TEST_F(SoundServerTest, APlaybackStreamTheServerEndsEndsStreaming) {
  const std::string liveOutput = pulse_.folder() + "/live.txt";
  const pid_t live = spawnReceivingLive(liveOutput);
  ASSERT_GT(live, 0);
  startReceiving();
  // The server ends both playback streams (brackwell-live's and ours);
  // their capture streams run on. ALSA's pulse plugin sometimes takes the
  // end for an underrun and connects a new playback stream, which PortAudio
  // cannot tell from a real one: those are ended too, until the failure
  // shows.
  ASSERT_EQ(pactlList("sink-inputs").size(), 2u);
  ASSERT_EQ(pulse_.run({"pactl", "load-module", "module-cli-protocol-unix"}), 0);
  std::vector<double> spectrum(4096);
  int kills = 0;
  waitFor([&] {
    for (const std::string& line : pactlList("sink-inputs")) {
      kills += pulse_.run({"pacmd", "kill-sink-input", line.substr(0, line.find('\t'))}) == 0;
    }
    return sdrGetSpectrum(spectrum.data()) == SDR_NOT_RUNNING && pactlList("sink-inputs").empty();
  }, 10s);
  std::printf("playback streams ended by the server: %d\n", kills);
  expectStreamingEnded();
  EXPECT_EQ(test::PrivatePulse::finish(live, false, 8000), 1);
  EXPECT_NE(readText(liveOutput).find("stopped delivering"), std::string::npos)
      << readText(liveOutput);
  expectStartStreamsAndStops();
}

TEST_F(SoundServerTest, AFrozenServerHoldsListingAndStartOnlyAFewSeconds) {
  // Listing: the server is left out, with one line from the engine.
  const std::string listOutput = pulse_.folder() + "/list.txt";
  const std::string liveOutput = pulse_.folder() + "/live.txt";
  pulse_.signal(SIGSTOP);
  auto begin = Clock::now();
  const pid_t lister = spawnLive({"--list"}, listOutput);
  const pid_t live = spawnLive({"--in", "1", "--out", "1", "--seconds", "5"}, liveOutput);
  // How it exits after giving up on the server is the host-exit tests'
  // matter: here, that the whole listing came promptly.
  test::PrivatePulse::finish(lister, false, 15000);
  const auto listing = Clock::now() - begin;
  const std::string listed = readText(listOutput);
  EXPECT_NE(listed.find("Mixers:"), std::string::npos) << listed;
  EXPECT_NE(listed.find("did not answer"), std::string::npos) << listed;
  EXPECT_EQ(listed.find("pulse"), std::string::npos) << listed;
  begin = Clock::now();
  EXPECT_EQ(sdrGetNumInDevice(), 2);  // 1 and 2: unlisted, never the simulated band
  EXPECT_LT(Clock::now() - begin, 6s);
  EXPECT_LT(listing, 10s);
  for (int device : {1, 2}) {
    EXPECT_STREQ(sdrGetNameInDevice(device), "");
    EXPECT_STREQ(sdrGetNameOutDevice(device), "");
    ASSERT_EQ(sdrSetGlobal(device, device, 4, 11, kRate, 16), SDR_OK);
    EXPECT_EQ(sdrStart(&countBlock), SDR_DEVICE_REFUSED) << "device " << device;
  }
  EXPECT_EQ(test::PrivatePulse::finish(live, false, 15000), 1);
  const std::string said = readText(liveOutput);
  EXPECT_NE(said.find("brackwell-live: start failed: capture 1 has no listed device; the sound server"),
            std::string::npos) << said;
  EXPECT_EQ(said.find("Simulated"), std::string::npos) << said;
  pulse_.signal(SIGCONT);
  ASSERT_TRUE(waitFor([] { return audio::PortAudioStream::stuckStreams() == 0; }, 10s));

  // Start: refused after a few seconds; once the server runs again, so does
  // the receiver.
  engineDetach();
  engineAttach();
  startReceiving();
  ASSERT_EQ(sdrStop(), SDR_OK);
  pulse_.signal(SIGSTOP);
  begin = Clock::now();
  EXPECT_EQ(sdrStart(&countBlock), SDR_DEVICE_REFUSED);
  const auto starting = Clock::now() - begin;
  EXPECT_LT(starting, 6s);
  std::printf("on a frozen server: brackwell-live --list %.1f s, sdrStart %.1f s\n",
              std::chrono::duration<double>(listing).count(),
              std::chrono::duration<double>(starting).count());
  pulse_.signal(SIGCONT);
  ASSERT_TRUE(waitFor([] { return audio::PortAudioStream::stuckStreams() == 0; }, 10s));
  expectStartStreamsAndStops();
}

TEST_F(SoundServerTest, EveryRestartDeliversItsFirstBlockPromptly) {
  // Time from sdrStart to the first block over many restarts. A source left
  // without a reader between stop and start kept the next one waiting for
  // the server's idle period (2 s) in a third of them; load alone makes no
  // such outlier.
  startReceiving();
  ASSERT_EQ(sdrStop(), SDR_OK);
  std::vector<double> ms;
  for (int run = 0; run < 100; ++run) {
    const long before = g_blocks.load();
    const auto begin = Clock::now();
    ASSERT_EQ(sdrStart(&countBlock), SDR_OK);
    ASSERT_TRUE(waitFor([&] { return g_blocks.load() > before; }, 5s)) << "restart " << run;
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    ASSERT_EQ(sdrStop(), SDR_OK);
  }
  std::sort(ms.begin(), ms.end());
  const auto over = ms.end() - std::upper_bound(ms.begin(), ms.end(), 250.0);
  std::printf("first block after sdrStart, 100 restarts: median %.0f ms, p95 %.0f ms, "
              "max %.0f ms, %td over 250 ms\n", ms[50], ms[95], ms.back(), over);
  EXPECT_LT(ms.back(), 1000.0);
}

// Left channel of a WAV file parecord wrote (16-bit stereo): the samples
// after the data chunk's header, to the end of the file.
std::vector<std::int32_t> leftChannel(const std::string& path) {
  const std::string bytes = readText(path);
  std::vector<std::int32_t> left;
  const std::size_t data = bytes.find("data");
  if (data == std::string::npos) return left;
  for (std::size_t at = data + 8; at + 4 <= bytes.size(); at += 4) {
    left.push_back(static_cast<std::int16_t>(
        static_cast<std::uint8_t>(bytes[at]) | (static_cast<std::uint8_t>(bytes[at + 1]) << 8)));
  }
  return left;
}

// Indices of the first and the last sample louder than level; -1 and -1
// when none is.
std::pair<std::ptrdiff_t, std::ptrdiff_t> loudSpan(const std::vector<std::int32_t>& x,
                                                   std::int32_t level) {
  const auto loud = [&](std::int32_t v) { return std::abs(v) > level; };
  const auto first = std::find_if(x.begin(), x.end(), loud);
  if (first == x.end()) return {-1, -1};
  return {first - x.begin(), x.rend() - std::find_if(x.rbegin(), x.rend(), loud) - 1};
}

TEST_F(SoundServerTest, LoopbackReceivesTheUpperSidebandWithoutGaps) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "real-time loopback: the sanitizers slow the chain below real time";
#endif
  // 0.5 s of silence, then 3 s of two complex tones of equal strength, one
  // 1500 Hz above the centre (wanted) and one 1000 Hz below (the opposite
  // sideband), then 0.5 s of silence: 16-bit I/Q at 48 kHz.
  const std::string iq = pulse_.folder() + "/iq.raw";
  {
    std::vector<std::int16_t> pcm;
    for (int n = 0; n < 4 * kRate; ++n) {
      double i = 0, q = 0;
      if (n >= kRate / 2 && n < 7 * kRate / 2) {
        const double t = double(n) / kRate;
        i = 8000 * (std::cos(2 * std::numbers::pi * 1500 * t) + std::cos(2 * std::numbers::pi * 1000 * t));
        q = 8000 * (std::sin(2 * std::numbers::pi * 1500 * t) - std::sin(2 * std::numbers::pi * 1000 * t));
      }
      pcm.push_back(static_cast<std::int16_t>(std::lrint(i)));
      pcm.push_back(static_cast<std::int16_t>(std::lrint(q)));
    }
    std::ofstream(iq, std::ios::binary)
        .write(reinterpret_cast<const char*>(pcm.data()), std::streamsize(pcm.size() * 2));
  }
  startReceiving();
  // Both monitors recorded at once: the played I/Q and the receiver's audio.
  auto record = [&](const char* source, const std::string& file) {
    return pulse_.spawn({"parecord", std::string("--device=") + source, "--rate=48000",
                         "--channels=2", "--format=s16le", "--file-format=wav", file});
  };
  const std::string heard = pulse_.folder() + "/speaker.wav";
  const std::string played = pulse_.folder() + "/iqband.wav";
  const pid_t speaker = record("speaker.monitor", heard);
  const pid_t band = record("iqband.monitor", played);
  // When each recording's first audio reached its file: the two may start
  // far apart on a busy machine, and the latency below corrects for it.
  Clock::time_point heardFrom{}, playedFrom{};
  auto grew = [](const std::string& file, std::uintmax_t& header) {
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec || size == 0) return false;
    if (header == 0) header = size;
    return size > header;
  };
  std::uintmax_t heardHeader = 0, playedHeader = 0;
  ASSERT_TRUE(waitFor([&] {
    const auto now = Clock::now();
    if (heardFrom == Clock::time_point{} && grew(heard, heardHeader)) heardFrom = now;
    if (playedFrom == Clock::time_point{} && grew(played, playedHeader)) playedFrom = now;
    return heardFrom != Clock::time_point{} && playedFrom != Clock::time_point{};
  }, 10s)) << "the recordings did not start";
  std::this_thread::sleep_for(300ms);
  // Gaps are the engine's only while the machine wakes threads on time. The
  // server's buffer for our playback holds 11 ms at these settings: a thread
  // of ours held up for longer leaves it dry, and the server plays a gap.
  // paplay, not in real time, keeps 100 ms queued at the band's sink, which
  // still plays in the short periods the receiver's capture asks of its
  // monitor.
  test::SchedulerProbe probe;
  EXPECT_EQ(pulse_.run({"paplay", "--raw", "--device=iqband", "--latency-msec=100", "--rate=48000", "--channels=2",
                        "--format=s16le", iq}),
            0);
  std::this_thread::sleep_for(1500ms);
  const double delayMs = probe.stop();
  test::PrivatePulse::finish(speaker, true);
  test::PrivatePulse::finish(band, true);
  EXPECT_EQ(sdrStop(), SDR_OK);
  const std::vector<std::int32_t> out = leftChannel(heard);
  const std::vector<std::int32_t> in = leftChannel(played);
  // The tones' end is the mark: sharp on both sides, while their start is
  // softened by the AGC, whose history begins empty.
  const auto [inStart, inEnd] = loudSpan(in, 4000);
  const std::ptrdiff_t outEnd = loudSpan(out, 2000).second;
  ASSERT_GE(inEnd, 5 * kRate / 2) << "the I/Q never reached iqband";
  ASSERT_GE(outEnd, 5 * kRate / 2) << "no audio reached speaker";
  if (delayMs > 10.0) {
    GTEST_SKIP() << "scheduler delays up to " << delayMs
                 << " ms while the tones played: too loaded to judge gaps";
  }
  // paplay does not run in real time: late, it leaves holes in the band, and
  // the tones there last longer than the 3 s written. The receiver plays
  // such holes as it should, as gaps.
  const double bandMs = 1000.0 * double(inEnd - inStart) / kRate;
  if (std::abs(bandMs - 3000.0) > 2.5) {
    GTEST_SKIP() << "the tones lasted " << bandMs << " ms in the band: paplay left holes";
  }

  // One second well inside the tones: the wanted tone at full AGC level, the
  // opposite sideband's tone at least 60 dB below it.
  const std::vector<std::int32_t> steady(out.begin() + outEnd - 2 * kRate,
                                         out.begin() + outEnd - kRate);
  const double wanted = test::toneAmplitude(steady, 1500.0, kRate);
  const double image = test::toneAmplitude(steady, 1000.0, kRate);
  EXPECT_GT(wanted, 8000.0);
  EXPECT_GE(20 * std::log10(wanted / std::max(image, 1e-9)), 60.0)
      << "wanted " << wanted << ", image " << image;

  // No gap: every 5 ms of the last 2.5 s of the tones carries the tone.
  int quiet = 0;
  for (std::ptrdiff_t w = outEnd - 5 * kRate / 2; w + 240 <= outEnd - 240; w += 240) {
    std::int32_t peak = 0;
    for (int k = 0; k < 240; ++k) peak = std::max(peak, std::abs(out[w + k]));
    quiet += peak < wanted / 4;
  }
  EXPECT_EQ(quiet, 0) << "5 ms windows without the tone";

  // Capture to playback, both as the server saw them, on one clock.
  const double skewMs =
      std::chrono::duration<double, std::milli>(heardFrom - playedFrom).count();
  const double latencyMs = 1000.0 * double(outEnd - inEnd) / kRate + skewMs;
  RecordProperty("latencyMs", int(latencyMs));
  std::printf("loopback latency %.0f ms\n", latencyMs);
  EXPECT_GT(latencyMs, 0.0);
  EXPECT_LT(latencyMs, 1500.0);
}

}  // namespace
}  // namespace bw
