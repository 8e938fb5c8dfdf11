// The native PulseAudio backend on a private server
// (tests/support/private_pulse.h): devices 1 (iqband's monitor in, speaker
// out) through libpulse. What the server does to a running receiver's
// streams ends streaming as a lost device does, and never leaves our output
// playing into the sink whose monitor we capture; a frozen server costs a
// start or stop seconds, not a hang.
#include "support/wait_for.h"
#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "brackwell/brackwell.h"
#include "audio/realtime_priority.h"
#include "audio/system_platform.h"
#include "core/lifecycle.h"
#include "dsp/receive_params.h"
#include "support/engine_fixture.h"
#include "support/private_pulse.h"

namespace bw {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using test::countBlock;
using test::g_blocks;

using bw::test::waitFor;

class PulseBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string missing = test::PrivatePulse::missingTools();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_TRUE(pulse_.start()) << pulse_.error();
    pulse_.exportEnvironment();
    setenv("BW_SOUND_SERVER", "pulse", 1);
    engineAttach();
  }
  void TearDown() override {
    if (engineAttached()) {
      sdrStop();
      pulse_.signal(SIGCONT);
      engineDetach();
    }
    unsetenv("BW_SOUND_SERVER");
  }

 public:
  // `pactl list short <what>` as lines, split at tabs.
  std::vector<std::vector<std::string>> pactlList(const char* what) {
    const std::string file = pulse_.folder() + "/pactl.txt";
    std::ofstream{file, std::ios::trunc};
    EXPECT_EQ(pulse_.run({"pactl", "list", "short", what}, 10000, file), 0);
    std::ifstream in(file);
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> fields;
      std::istringstream split(line);
      for (std::string f; std::getline(split, f, '\t');) fields.push_back(f);
      rows.push_back(fields);
    }
    return rows;
  }
  // The first field of the rows whose field `column` is `value`.
  std::vector<std::string> indicesWhere(const char* what, std::size_t column,
                                        const std::string& value) {
    std::vector<std::string> found;
    for (const auto& row : pactlList(what)) {
      if (row.size() > column && row[column].find(value) != std::string::npos) {
        found.push_back(row[0]);
      }
    }
    return found;
  }
  bool pacmd(const std::string& command, const std::vector<std::string>& indices) {
    bool ok = !indices.empty();
    for (const std::string& index : indices) ok = pulse_.run({"pacmd", command, index}) == 0 && ok;
    return ok;
  }

  test::PrivatePulse pulse_;
};

TEST_F(PulseBackendTest, WhatTheServerDoesToOurStreamsEndsStreaming) {
  using Act = std::function<bool(PulseBackendTest&)>;
  const struct {
    const char* what;
    Act act;
  } cases[] = {
      {"the playback sink unloaded",
       [](PulseBackendTest& t) {
         return t.pulse_.run({"pactl", "unload-module",
                              t.indicesWhere("modules", 2, "sink_name=speaker").at(0)}) == 0;
       }},
      {"the playback stream killed",
       [](PulseBackendTest& t) { return t.pacmd("kill-sink-input", t.indicesWhere("sink-inputs", 0, "")); }},
      {"the capture stream killed",
       [](PulseBackendTest& t) { return t.pacmd("kill-source-output", t.indicesWhere("source-outputs", 0, "")); }},
      {"the playback sink suspended",
       [](PulseBackendTest& t) { return t.pulse_.run({"pactl", "suspend-sink", "speaker", "1"}) == 0; }},
  };
  ASSERT_EQ(pulse_.run({"pactl", "load-module", "module-cli-protocol-unix"}), 0);
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  encodeParams(consoleParams(), block);
  std::vector<double> spectrum(4096);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (pactlList("sinks").size() < 2) {
      // The previous case took the speaker: the server gets it back.
      ASSERT_EQ(pulse_.run({"pactl", "load-module", "module-null-sink", "sink_name=speaker",
                            "rate=48000", "channels=2"}), 0);
      ASSERT_EQ(pulse_.run({"pactl", "set-default-sink", "speaker"}), 0);
    }
    pulse_.run({"pactl", "suspend-sink", "speaker", "0"});
    ASSERT_EQ(sdrSetGlobal(1, 1, 4, 11, 48000, 16), SDR_OK);
    ASSERT_EQ(sdrSetNewParam(block), SDR_OK);
    ASSERT_EQ(sdrStart(&countBlock), SDR_OK);
    const long before = g_blocks.load();
    ASSERT_TRUE(waitFor([&] { return g_blocks.load() > before + 3; }, 8s));
    const std::string iqband = indicesWhere("sinks", 1, "iqband").at(0);

    ASSERT_TRUE(c.act(*this));
    // Told at once: well before a playback that takes nothing counts as
    // dead (four seconds).
    EXPECT_TRUE(waitFor([&] { return sdrGetSpectrum(spectrum.data()) == SDR_NOT_RUNNING; }, 3s));
    // Nothing of ours plays into the sink whose monitor we capture.
    EXPECT_TRUE(indicesWhere("sink-inputs", 1, iqband).empty());
    EXPECT_EQ(sdrStop(), SDR_NOT_RUNNING);
    const long blocks = g_blocks.load();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(g_blocks.load(), blocks) << "the block hook still runs";
  }
}

