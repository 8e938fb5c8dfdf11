// brackwell-rx with its transform wisdom in a cache folder of the test's own:
// a first run leaves the wisdom, later runs give the same output, and a
// corrupt file, a folder that cannot be made or written, and two runs at once
// all leave a working program. Runs that plan afresh may pick other FFTW
// algorithms, so their outputs are compared to within one sample step; a run
// on the wisdom of an earlier one must match it byte for byte.
#include <fftw3.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "primitives/fft_wisdom.h"
#include "rx_test_support.h"

namespace bw::rx::test {
namespace {

class WisdomTest : public RxTest {
 protected:
  void SetUp() override {
    RxTest::SetUp();
    const char* old = std::getenv("XDG_CACHE_HOME");
    hadCache_ = old != nullptr;
    if (hadCache_) oldCache_ = old;
    writeWav(file("in.wav"), complexTone(8000, 1200, 48000, 3 * 2048 + 100),
             48000, Storage::Pcm16);
    // Until a test says otherwise: a cache folder that cannot be made, so
    // that no run touches the user's cache.
    std::ofstream(file("blocker")) << "a file where the cache folder would go";
    useCache(file("blocker"));
  }
  void TearDown() override {
    if (hadCache_) {
      setenv("XDG_CACHE_HOME", oldCache_.c_str(), 1);
    } else {
      unsetenv("XDG_CACHE_HOME");
    }
    if (fs::exists(wisdomFile().parent_path())) {
      fs::permissions(wisdomFile().parent_path(), fs::perms::owner_all,
                      fs::perm_options::add);
    }
    RxTest::TearDown();
  }
  void useCache(const fs::path& folder) {
    setenv("XDG_CACHE_HOME", folder.c_str(), 1);
  }
  fs::path wisdomFile() const { return file("cache") / "brackwell" / "fftw-wisdom"; }

  // Runs brackwell-rx at order 10 and returns the output file's bytes.
  std::string run(const std::string& out) {
    const RunResult r = runRx({"--order", "10", file("in.wav").string(), file(out).string()});
    EXPECT_EQ(r.exitCode, 0) << r.errorText;
    return slurp(file(out));
  }
  static std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // Same frame count, every sample within one step.
  void expectSameAudio(const std::string& a, const std::string& b) {
    const Recording x = readWav(file(a)), y = readWav(file(b));
    ASSERT_EQ(x.samples.size(), y.samples.size());
    ASSERT_FALSE(x.samples.empty());
    for (std::size_t i = 0; i < x.samples.size(); ++i) {
      ASSERT_LE(std::abs((x.samples[i] >> 16) - (y.samples[i] >> 16)), 1) << a << " " << b << " at " << i;
    }
  }
  static bool validWisdom(const fs::path& p) {
    return fftw_import_wisdom_from_string(slurp(p).c_str()) != 0;
  }

  bool hadCache_ = false;
  std::string oldCache_;
};

TEST_F(WisdomTest, FirstRunLeavesWisdomLaterRunsGiveTheSameOutput) {
  useCache(file("cache"));
  const std::string first = run("a.wav");
  ASSERT_TRUE(fs::exists(wisdomFile()));
  EXPECT_TRUE(validWisdom(wisdomFile()));
  EXPECT_EQ(run("b.wav"), first);
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(wisdomFile().parent_path()),
                          fs::directory_iterator()), 1);
}

TEST_F(WisdomTest, CorruptFileIsReplacedAndChangesNothing) {
  run("ref.wav");
  useCache(file("cache"));
  fs::create_directories(wisdomFile().parent_path());
  std::ofstream(wisdomFile()) << "(fftw-3.3 fftw_wisdom #x1 (garbage";
  run("a.wav");
  expectSameAudio("a.wav", "ref.wav");
  EXPECT_TRUE(validWisdom(wisdomFile()));
}

TEST_F(WisdomTest, FolderThatCannotBeMadeOrWrittenOnlyCostsPlanning) {
  run("ref.wav");  // the cache folder would be below a file
  EXPECT_TRUE(fs::is_regular_file(file("blocker")));

  fs::create_directories(wisdomFile().parent_path());
  fs::permissions(wisdomFile().parent_path(),
                  fs::perms::owner_read | fs::perms::owner_exec);
  useCache(file("cache"));
  run("a.wav");
  expectSameAudio("a.wav", "ref.wav");
  if (geteuid() != 0) {  // root writes anyway
    EXPECT_FALSE(fs::exists(wisdomFile()));
  }
}

TEST_F(WisdomTest, TwoRunsAtOnceBothWorkAndLeaveValidWisdom) {
  useCache(file("cache"));
  std::thread other([&] { run("b.wav"); });
  run("a.wav");
  other.join();
  expectSameAudio("a.wav", "b.wav");
  EXPECT_TRUE(validWisdom(wisdomFile()));
  const std::string third = run("c.wav");
  expectSameAudio("c.wav", "a.wav");
  EXPECT_EQ(run("d.wav"), third);
}

TEST_F(WisdomTest, AFifoOrAFolderAtTheWisdomPathIsLeftAloneAndOnlyCostsPlanning) {
  // Opening a FIFO for reading would wait for a writer for good, so the run
  // is bounded here rather than left to the test timeout.
  auto runBounded = [&](const std::string& out) {
    const pid_t pid = spawnRx({"--order", "10", file("in.wav").string(), file(out).string()},
                              -1, -1);
    ASSERT_GT(pid, 0);
    int status = 0;
    for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
      if (waited > 60000) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "brackwell-rx hangs on what is at the wisdom path";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  };
  run("ref.wav");
  useCache(file("cache"));
  fs::create_directories(wisdomFile().parent_path());

  ASSERT_EQ(mkfifo(wisdomFile().c_str(), 0600), 0);
  EXPECT_FALSE(nsp::wisdomWritable(wisdomFile()));  // so planning is quick
  runBounded("fifo.wav");
  expectSameAudio("fifo.wav", "ref.wav");
  EXPECT_TRUE(fs::is_fifo(wisdomFile()));

  fs::remove(wisdomFile());
  fs::create_directory(wisdomFile());
  EXPECT_FALSE(nsp::wisdomWritable(wisdomFile()));
  EXPECT_FALSE(nsp::importWisdomFile(wisdomFile()));
  runBounded("folder.wav");
  expectSameAudio("folder.wav", "ref.wav");
  EXPECT_TRUE(fs::is_directory(wisdomFile()));
  EXPECT_TRUE(fs::is_empty(wisdomFile()));
  // Nor is anything left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(wisdomFile().parent_path()),
                          fs::directory_iterator()), 1);

  fs::remove(wisdomFile());
  EXPECT_TRUE(nsp::wisdomWritable(wisdomFile()));  // nothing there: ours to write
}

TEST(WisdomPathTest, CacheHomeThenHomeAbsolutePathsOnly) {
  EXPECT_EQ(nsp::wisdomFilePath("/x/cache/", "/home/u"), "/x/cache/brackwell/fftw-wisdom");
  EXPECT_EQ(nsp::wisdomFilePath("relative", "/home/u"), "/home/u/.cache/brackwell/fftw-wisdom");
  EXPECT_EQ(nsp::wisdomFilePath(nullptr, "/home/u"), "/home/u/.cache/brackwell/fftw-wisdom");
  EXPECT_EQ(nsp::wisdomFilePath("", nullptr), "");
}

}  // namespace
}  // namespace bw::rx::test
