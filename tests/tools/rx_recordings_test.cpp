// brackwell-rx on the real I/Q recordings of ../shared/iq, checked against
// what their README says can be checked. Skipped where the folder is absent.
#include <cmath>
#include <fstream>
#include <sstream>

#include "rx_test_support.h"

namespace bw::rx::test {
namespace {

const fs::path kIq = BW_IQ_DIR;
const fs::path kHfdl48k = kIq / "HFDL_test_48k_cf13270.wav";

class RecordingsTest : public RxTest {
 protected:
  void SetUp() override {
    if (!fs::exists(kHfdl48k)) GTEST_SKIP() << kIq << " holds no recordings";
    RxTest::SetUp();
  }
};

struct CsvRow {
  double hz, db;
};
std::vector<CsvRow> readCsv(const fs::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "frequency_hz,level_db");
  std::vector<CsvRow> rows;
  while (std::getline(in, line)) {
    CsvRow r{};
    char comma = 0;
    std::istringstream(line) >> r.hz >> comma >> r.db;
    rows.push_back(r);
  }
  return rows;
}

// The carrier at +1440 Hz (bin 123 of 4096 at 48000 Hz) during the first
// 0.25 s: strongest in the spectrum, never its mirror; with the upper
// sideband it is the audio, with the lower sideband it nearly vanishes.
TEST_F(RecordingsTest, HfdlCarrierInTheFirstQuarterSecond) {
  const Recording whole = readWav(kHfdl48k);
  ASSERT_EQ(whole.rate, 48000);
  constexpr std::int64_t kFrames = 12000;  // 0.25 s
  Frames start(whole.samples.begin(), whole.samples.begin() + 2 * kFrames);
  for (std::int32_t& s : start) s >>= 16;
  writeWav(file("start.wav"), start, 48000, Storage::Pcm16);

  const RunResult usb = runRx({"--fixed-gain", "1", "--spectrum", file("s.csv"),
                               file("start.wav"), file("usb.wav")});
  ASSERT_EQ(usb.exitCode, 0) << usb.errorText;
  const auto rows = readCsv(file("s.csv"));
  ASSERT_EQ(rows.size(), 4095u);  // M - 1: the engine never refreshes bin M-1
  EXPECT_DOUBLE_EQ(rows.front().hz, -24000.0);
  const auto strongest = std::max_element(
      rows.begin(), rows.end(), [](auto& a, auto& b) { return a.db < b.db; });
  EXPECT_NEAR(strongest->hz, 123 * 11.71875, 0.01);
  const auto mirror = std::find_if(rows.begin(), rows.end(), [](auto& r) {
    return std::abs(r.hz + 123 * 11.71875) < 0.01;
  });
  ASSERT_NE(mirror, rows.end());
  EXPECT_GT(strongest->db - mirror->db, 40.0);

  // Blocks 2..4 of the output: the carrier sets in during block 1 and the
  // filter has settled a block later.
  constexpr std::size_t kFrom = 2 * 2048, kLength = 3 * 2048;
  auto carrier = [](const std::vector<double>& x) {
    double best = 0;
    for (double f = 1430; f <= 1450; f += 0.5) {
      best = std::max(best, toneAmplitude(x, f, 48000, kFrom, kLength));
    }
    return best;
  };
  const auto usbAudio = readWav(file("usb.wav")).channel(0, 16);
  const double usbTone = carrier(usbAudio);
  // The carrier is nearly all of the audio: a lone tone's RMS is A/sqrt(2).
  EXPECT_GT(usbTone, 0.9 * std::sqrt(2.0) * rms(usbAudio, kFrom, kLength));
  EXPECT_GT(usbTone, 100.0);

  const RunResult lsb = runRx({"--fixed-gain", "1", "--lsb", file("start.wav"),
                               file("lsb.wav")});
  ASSERT_EQ(lsb.exitCode, 0) << lsb.errorText;
  EXPECT_LT(carrier(readWav(file("lsb.wav")).channel(0, 16)), usbTone / 100.0);
}

TEST_F(RecordingsTest, WholeHfdlRecordingKeepsItsLength) {
  const RunResult run = runRx({kHfdl48k, file("out.wav")});
  ASSERT_EQ(run.exitCode, 0) << run.errorText;
  EXPECT_EQ(readWav(file("out.wav")).frames(), readWav(kHfdl48k).frames());
}

TEST_F(RecordingsTest, UnsupportedRatesAreRefused) {
  for (const char* name : {"HFDL_test_12k_cf13270_df13270.wav",
                           "20200813T065220Z_77500_HB9ODP_iq.wav"}) {
    if (!fs::exists(kIq / name)) continue;
    const RunResult run = runRx({kIq / name, file("out.wav")});
    EXPECT_EQ(run.exitCode, 2) << name;
    EXPECT_NE(run.errorText.find("unsupported sample rate"), std::string::npos)
        << run.errorText;
    EXPECT_TRUE(folderContents().empty()) << name;
  }
}

}  // namespace
}  // namespace bw::rx::test
