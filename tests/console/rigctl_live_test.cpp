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
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/private_pulse.h"

namespace {

constexpr int kRate = 48000;
constexpr double kPi = 3.14159265358979323846;
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

// `seconds` of e^(+j 2pi f t) as 16-bit stereo WAV, I left, Q right.
void writeTone(const std::string& path, double hz, int seconds) {
  std::vector<std::int16_t> iq;
  for (int n = 0; n < seconds * kRate; ++n) {
    const double phase = 2 * kPi * hz * n / kRate;
    iq.push_back(static_cast<std::int16_t>(std::lround(8000 * std::cos(phase))));
    iq.push_back(static_cast<std::int16_t>(std::lround(8000 * std::sin(phase))));
  }
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const auto bytes = static_cast<std::uint32_t>(iq.size() * 2);
  out.write("RIFF", 4), u32(36 + bytes), out.write("WAVEfmt ", 8), u32(16), u16(1), u16(2);
  u32(kRate), u32(kRate * 4), u16(4), u16(16), out.write("data", 4), u32(bytes);
  out.write(reinterpret_cast<const char*>(iq.data()), bytes);
}

// The left channel of parecord's WAV file: the samples after the "data" tag.
std::vector<double> readLeft(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<double> left;
  const std::size_t data = all.find("data");
  if (data == std::string::npos) return left;
  for (std::size_t p = data + 8; p + 4 <= all.size(); p += 4) {
    std::int16_t v = 0;
    std::memcpy(&v, &all[p], 2);
    left.push_back(v);
  }
  return left;
}

// Power at `hz` over one Hann-windowed second from `from`.
double powerAt(const std::vector<double>& x, std::size_t from, double hz) {
  double re = 0, im = 0;
  for (std::size_t i = 0; i < kRate; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * kPi * i / (kRate - 1));
    re += w * x[from + i] * std::cos(2 * kPi * hz * i / kRate);
    im -= w * x[from + i] * std::sin(2 * kPi * hz * i / kRate);
  }
  return re * re + im * im;
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
  std::string heard;
  std::vector<double> left;
  if (asked == 0) {
    const std::string tone = pulse.folder() + "/tone.wav";
    writeTone(tone, kToneAboveLo, 4);
    heard = pulse.folder() + "/heard.wav";
    const pid_t recorder =
        pulse.spawn({"parecord", "--device=speaker.monitor", "--rate=48000", "--channels=2",
                     "--format=s16le", "--file-format=wav", heard});
    pulse.run({"paplay", "--device=iqband", tone}, 20000);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    bw::test::PrivatePulse::finish(recorder, true);
    left = readLeft(heard);
  }
  const int ended = bw::test::PrivatePulse::finish(console, true);

  ASSERT_TRUE(up) << "no rig control on port " << port << ":\n"
                  << readFile(pulse.folder() + "/console.log");
  ASSERT_EQ(asked, 0) << readFile(answers);
  EXPECT_EQ(readFile(answers), std::to_string(kLo + 1000) + "\nUSB\n2400\n");
  EXPECT_EQ(ended, 0) << "the console did not end cleanly on SIGTERM";

  // The loudest second of the recording: the tone at 2500 - 1000 Hz.
  ASSERT_GT(left.size(), static_cast<std::size_t>(3 * kRate));
  std::size_t best = 0;
  double bestEnergy = -1;
  for (std::size_t from = 0; from + kRate <= left.size(); from += kRate / 4) {
    double e = 0;
    for (std::size_t i = from; i < from + kRate; ++i) e += left[i] * left[i];
    if (e > bestEnergy) bestEnergy = e, best = from;
  }
  const double moved = powerAt(left, best, kToneAboveLo - 1000);
  const double unmoved = powerAt(left, best, kToneAboveLo);
  std::printf("audio rms %.0f, 1500 Hz over 2500 Hz: %.1f dB\n", std::sqrt(bestEnergy / kRate),
              10 * std::log10(moved / (unmoved + 1e-9)));
  EXPECT_GT(std::sqrt(bestEnergy / kRate), 100.0) << "no audio came out";
  EXPECT_GT(10 * std::log10(moved / (unmoved + 1e-9)), 30.0);
}

}  // namespace
