// Bad input to brackwell-rx: one line on standard error naming the file or
// option and the reason, exit status 2, and nothing left in the output's
// folder (neither the output nor a temporary). The input is never touched.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "rx_test_support.h"

extern char** environ;

namespace bw::rx::test {
namespace {

class RefusalTest : public RxTest {
 protected:
  void SetUp() override {
    RxTest::SetUp();
    writeWav(file("in.wav"), complexTone(1000, 1500, 48000, 5000), 48000, Storage::Pcm16);
  }
  // Runs and checks the refusal, the message and that the folder holds
  // neither the output nor a (hidden) temporary.
  void expectRefused(const std::vector<std::string>& args, const std::string& reason) {
    const RunResult run = runRx(args);
    EXPECT_EQ(run.exitCode, 2) << run.errorText;
    EXPECT_NE(run.errorText.find(reason), std::string::npos)
        << "expected '" << reason << "' in: " << run.errorText;
    EXPECT_EQ(run.errorText.rfind("brackwell-rx: ", 0), 0u) << run.errorText;
    EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1)
        << "one line: " << run.errorText;
    for (const std::string& name : folderContents()) {
      EXPECT_TRUE(name != "out.wav" && name != "s.csv" && name[0] != '.') << name;
    }
  }
  std::string in() const { return file("in.wav").string(); }
  std::string out() const { return file("out.wav").string(); }
};

TEST_F(RefusalTest, UnreadableFiles) {
  expectRefused({file("missing.wav"), out()}, "missing.wav: cannot open");
  std::ofstream(file("text.wav")) << "not a recording\n";
  expectRefused({file("text.wav"), out()}, "text.wav: not a readable recording");
  fs::create_directory(file("folder"));
  expectRefused({file("folder"), out()}, "is a directory");
}

TEST_F(RefusalTest, RecordingsThatAreNotStereoIq) {
  writeWav(file("mono.wav"), Frames(4000, 7), 48000, Storage::Pcm16, 1);
  expectRefused({file("mono.wav"), out()}, "mono.wav: 1 channel");
  writeWav(file("three.wav"), Frames(3000, 7), 48000, Storage::Pcm16, 3);
  expectRefused({file("three.wav"), out()}, "three.wav: 3 channels");
  writeWav(file("rate.wav"), Frames(4000, 7), 44000, Storage::Pcm16);
  expectRefused({file("rate.wav"), out()}, "unsupported sample rate 44000");

  SF_INFO info{};
  info.samplerate = 48000;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_ULAW;
  SNDFILE* f = sf_open(file("ulaw.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  const short zeros[200] = {};
  sf_writef_short(f, zeros, 100);
  sf_close(f);
  expectRefused({file("ulaw.wav"), out()}, "unsupported sample format");
}

TEST_F(RefusalTest, OptionsOutOfRangeOrMalformed) {
  const std::vector<std::vector<std::string>> cases = {
      {"--order", "7"},        {"--order", "17"},      {"--order", "11x"},
      {"--hold", "0"},         {"--hold", "11"},       {"--tune", "1e3"},
      {"--tune", "24001"},     {"--tune", "-24001"},   {"--low", "3000"},
      {"--high", "6001"},      {"--low", "49"},        {"--fixed-gain", "0"},
      {"--fixed-gain", "nan"}, {"--gain", "-1"},       {"--output-gain", "inf"},
      {"--squelch", "-0.5"},   {"--gain-coef", "-1"},  {"--phase-coef", ""},
      {"--flags", "xyz"},      {"--flags", "0x1FFFFFFFF"}, {"--flags", "-1"},
      {"--frobnicate"},        {"--lsb=1"},            {"--gain", "5", "--fixed-gain", "2"},
      {"--phase-coef", "1e308"}, {"--phase-coef", "-1.5"}, {"--gain-coef", "1e308"},
      {"--mode", "ssb"},       {"--mode", "AM"},       {"--pitch", "299"},
      {"--pitch", "1001"},     {"--nr=1"},             {"--high", "8001", "--mode", "fm"},
      {"--high", "6001", "--mode", "am"},
  };
  for (std::vector<std::string> args : cases) {
    const std::string option = args.front().substr(0, args.front().find('='));
    args.push_back(in());
    args.push_back(out());
    SCOPED_TRACE(args[0] + " " + args[1]);
    expectRefused(args, option);
  }
  expectRefused({in()}, "expected INPUT.wav and OUTPUT.wav, got 1");
  expectRefused({in(), out(), file("third.wav")}, "got 3");
  expectRefused({in(), out(), "--tune"}, "--tune needs a value");
}

TEST_F(RefusalTest, NeverOverwritesTheInput) {
  const auto before = readWav(file("in.wav")).samples;
  expectRefused({in(), in()}, "never overwrites its input");
  fs::create_hard_link(file("in.wav"), file("hard.wav"));
  expectRefused({in(), file("hard.wav")}, "never overwrites");
  fs::create_symlink(file("in.wav"), file("soft.wav"));
  expectRefused({file("soft.wav"), in()}, "never overwrites");
  expectRefused({"--spectrum", in(), in(), out()}, "--spectrum");
  expectRefused({"--spectrum", out(), in(), out()}, "--spectrum");
  EXPECT_EQ(readWav(file("in.wav")).samples, before);
}

TEST_F(RefusalTest, OutputThatCannotBeCreated) {
  expectRefused({in(), file("no/such/folder/out.wav")}, "cannot write");
  fs::create_directory(file("outdir"));
  expectRefused({in(), file("outdir")}, "is a directory");
}

// SIGINT in the middle of a run: the program stops between blocks, removes
// its temporary and leaves nothing under the output name.
TEST_F(RefusalTest, InterruptedRunLeavesNoOutput) {
  writeWav(file("long.wav"), complexTone(1000, 1500, 48000, 48000 * 30), 48000,
           Storage::Pcm16);
  std::string program = BW_RX_PATH;
  std::string a1 = file("long.wav"), a2 = out(), a3 = "--spectrum",
              a4 = file("s.csv");
  char* argv[] = {program.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);

  // Wait for the temporary (a hidden name beside out.wav) to appear.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (folderContents().size() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the run ended before the signal";
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"in.wav", "long.wav"}));
}

}  // namespace
}  // namespace bw::rx::test
