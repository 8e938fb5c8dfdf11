// brackwell-rx and the files around it: what already stands at an output
// name (device nodes, FIFOs, links) is never renamed over, two names for one
// file are refused, a recording shorter than its header is not passed off as
// complete, and every signal that ends a run leaves nothing behind. Device
// nodes and FIFOs are made in the test's own folder.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "rx_test_support.h"

extern char** environ;

namespace bw::rx::test {
namespace {

using Clock = std::chrono::steady_clock;

mode_t typeOf(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// brackwell-rx started in the background; standard input is `stdinFd` when
// given, standard error goes nowhere.
struct Background {
  pid_t pid = -1;

  Background(const std::vector<std::string>& args, int stdinFd = -1) {
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid = spawnRx(args, stdinFd, devNull);
    if (devNull >= 0) ::close(devNull);
  }
  ~Background() {
    if (pid > 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }

  // Waits until the program catches SIGINT, so a signal sent now is its own.
  bool handlersInstalled() const {
    for (auto end = Clock::now() + std::chrono::seconds(20); Clock::now() < end;) {
      std::ifstream status("/proc/" + std::to_string(pid) + "/status");
      for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigCgt:", 0) == 0 &&
            (std::stoull(line.substr(7), nullptr, 16) & (1ull << (SIGINT - 1)))) {
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  // The exit status, or -1 when the program has not ended within `limit`
  // (it is killed then) or ended by a signal. A signal that comes while the
  // transforms are still being planned takes effect when planning ends,
  // which on a busy machine with a sanitizer can take many seconds.
  int exitWithin(std::chrono::seconds limit = std::chrono::seconds(90)) {
    for (auto end = Clock::now() + limit; Clock::now() < end;) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }
};

class FileSafetyTest : public RxTest {
 protected:
  void SetUp() override {
    RxTest::SetUp();
    writeWav(file("in.wav"), complexTone(1000, 1500, 48000, 48000), 48000, Storage::Pcm16);
  }
  std::string in() const { return file("in.wav").string(); }
  std::string out() const { return file("out.wav").string(); }
  bool makeNode(const std::string& name, mode_t type, unsigned major, unsigned minor) {
    return ::mknod(file(name).c_str(), type | 0600, makedev(major, minor)) == 0;
  }
  bool hiddenTemporaryPresent() const {
    for (const std::string& name : folderContents()) {
      if (name[0] == '.') return true;
    }
    return false;
  }
};

TEST_F(FileSafetyTest, NamesThatAreNotRegularFilesAreWrittenInPlaceOrRefused) {
  if (!makeNode("null", S_IFCHR, 1, 3)) GTEST_SKIP() << "mknod needs CAP_MKNOD";
  ASSERT_TRUE(makeNode("disk", S_IFBLK, 7, 250));
  fs::create_symlink(file("null"), file("link"));
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);

  EXPECT_EQ(runRx({"--spectrum=" + file("null").string(), in(), out()}).exitCode, 0);
  EXPECT_EQ(runRx({in(), file("link")}).exitCode, 0);
  EXPECT_EQ(typeOf(file("null")), S_IFCHR);
  EXPECT_EQ(typeOf(file("link")), S_IFLNK);

  // A WAV header is written last, so a FIFO cannot take the output; the
  // refusal comes before the open that would wait for a reader.
  RunResult run = runRx({in(), file("fifo")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errorText.find("FIFO"), std::string::npos) << run.errorText;
  run = runRx({in(), file("disk")});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errorText.find("block device"), std::string::npos) << run.errorText;
  EXPECT_EQ(runRx({"--spectrum", file("disk"), in(), file("o2.wav")}).exitCode, 2);
  EXPECT_EQ(typeOf(file("disk")), S_IFBLK);
  EXPECT_EQ(typeOf(file("fifo")), S_IFIFO);
  EXPECT_FALSE(hiddenTemporaryPresent());

  // The spectrum streams into a FIFO.
  std::string received;
  std::thread reader([&] {
    std::ifstream fifo(file("fifo"));
    std::stringstream text;
    text << fifo.rdbuf();
    received = text.str();
  });
  EXPECT_EQ(runRx({"--spectrum", file("fifo"), in(), file("o3.wav")}).exitCode, 0);
  reader.join();
  EXPECT_EQ(received.rfind("frequency_hz,level_db\n", 0), 0u);
  EXPECT_GT(std::count(received.begin(), received.end(), '\n'), 4000);
  EXPECT_EQ(typeOf(file("fifo")), S_IFIFO);
}

TEST_F(FileSafetyTest, OneFileUnderTwoSpellingsIsRefused) {
  fs::create_directory(file("sub"));
  const RunResult run =
      runRx({"--spectrum", (dir_ / "sub" / ".." / "out.wav").string(), in(), out()});
  EXPECT_EQ(run.exitCode, 2) << run.errorText;
  EXPECT_NE(run.errorText.find("also the output"), std::string::npos) << run.errorText;
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"in.wav", "sub"}));
}

TEST_F(FileSafetyTest, TruncatedRecordingFailsUnlessShortFilesAreAccepted) {
  // 44 header bytes and 4 bytes a frame; the header still declares 48000.
  fs::resize_file(file("in.wav"), 44 + 23994 * 4);
  RunResult run = runRx({in(), out()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.errorText.find("declares 48000 frames, 23994 could be read"),
            std::string::npos)
      << run.errorText;
  EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1);
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"in.wav"}));

  run = runRx({"--accept-short", in(), out()});
  EXPECT_EQ(run.exitCode, 0) << run.errorText;
  EXPECT_EQ(readWav(file("out.wav")).frames(), 23994);
}

