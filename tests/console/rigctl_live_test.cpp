// Rig control end to end: Lanternfly with the real engine, a private
// PulseAudio daemon and the offscreen platform, serving rig control, and
// Hamlib's rigctl program tuning it. The band carries one I/Q tone 2500 Hz
// above the LO; once rigctl has tuned 1000 Hz above the LO in USB, that tone
// comes out of the speaker at 1500 Hz (before, it would have been 2500 Hz).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "live_audio.h"

namespace {

using namespace lanternfly::test;

constexpr long kLo = 14074000;
constexpr double kToneAboveLo = 2500;  // Hz

// A loopback TCP port nobody listens on at the moment of asking.
int freePort() {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  int port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &size) == 0) {
    port = ntohs(a.sin_port);
  }
  close(s);
  return port;
}

bool accepts(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(s);
  return ok;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(RigctlLive, RigctlTunesTheConsoleAndTheToneMovesInTheAudio) {
  if (const std::string missing = bw::test::PrivatePulse::missingTools(); !missing.empty()) {
    GTEST_SKIP() << missing;
  }
  if (system("command -v rigctl >/dev/null") != 0) GTEST_SKIP() << "rigctl is not installed";
  bw::test::PrivatePulse pulse;
  ASSERT_TRUE(pulse.start()) << pulse.error();
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const int port = freePort();
  ASSERT_NE(port, 0);
  const pid_t console =
      pulse.spawn({LANTERNFLY_PATH, "--in", "1", "--out", "1", "--lo", std::to_string(kLo),
                   "--rigctl", std::to_string(port)},
                  pulse.folder() + "/console.log");
  bool up = false;
  for (int k = 0; k < 200 && !up; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    up = accepts(port);
  }

  const std::string answers = pulse.folder() + "/rigctl.txt";
  const int asked = up ? pulse.run({"rigctl", "-m", "2", "-r", "127.0.0.1:" + std::to_string(port),
                                    "F", std::to_string(kLo + 1000), "M", "USB", "2400", "f", "m"},
                                   15000, answers)
                       : -1;
  std::vector<double> left;
  if (asked == 0) {
    const std::string tone = pulse.folder() + "/tone.wav";
    writeIqTones(tone, {kToneAboveLo}, 4);
    left = playAndRecord(pulse, tone);
  }
  const int ended = bw::test::PrivatePulse::finish(console, true);

  ASSERT_TRUE(up) << "no rig control on port " << port << ":\n"
                  << readFile(pulse.folder() + "/console.log");
  ASSERT_EQ(asked, 0) << readFile(answers);
  EXPECT_EQ(readFile(answers), std::to_string(kLo + 1000) + "\nUSB\n2400\n");
  EXPECT_EQ(ended, 0) << "the console did not end cleanly on SIGTERM";

  // The loudest second of the recording: the tone at 2500 - 1000 Hz.
  ASSERT_GT(left.size(), static_cast<std::size_t>(3 * kLiveRate));
  const ToneContrast heard = contrastInLoudestSecond(left, kToneAboveLo - 1000, kToneAboveLo);
  EXPECT_GT(heard.rms, 100.0) << "no audio came out";
  EXPECT_GT(heard.db, 30.0);
}

}  // namespace