TEST_F(PulseBackendTest, AFrozenServerHoldsStopAndStartOnlyAFewSeconds) {
  ASSERT_EQ(sdrSetGlobal(1, 1, 4, 11, 48000, 16), SDR_OK);
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  encodeParams(consoleParams(), block);
  ASSERT_EQ(sdrSetNewParam(block), SDR_OK);
  ASSERT_EQ(sdrStart(&countBlock), SDR_OK);
  pulse_.signal(SIGSTOP);
  auto begin = Clock::now();
  EXPECT_EQ(sdrStop(), SDR_OK);
  const auto stopping = Clock::now() - begin;
  begin = Clock::now();
  EXPECT_EQ(sdrStart(&countBlock), SDR_DEVICE_REFUSED);
  const auto starting = Clock::now() - begin;
  EXPECT_LT(stopping, 1s);
  EXPECT_LT(starting, 6s);
  // Once the server runs again, so does the receiver.
  pulse_.signal(SIGCONT);
  ASSERT_EQ(sdrStart(&countBlock), SDR_OK);
  const long before = g_blocks.load();
  EXPECT_TRUE(waitFor([&] { return g_blocks.load() > before + 3; }, 8s));
  EXPECT_EQ(sdrStop(), SDR_OK);
}

// The threads that carry the blocks (libpulse's loop and the processing)
// run real time exactly when the system grants it to this process.
TEST_F(PulseBackendTest, TheAudioThreadsRunInRealTimeWhereGranted) {
  bool granted = false;
  std::thread([&] { granted = audio::raiseCallingThreadToRealTime(audio::kAudioThreadPriority); })
      .join();
  auto realTimeThreads = [] {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      const int policy = sched_getscheduler(std::stoi(task.path().filename()));
      count += policy >= 0 && (policy & ~SCHED_RESET_ON_FORK) == SCHED_FIFO;
    }
    return count;
  };
  ASSERT_EQ(sdrSetGlobal(1, 1, 4, 11, 48000, 16), SDR_OK);
  ASSERT_EQ(sdrStart(&countBlock), SDR_OK);
  const long before = g_blocks.load();
  ASSERT_TRUE(waitFor([&] { return g_blocks.load() > before + 2; }, 8s));
  EXPECT_EQ(realTimeThreads(), granted ? 2 : 0);
  EXPECT_EQ(sdrStop(), SDR_OK);
}

void ignoreCapture(audio::CaptureStream&, std::uint32_t, std::uintptr_t, audio::WaveHeader*) {}

// The playback is resampled to the capture's clock exactly when the two
// devices may run on different clocks: a pipe sink runs on its reader's,
// null sinks and their monitors on the server's, a remap sink on its
// master's; BW_CLOCKS overrides.
TEST_F(PulseBackendTest, DevicesOnDifferentClocksAreMatched) {
  const struct {
    const char *source, *sink, *choice;
    bool shared;
  } cases[] = {
      {"iqband.monitor", "speaker", nullptr, true},
      {"iqband.monitor", "pipe", nullptr, false},
      {"pipe.monitor", "pipe", nullptr, true},
      {"pipe.monitor", "piped", nullptr, true},
      {"iqband.monitor", "pipe", "one", true},
      {"iqband.monitor", "speaker", "two", false},
  };
  ASSERT_EQ(pulse_.run({"pactl", "load-module", "module-pipe-sink", "sink_name=pipe",
                        "file=" + pulse_.folder() + "/pipe", "rate=48000", "channels=2"}), 0);
  ASSERT_EQ(pulse_.run({"pactl", "load-module", "module-remap-sink", "sink_name=piped",
                        "master=pipe"}), 0);
  const audio::WaveFormat format{audio::kFormatPcm, 2, 48000, 192000, 4, 16, 0};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " to " + c.sink);
    ASSERT_EQ(pulse_.run({"pactl", "set-default-source", c.source}), 0);
    ASSERT_EQ(pulse_.run({"pactl", "set-default-sink", c.sink}), 0);
    if (c.choice != nullptr) setenv("BW_CLOCKS", c.choice, 1);
    const std::unique_ptr<audio::AudioPlatform> platform = audio::makeSystemPlatform();
    const int in = platform->defaultDevice(audio::Direction::Capture);
    const int out = platform->defaultDevice(audio::Direction::Playback);
    std::unique_ptr<audio::CaptureStream> capture;
    std::unique_ptr<audio::PlaybackStream> playback;
    ASSERT_EQ(platform->openCapture(in, format, 2048, &ignoreCapture, 0, capture), audio::Result::Ok);
    ASSERT_EQ(platform->openPlayback(out, format, 2048, playback), audio::Result::Ok);
    EXPECT_EQ(platform->sharedClock(in, out), c.shared);
    unsetenv("BW_CLOCKS");
    capture->close();
    playback->close();
  }
}

}  // namespace
}  // namespace bw
