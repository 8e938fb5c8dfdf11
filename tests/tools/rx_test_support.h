// Helpers of the brackwell-rx tests: a scratch folder per test, recordings
// (support/wav_file.h), the program run as a subprocess, and a direct
// single-frequency DFT for measuring tones.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <sys/types.h>

#include <string>
#include <vector>

#include "support/wav_file.h"

namespace bw::rx::test {

namespace fs = std::filesystem;

using bw::test::Frames;
using bw::test::readWav;
using bw::test::Recording;
using bw::test::Storage;
using bw::test::writeWav;

// A complex tone A·exp(j2π f n / rate), n = 0..frames-1, rounded: I = A cos,
// Q = A sin (a negative f lies below the band centre).
Frames complexTone(double amplitude, double frequencyHz, int rate, std::int64_t frames);

struct RunResult {
  int exitCode = -1;
  std::string errorText;  // what the program wrote on standard error
};
// Runs brackwell-rx with `args` and waits for it; with `stdinBytes`, its
// standard input is a pipe those bytes are written to.
RunResult runRx(const std::vector<std::string>& args);
RunResult runRx(const std::vector<std::string>& args, const std::string& stdinBytes);
// Starts brackwell-rx with `args` without waiting for it; standard input and
// standard error are the given descriptors when >= 0. Returns its PID, or -1.
pid_t spawnRx(const std::vector<std::string>& args, int stdinFd, int stderrFd);

// Amplitude of the sinusoid at frequencyHz in x[from, from + length): the
// magnitude of the direct DFT at that frequency, times 2 / length.
double toneAmplitude(const std::vector<double>& x, double frequencyHz, int rate,
                     std::size_t from, std::size_t length);
double rms(const std::vector<double>& x, std::size_t from, std::size_t length);

// A fresh scratch folder for each test, removed afterwards.
class RxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  fs::path file(const std::string& name) const { return dir_ / name; }
  // The names in the scratch folder, hidden temporaries included.
  std::vector<std::string> folderContents() const;

  fs::path dir_;
};

}  // namespace bw::rx::test
