// brackwell-rx --jobs: the output (and the spectrum file) of several threads
// is byte for byte that of one, at every block order, on the real recordings
// and on a synthetic one whose silent stretches and level changes give the
// automatic gain a long memory across segment boundaries. The runs share a
// cache folder of the test's own, so that both use the same transform plans.
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "rx_test_support.h"

namespace bw::rx::test {
namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class JobsTest : public RxTest {
 protected:
  void SetUp() override {
    RxTest::SetUp();
    if (const char* old = std::getenv("XDG_CACHE_HOME")) oldCache_ = old;
    setenv("XDG_CACHE_HOME", file("cache").c_str(), 1);
  }
  void TearDown() override {
    if (oldCache_) {
      setenv("XDG_CACHE_HOME", oldCache_->c_str(), 1);
    } else {
      unsetenv("XDG_CACHE_HOME");
    }
    RxTest::TearDown();
  }
  // Runs the input with --jobs 1 and --jobs 4 and expects identical files.
  void expectSameWithJobs(const fs::path& input, std::vector<std::string> options) {
    std::string outputs[2], spectra[2];
    const char* jobs[] = {"1", "4"};
    for (int j = 0; j < 2; ++j) {
      std::vector<std::string> args = options;
      const fs::path out = file(std::string("out") + jobs[j] + ".wav");
      const fs::path csv = file(std::string("s") + jobs[j] + ".csv");
      args.insert(args.end(), {"--jobs", jobs[j], "--spectrum", csv.string(),
                               input.string(), out.string()});
      const RunResult r = runRx(args);
      ASSERT_EQ(r.exitCode, 0) << r.errorText;
      outputs[j] = slurp(out);
      spectra[j] = slurp(csv);
    }
    EXPECT_GT(outputs[0].size(), 44u);
    EXPECT_TRUE(outputs[0] == outputs[1]) << "output differs";
    EXPECT_TRUE(spectra[0] == spectra[1]) << "spectrum differs";
  }

  std::optional<std::string> oldCache_;
};

// Loud, quiet, silent and loud again, long enough that every order has
// several blocks and the silences span segment boundaries.
Frames levelsAndSilences() {
  const int rate = 48000;
  Frames all;
  auto append = [&](double amplitude, double hz, double seconds) {
    const Frames part = complexTone(amplitude, hz, rate, static_cast<std::int64_t>(seconds * rate));
    all.insert(all.end(), part.begin(), part.end());
  };
  append(12000, 1000, 0.5);
  append(300, 1700, 0.4);
  append(0, 0, 0.7);
  append(9000, 600, 0.3);
  append(0, 0, 1.1);
  append(20, 2000, 0.6);
  append(15000, 1200, 0.4);
  return all;
}

TEST_F(JobsTest, SyntheticRecordingAtEveryOrder) {
  writeWav(file("in.wav"), levelsAndSilences(), 48000, Storage::Pcm16);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers see the same code at every order: the ends and the middle.
  constexpr int kOrderStep = 4;
#else
  constexpr int kOrderStep = 1;
#endif
  for (int order = 8; order <= 16; order += kOrderStep) {
    SCOPED_TRACE("order " + std::to_string(order));
    expectSameWithJobs(file("in.wav"), {"--order", std::to_string(order)});
  }
  // Fixed gain and another hold count take other paths through the chain.
  expectSameWithJobs(file("in.wav"), {"--order", "9", "--hold", "3", "--squelch", "40"});
  expectSameWithJobs(file("in.wav"), {"--order", "9", "--fixed-gain", "2"});
  expectSameWithJobs(file("in.wav"), {"--order", "9", "--as-engine"});
}

TEST_F(JobsTest, RecordingOfSeveralRounds) {
  // A round is one segment more than threads, 2^17 frames each: four times
  // the levels and silences make 768000 frames, two rounds at four threads,
  // so chains carry on across rounds and the file work of one round runs
  // beside the chains of the next.
  const Frames once = levelsAndSilences();
  Frames all;
  for (int i = 0; i < 4; ++i) all.insert(all.end(), once.begin(), once.end());
  writeWav(file("in.wav"), all, 48000, Storage::Pcm16);
  expectSameWithJobs(file("in.wav"), {"--order", "10"});
}

TEST_F(JobsTest, RealRecordings) {
  const fs::path hfdl = fs::path(BW_IQ_DIR) / "HFDL_test_48k_cf13270.wav";
  if (!fs::exists(hfdl)) GTEST_SKIP() << BW_IQ_DIR << " holds no recordings";
  expectSameWithJobs(hfdl, {});
  expectSameWithJobs(hfdl, {"--order", "8", "--tune", "-1000", "--lsb"});
}

TEST_F(JobsTest, JobsOutsideTheRangeAreRefused) {
  writeWav(file("in.wav"), complexTone(1000, 500, 48000, 4096), 48000, Storage::Pcm16);
  for (const char* bad : {"0", "65", "x"}) {
    const RunResult r = runRx({"--jobs", bad, file("in.wav").string(), file("o.wav").string()});
    EXPECT_EQ(r.exitCode, 2) << bad;
    EXPECT_NE(r.errorText.find("--jobs"), std::string::npos) << r.errorText;
  }
}

}  // namespace
}  // namespace bw::rx::test