// Headers that cannot or do not give the data's length correctly, while the
// data is whole: a stream's placeholder sizes (sox's 0x7FFFF000, 0xFFFFFFFF)
// and a wrong block-align field, from a file and through a pipe (with
// several threads). Each gives the intact file's samples; only data
// that really ends early is truncated, also in a pipe.
TEST_F(FileSafetyTest, OnlyARecordingThatEndsEarlyIsTruncated) {
  std::ifstream source(file("in.wav"), std::ios::binary);
  const std::string intact((std::istreambuf_iterator<char>(source)), {});
  ASSERT_EQ(intact.substr(36, 4), "data");  // 44-byte header, data size at 40
  ASSERT_EQ(runRx({"--order", "9", in(), out()}).exitCode, 0);
  const std::vector<std::int32_t> expected = readWav(file("out.wav")).samples;
  auto patched = [&](std::size_t at, std::uint32_t value, int bytes) {
    std::string b = intact;
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(value >> (8 * i));
    return b;
  };
  const std::string variants[] = {patched(40, 0x7FFFF000u, 4), patched(40, 0xFFFFFFFFu, 4),
                                   patched(32, 2, 2), patched(32, 8, 2)};
  for (const std::string& bytes : variants) {
    SCOPED_TRACE(std::to_string(&bytes - variants));
    std::ofstream(file("v.wav"), std::ios::binary) << bytes;
    for (const bool pipe : {false, true}) {
      const RunResult r =
          pipe ? runRx({"--order", "9", "--jobs", "3", "/dev/stdin", out()}, bytes)
               : runRx({"--order", "9", file("v.wav").string(), out()});
      ASSERT_EQ(r.exitCode, 0) << (pipe ? "pipe: " : "file: ") << r.errorText;
      // (Written as RF64 while the length is unknown, a WAV file in the end.)
      EXPECT_TRUE(readWav(file("out.wav")).samples == expected) << (pipe ? "pipe" : "file");
    }
  }
  const RunResult shortPipe = runRx({"/dev/stdin", out()}, intact.substr(0, 44 + 1000 * 4));
  EXPECT_EQ(shortPipe.exitCode, 1);
  EXPECT_NE(shortPipe.errorText.find("declares 48000 frames, 1000 could be read"),
            std::string::npos) << shortPipe.errorText;
}

TEST_F(FileSafetyTest, OutputNameOfMaximalLength) {
  const std::string name(250, 'o');
  const RunResult run = runRx({in(), file(name)});
  EXPECT_EQ(run.exitCode, 0) << run.errorText;
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"in.wav", name}));
}

TEST_F(FileSafetyTest, InterruptWhileWaitingForAFifoWriter) {
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
  Background rx({file("fifo"), out()});
  ASSERT_TRUE(rx.handlersInstalled());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ::kill(rx.pid, SIGINT);
  EXPECT_EQ(rx.exitWithin(), 130);
  EXPECT_EQ(folderContents(), (std::vector<std::string>{"fifo", "in.wav"}));
}

// A recording arriving through a pipe: part of it, a signal, then (unless the
// second signal already ended the run) the end of the stream.
TEST_F(FileSafetyTest, EverySignalThatEndsARunLeavesNothing) {
  std::ifstream source(file("in.wav"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(source)), {});
  for (const std::vector<int>& signals :
       std::vector<std::vector<int>>{{SIGINT}, {SIGHUP}, {SIGPIPE}, {SIGUSR1}, {SIGTERM, SIGTERM}}) {
    SCOPED_TRACE("signal " + std::to_string(signals[0]) + " x" + std::to_string(signals.size()));
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    // A small order: its transform plans quickly even in a sanitizer build on
    // a busy machine, so the run is reading, not planning, when the stream
    // ends.
    Background rx({"--order", "8", "/dev/stdin", out()}, fds[0]);
    ::close(fds[0]);
    ASSERT_EQ(::write(fds[1], bytes.data(), 50000), 50000);
    for (auto end = Clock::now() + std::chrono::seconds(20);
         !hiddenTemporaryPresent() && Clock::now() < end;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(hiddenTemporaryPresent());
    for (int s : signals) {
      ::kill(rx.pid, s);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Stuck in a read: only a second signal can end the run before the end
    // of the stream.
    if (signals.size() > 1) {
      EXPECT_EQ(rx.exitWithin(), 130);
    }
    ::close(fds[1]);
    if (rx.pid > 0) {
      EXPECT_EQ(rx.exitWithin(), 130);
    }
    EXPECT_EQ(folderContents(), (std::vector<std::string>{"in.wav"}));
  }
}

}  // namespace
}  // namespace bw::rx::test
