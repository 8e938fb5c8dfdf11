#include "rx_main.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "iq_reader.h"
#include "iq_writer.h"
#include "options.h"
#include "pending_file.h"
#include "progress.h"
#include "receive_loop.h"
#include "run_format.h"
#include "spectrum_average.h"
#include "stop_signal.h"
#include "tool_error.h"

namespace bw::rx {

namespace {
namespace fs = std::filesystem;

void say(const std::string& line) {
  std::fprintf(stderr, "brackwell-rx: %s\n", line.c_str());
}

// True when both names lead to the same file: the same device and inode when
// both exist (a hard or symbolic link counts as the file), or the same path
// once made absolute and resolved as far as it exists ("./o.wav" and
// "sub/../o.wav" are "o.wav" before either is created).
bool sameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec) && !ec) return true;
  const fs::path ca = fs::weakly_canonical(fs::absolute(a, ec), ec);
  if (ec) return false;
  const fs::path cb = fs::weakly_canonical(fs::absolute(b, ec), ec);
  return !ec && ca == cb;
}

// Refuses output names that would destroy the input or each other.
void checkOutputNames(const RxOptions& o) {
  if (sameFile(o.inputPath, o.outputPath)) {
    throw ToolError(kExitBadInput, o.outputPath + ": is the input recording; "
                                                  "brackwell-rx never overwrites its input");
  }
  std::error_code ec;
  if (fs::is_directory(o.outputPath, ec)) {
    throw ToolError(kExitBadInput, o.outputPath + ": is a directory");
  }
  if (o.spectrumPath.empty()) return;
  if (sameFile(o.inputPath, o.spectrumPath)) {
    throw ToolError(kExitBadInput, "--spectrum: " + o.spectrumPath +
                                       " is the input recording");
  }
  if (sameFile(o.outputPath, o.spectrumPath)) {
    throw ToolError(kExitBadInput, "--spectrum: " + o.spectrumPath +
                                       " is also the output file");
  }
  if (fs::is_directory(o.spectrumPath, ec)) {
    throw ToolError(kExitBadInput, "--spectrum: " + o.spectrumPath + " is a directory");
  }
}

// One line when more than 1 % of the output samples are at full scale, with
// what to change; "" otherwise.
std::string clippingLine(std::int64_t clipped, std::int64_t samples, int bits,
                         const ReceiveParams& p) {
  if (samples == 0 || clipped * 100 <= samples) return {};
  char share[32];
  std::snprintf(share, sizeof share, "%.1f", 100.0 * static_cast<double>(clipped) /
                                                 static_cast<double>(samples));
  std::string why;
  if (!(p.flags & SDR_FLAG_AGC_ON) && bits == 24) {
    why = "a 24-bit recording plays as 16-bit samples: --fixed-gain 0.0039 keeps its level";
  } else if (bits == 8 && (p.flags & SDR_FLAG_AGC_ON)) {
    why = "the automatic gain aims above the 8-bit range: use --fixed-gain";
  } else if (!(p.flags & SDR_FLAG_AGC_ON)) {
    why = "lower --fixed-gain or --output-gain";
  } else {
    why = "lower --output-gain";
  }
  return std::string(share) + " % of the output samples are clipped (" + why + ")";
}

int run(const RxOptions& o) {
  checkOutputNames(o);
  const volatile std::sig_atomic_t* stop = stopFlag();
  IqReader reader(o.inputPath, stop);
  if (std::string err = checkAgainstRate(o, reader.sampleRate()); !err.empty()) {
    throw ToolError(kExitBadInput, err);
  }

  const auto start = std::chrono::steady_clock::now();
  const RunFormat format = runFormatFor(reader.encoding(), o.params, o.asEngine);
  IqWriter writer(o.outputPath, reader.sampleRate(), format.output,
                  reader.headerFrames(), stop);
  // The spectrum file is created before the run, so an unwritable name is
  // reported before any work is done.
  std::optional<PendingFile> spectrumFile;
  std::optional<SpectrumAverage> spectrum;
  if (!o.spectrumPath.empty()) {
    spectrumFile.emplace(o.spectrumPath, OutputAccess::Stream, stop);
    spectrum.emplace(std::size_t{2} << o.order);  // M = 2N bins
  }

  ProgressBar bar(reader.headerFrames(), reader.sampleRate(), stderrIsTerminal());
  LoopSettings settings;
  settings.params = format.params;
  settings.order = o.order;
  settings.jobs = o.jobs;
  settings.agcWarmUp = !o.asEngine;
  settings.spectrum = spectrum ? &*spectrum : nullptr;
  settings.stop = stop;
  settings.progress = [&bar](std::int64_t frames) { bar.update(frames); };
  const LoopResult result = runReceiveLoop(reader, writer, settings);
  bar.finish();

  // The destructors remove the temporaries on every early return.
  if (result.interrupted || *stop) throw ToolError(kExitInterrupted, interruptedText());
  const std::int64_t declared = reader.declaredFrames();
  if (declared > result.frames) {
    const std::string line = o.inputPath + ": truncated: the header declares " +
                             std::to_string(declared) + " frames, " +
                             std::to_string(result.frames) + " could be read";
    if (!o.acceptShort) {
      throw ToolError(kExitFailure, line + "; no output written (--accept-short keeps it)");
    }
    say(line);
  }
  if (spectrum) {
    const double binWidth =
        static_cast<double>(reader.sampleRate()) / static_cast<double>(2 << o.order);
    spectrumFile->writeAll(spectrumCsv(spectrum->points(binWidth)));
  }
  // Last look at the flag: a signal during the closing writes still leaves
  // nothing behind.
  if (*stop) throw ToolError(kExitInterrupted, interruptedText());
  writer.commit();
  if (spectrumFile) spectrumFile->commit();

  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (std::string line = clippingLine(writer.clippedSamples(), 2 * result.frames,
                                      reader.engineBits(), o.params);
      !line.empty()) {
    say(line);
  }
  say(summaryLine(result.frames, result.blocks,
                  static_cast<double>(result.frames) / reader.sampleRate(), wall,
                  result.loopSeconds));
  return kExitOk;
}
}  // namespace

int rxMain(std::span<const std::string_view> args) {
  const ParseResult parsed = parseOptions(args);
  if (!parsed.ok()) {
    say(parsed.error);
    return kExitBadInput;
  }
  if (parsed.options.showHelp || parsed.options.showVersion) {
    std::fputs((parsed.options.showHelp ? usageText() : versionText()).c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
  }
  installStopHandlers();
  try {
    return run(parsed.options);
  } catch (const ToolError& error) {
    say(error.what());
    return error.exitCode();
  } catch (const std::exception& error) {
    say(std::string("failed: ") + error.what());
    return kExitFailure;
  }
}

}  // namespace bw::rx
