// The command line of brackwell-rx: two file names and options that change
// single fields of the console's receive-parameter block.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "dsp/receive_params.h"

namespace bw::rx {

constexpr int kDefaultOrder = 11;  // 2048 frames a block, as the console
constexpr int kMaxJobs = 64;

// One job per core the system reports (1 when it reports none), at most
// kMaxJobs.
int defaultJobs();

// The block brackwell-rx starts from: the console's receiver with every
// receiver extension on (the engine and the console leave them off).
ReceiveParams toolParams();

struct RxOptions {
  ReceiveParams params = toolParams();
  int order = kDefaultOrder;  // block order: 2^order frames per block
  int jobs = defaultJobs();   // threads running the chain
  std::string inputPath;
  std::string outputPath;
  std::string spectrumPath;   // empty: no spectrum file
  bool acceptShort = false;   // --accept-short: a recording shorter than its
                              // header says is processed as far as it goes
  bool asEngine = false;      // --as-engine: exactly what the engine plays
                              // (the AGC starts empty, no extensions unless
                              // switched on by their options; float as
                              // 32-bit PCM)
  bool showHelp = false;      // --help: print usage, nothing else
  bool showVersion = false;   // --version: print the version, nothing else
};

struct ParseResult {
  RxOptions options;
  std::string error;  // one line naming the option and why; empty when valid
  bool ok() const { return error.empty(); }
};

// Parses the arguments after the program name. --flags replaces the whole
// flags word before any other option changes a field, and --as-engine
// clears the extensions word before the extensions' own options switch
// single ones, wherever they stand.
// Checks every value that does not depend on the recording.
ParseResult parseOptions(std::span<const std::string_view> args);

// The checks that need the recording's sample rate (Hz): the tuning offset
// within half the rate and the passband below it. Returns an error line or "".
std::string checkAgainstRate(const RxOptions& options, int sampleRate);

// The usage text printed by --help.
std::string usageText();
// The line printed by --version: "brackwell-rx VERSION".
std::string versionText();

}  // namespace bw::rx
