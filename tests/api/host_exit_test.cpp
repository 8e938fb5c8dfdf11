// Host programs (tests/api/exit_host.c) that leave without unloading the
// engine: by returning from main, by exit(), from a forked child, and after
// sdrStop gave streams up on a frozen sound server (which pins the library).
// Each must exit 0: the engine's tear-down at process exit must touch nothing
// the exit has already taken down. Both as a dlopen host and as a linked one,
// with a private PulseAudio daemon as the sound server. Also: a host that
// loads and unloads the engine again and again does not grow.
//
// The normal build only: the sanitizers' runtimes change what happens at
// exit (they hid the crash these tests hold) and the heap figures.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/private_pulse.h"

namespace bw {
namespace {

struct Host {
  const char* name;
  std::vector<std::string> command;  // program (and library) before the mode
};

class HostExitTest : public ::testing::TestWithParam<Host> {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "exit-time behaviour is tested in the normal build";
#endif
    const std::string missing = test::PrivatePulse::missingTools();
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_TRUE(pulse_.start()) << pulse_.error();
  }

  // Runs the host in `mode` (with `extra` arguments); its exit status, or -1
  // when it died of a signal or ran over 20 s.
  int run(const std::string& mode, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = GetParam().command;
    argv.insert(argv.begin() + 1, mode);
    argv.insert(argv.end(), extra.begin(), extra.end());
    output_ = pulse_.folder() + "/" + mode + ".txt";
    return pulse_.run(argv, 20000, output_);
  }
  std::string output() const {
    std::ifstream in(output_);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  test::PrivatePulse pulse_;
  std::string output_;
};

TEST_P(HostExitTest, LeavingWhileStreamingExitsZero) {
  EXPECT_EQ(run("return"), 0) << output();
  EXPECT_EQ(run("exit"), 0) << output();
  EXPECT_EQ(run("fork"), 0) << output();
}

TEST_P(HostExitTest, LeavingAfterStreamsWereGivenUpOnAFrozenServerExitsZero) {
  EXPECT_EQ(run("frozen", {std::to_string(pulse_.pid())}), 0) << output();
  pulse_.signal(SIGCONT);  // the destructor then stops it by PID
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, HostExitTest,
    ::testing::Values(Host{"dlopen", {BW_EXIT_HOST_DLOPEN, BW_LIBRARY_PATH}},
                      Host{"linked", {BW_EXIT_HOST_LINKED}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HostReload, HeapInUseDoesNotGrowWithEachLoad) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "heap figures are measured in the normal build";
#endif
  // No sound server: the device lists come from ALSA alone. Each cycle
  // configures (and so plans transforms with FFTW, which this host does not
  // load itself). FFTW's planner state lost with each unload was about
  // 130 kB a cycle. What remains comes from ALSA's plugin modules, whose
  // libraries allocate in their constructors each time ALSA loads them for
  // PortAudio's device probe (about 12 kB with libasound2-plugins' a52).
  test::PrivatePulse scratch;  // only for its run() helper
  const std::string out = scratch.folder() + "/reload.txt";
  ASSERT_EQ(scratch.run({BW_EXIT_HOST_DLOPEN, "reload", BW_LIBRARY_PATH, "15"},
                        60000, out),
            0);
  std::ifstream in(out);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t at = text.find("growth ");
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_LT(std::stol(text.substr(at + 7)), 32 * 1024) << text;
}

}  // namespace
}  // namespace bw
