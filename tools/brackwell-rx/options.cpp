#include "options.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "number_parse.h"

namespace bw::rx {

namespace {

constexpr int kMinOrder = 8, kMaxOrder = 16;   // what the engine configures
constexpr int kMinHold = 1, kMaxHold = 10;     // what the AGC counts
constexpr int kMinJobs = 1;
constexpr int kLowestEdgeHz = 50, kHighestEdgeHz = 6000;  // designable band

// Built by appending: GCC 12 at -O3 reports a false overlap (-Wrestrict)
// for a string inserted in front of another.
std::string quoted(std::string_view s) {
  std::string text;
  text.reserve(s.size() + 2);
  text += '\'';
  text += s;
  text += '\'';
  return text;
}

// An option's value handler: changes the options or returns an error text
// (without the option's name, which the caller puts in front).
using Apply = std::function<std::string(RxOptions&, std::string_view)>;

struct OptionInfo {
  std::string_view name;
  bool takesValue;
  Apply apply;
};

Apply intField(std::int32_t ReceiveParams::*field, const char* what) {
  return [field, what](RxOptions& o, std::string_view v) -> std::string {
    const auto n = parseInt32(v);
    if (!n) return quoted(v) + " is not " + what;
    o.params.*field = *n;
    return {};
  };
}

// A finite number above `floor` (or at least `floor` when floorIncluded),
// and at most `ceiling`.
Apply doubleField(double ReceiveParams::*field, double floor,
                  bool floorIncluded, const char* bound,
                  double ceiling = std::numeric_limits<double>::max()) {
  return [=](RxOptions& o, std::string_view v) -> std::string {
    const auto x = parseFiniteDouble(v);
    if (!x) return quoted(v) + " is not a finite number";
    if ((floorIncluded ? *x < floor : *x <= floor) || *x > ceiling) {
      return quoted(v) + " is out of range (must be " + bound + ")";
    }
    o.params.*field = *x;
    return {};
  };
}

Apply setFlags(std::uint32_t set, std::uint32_t clear) {
  return [=](RxOptions& o, std::string_view) -> std::string {
    o.params.flags = (o.params.flags & ~clear) | set;
    return {};
  };
}

// Switches one bit of the extensions word.
Apply setExtension(std::uint32_t bit, bool on) {
  return [=](RxOptions& o, std::string_view) -> std::string {
    o.params.extensions = on ? (o.params.extensions | bit) : (o.params.extensions & ~bit);
    return {};
  };
}

// --mode: the receive mode by its name; USB and LSB also set the flags'
// sideband, as --lsb does.
Apply setMode() {
  static constexpr std::pair<std::string_view, std::uint8_t> kModes[] = {
      {"usb", SDR_MODE_SIDEBAND}, {"lsb", SDR_MODE_SIDEBAND}, {"cw", SDR_MODE_CW},
      {"cwr", SDR_MODE_CW_REVERSED}, {"am", SDR_MODE_AM}, {"sam", SDR_MODE_SAM},
      {"sau", SDR_MODE_SAM_UPPER}, {"sal", SDR_MODE_SAM_LOWER}, {"fm", SDR_MODE_FM}};
  return [](RxOptions& o, std::string_view v) -> std::string {
    for (const auto& [name, mode] : kModes) {
      if (v != name) continue;
      o.params.modes.mode = mode;
      if (name == "usb") setFlags(SDR_FLAG_UPPER_SIDEBAND, SDR_FLAG_LOWER_SIDEBAND)(o, v);
      if (name == "lsb") setFlags(SDR_FLAG_LOWER_SIDEBAND, SDR_FLAG_UPPER_SIDEBAND)(o, v);
      return {};
    }
    return quoted(v) + " is not one of usb lsb cw cwr am sam sau sal fm";
  };
}

// Switches one noise tool on.
Apply setTool(std::uint32_t bit) {
  return [=](RxOptions& o, std::string_view) -> std::string {
    o.params.modes.tools |= bit;
    return {};
  };
}

Apply boundedInt(int RxOptions::*field, std::int32_t ReceiveParams::*param,
                 int lo, int hi) {
  return [=](RxOptions& o, std::string_view v) -> std::string {
    const auto n = parseInt32(v);
    if (!n) return quoted(v) + " is not a whole number";
    if (*n < lo || *n > hi) {
      return quoted(v) + " is outside " + std::to_string(lo) + ".." +
             std::to_string(hi);
    }
    if (field) o.*field = *n;
    if (param) o.params.*param = *n;
    return {};
  };
}

const std::vector<OptionInfo>& optionTable() {
  using P = ReceiveParams;
  static const std::vector<OptionInfo> table = {
      {"--tune", true, intField(&P::tuneOffsetHz, "a whole number of Hz")},
      {"--low", true, intField(&P::lowCutHz, "a whole number of Hz")},
      {"--high", true, intField(&P::highCutHz, "a whole number of Hz")},
      {"--lsb", false, setFlags(SDR_FLAG_LOWER_SIDEBAND, SDR_FLAG_UPPER_SIDEBAND)},
      {"--mode", true, setMode()},
      {"--pitch", true,
       [](RxOptions& o, std::string_view v) -> std::string {
         const auto n = parseInt32(v);
         if (!n || *n < SDR_MIN_PITCH_HZ || *n > SDR_MAX_PITCH_HZ) {
           return quoted(v) + " is not a whole number of Hz in 300..1000";
         }
         o.params.modes.pitchHz = *n;
         return {};
       }},
      {"--nb", false, setTool(SDR_TOOL_NOISE_BLANKER)},
      {"--notch", false, setTool(SDR_TOOL_NOTCH)},
      {"--nr", false, setTool(SDR_TOOL_NOISE_REDUCTION)},
      {"--fixed-gain", true,
       [](RxOptions& o, std::string_view v) -> std::string {
         auto apply = doubleField(&P::gain, 0.0, false, "above 0");
         std::string err = apply(o, v);
         if (err.empty()) o.params.flags &= ~SDR_FLAG_AGC_ON;
         return err;
       }},
      {"--gain", true, doubleField(&P::gain, 0.0, false, "above 0")},
      {"--hold", true, boundedInt(nullptr, &P::agcBlocks, kMinHold, kMaxHold)},
      {"--squelch", true, doubleField(&P::squelchLevel, 0.0, true, "0 or more")},
      {"--no-squelch", false, setFlags(0, SDR_FLAG_SQUELCH_ON)},
      {"--output-gain", true, doubleField(&P::outputGain, 0.0, false, "above 0")},
      // The balance corrects a mismatch of the I and Q paths by a fraction
      // of the signal: a correction as large as the signal itself (1) is
      // beyond any receiver's, and the console's range too. Far beyond, the
      // corrected spectrum overflows and the output is silence.
      {"--phase-coef", true, doubleField(&P::iqPhaseCoef, -1.0, true, "-1..1", 1.0)},
      // (1 + B) scales the real part: -1 or less would erase or invert it.
      {"--gain-coef", true,
       doubleField(&P::iqGainCoef, -1.0, false, "above -1, at most 1", 1.0)},
      {"--swap-iq", false, setFlags(SDR_FLAG_SWAP_INPUT, 0)},
      {"--flags", true,
       [](RxOptions& o, std::string_view v) -> std::string {
         const auto f = parseHex32(v);
         if (!f) return quoted(v) + " is not a 32-bit hexadecimal word";
         o.params.flags = *f;
         return {};
       }},
      {"--order", true, boundedInt(&RxOptions::order, nullptr, kMinOrder, kMaxOrder)},
      {"--jobs", true, boundedInt(&RxOptions::jobs, nullptr, kMinJobs, kMaxJobs)},
      {"--accept-short", false,
       [](RxOptions& o, std::string_view) -> std::string {
         o.acceptShort = true;
         return {};
       }},
      {"--as-engine", false,
       [](RxOptions& o, std::string_view) -> std::string {
         o.asEngine = true;
         o.params.extensions = 0;
         return {};
       }},
      {"--exact-tuning", false, setExtension(SDR_EXT_EXACT_TUNING, true)},
      {"--no-exact-tuning", false, setExtension(SDR_EXT_EXACT_TUNING, false)},
      {"--auto-iq-balance", false, setExtension(SDR_EXT_AUTO_IQ_BALANCE, true)},
      {"--no-auto-iq-balance", false, setExtension(SDR_EXT_AUTO_IQ_BALANCE, false)},
      {"--dc-removal", false, setExtension(SDR_EXT_DC_REMOVAL, true)},
      {"--no-dc-removal", false, setExtension(SDR_EXT_DC_REMOVAL, false)},
      {"--minimum-phase", false, setExtension(SDR_EXT_MINIMUM_PHASE, true)},
      {"--spectrum", true,
       [](RxOptions& o, std::string_view v) -> std::string {
         if (v.empty()) return "needs a file name";
         o.spectrumPath = std::string(v);
         return {};
       }},
  };
  return table;
}

const OptionInfo* findOption(std::string_view name) {
  for (const OptionInfo& option : optionTable()) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

struct Given {
  const OptionInfo* option;
  std::string_view value;
};

}  // namespace

ParseResult parseOptions(std::span<const std::string_view> args) {
  ParseResult result;
  std::vector<Given> given;
  std::vector<std::string_view> files;
  auto fail = [&](std::string text) {
    result.error = std::move(text);
    return result;
  };

  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      result.options.showHelp = true;
      return result;
    }
    if (arg == "--version") {
      result.options.showVersion = true;
      return result;
    }
    std::string_view name = arg;
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    const OptionInfo* option = findOption(name);
    if (!option) return fail("unknown option " + quoted(name));
    if (!option->takesValue) {
      if (inlineValue) return fail(std::string(name) + " takes no value");
      given.push_back({option, {}});
    } else if (inlineValue) {
      given.push_back({option, *inlineValue});
    } else {
      if (i + 1 >= args.size()) return fail(std::string(name) + " needs a value");
      given.push_back({option, args[++i]});
    }
  }

  bool fixedGain = false, ceiling = false;
  for (const Given& g : given) {
    fixedGain |= g.option->name == "--fixed-gain";
    ceiling |= g.option->name == "--gain";
  }
  if (fixedGain && ceiling) {
    return fail("--gain (the AGC ceiling) and --fixed-gain (AGC off) exclude each other");
  }

  // The whole flags word first, so single-field options refine it; then
  // --as-engine, so the extensions' options refine what it leaves.
  auto passOf = [](const OptionInfo& option) {
    return option.name == "--flags" ? 0 : option.name == "--as-engine" ? 1 : 2;
  };
  RxOptions& o = result.options;
  for (int pass = 0; pass < 3; ++pass) {
    for (const Given& g : given) {
      if (passOf(*g.option) != pass) continue;
      if (std::string err = g.option->apply(o, g.value); !err.empty()) {
        return fail(std::string(g.option->name) + ": " + err);
      }
    }
  }

  // A mode other than single sideband, or a noise tool, needs a version-2
  // block; the mode's own passband unless --low or --high moves an edge.
  ReceiveParams& p = o.params;
  if (p.modes.mode != SDR_MODE_SIDEBAND || p.modes.tools != 0) {
    p.version = SDR_PARAM_VERSION_MODES;
  }
  if (p.modes.mode != SDR_MODE_SIDEBAND) {
    std::int32_t low = 0, high = 0;
    sdrModePassband(p.modes.mode, p.modes.pitchHz, p.modes.fmDeviationHz, &low, &high);
    const auto wasGiven = [&](std::string_view name) {
      return std::any_of(given.begin(), given.end(),
                         [&](const Given& g) { return g.option->name == name; });
    };
    if (!wasGiven("--low")) p.lowCutHz = low;
    if (!wasGiven("--high")) p.highCutHz = high;
  }
  const int highest = p.modes.mode == SDR_MODE_FM ? SDR_MAX_FM_CUT_HZ : kHighestEdgeHz;
  if (p.lowCutHz < kLowestEdgeHz || p.highCutHz > highest || p.lowCutHz >= p.highCutHz) {
    return fail("--low/--high: the passband " + std::to_string(p.lowCutHz) +
                ".." + std::to_string(p.highCutHz) + " Hz must satisfy 50 <= low < high <= " +
                std::to_string(highest));
  }

  if (files.size() != 2) {
    return fail("expected INPUT.wav and OUTPUT.wav, got " +
                std::to_string(files.size()) + " file name" +
                (files.size() == 1 ? "" : "s") + " (see --help)");
  }
  o.inputPath = std::string(files[0]);
  o.outputPath = std::string(files[1]);
  if (o.inputPath.empty() || o.outputPath.empty()) {
    return fail("empty file name");
  }
  return result;
}

std::string checkAgainstRate(const RxOptions& options, int sampleRate) {
  const ReceiveParams& p = options.params;
  const double half = sampleRate / 2.0;
  if (std::abs(static_cast<double>(p.tuneOffsetHz)) > half) {
    return "--tune: " + std::to_string(p.tuneOffsetHz) +
           " Hz is outside the recorded band (+-" +
           std::to_string(sampleRate / 2) + " Hz at " +
           std::to_string(sampleRate) + " Hz)";
  }
  if (p.highCutHz >= half) {
    return "--high: " + std::to_string(p.highCutHz) +
           " Hz must lie below half the sample rate (" +
           std::to_string(sampleRate) + " Hz)";
  }
  return {};
}

std::string usageText() {
  return R"(usage: brackwell-rx [options] INPUT.wav OUTPUT.wav

Runs a stereo I/Q recording (left I, right Q; 8/16/24/32-bit PCM or float)
through the engine's receive chain and writes what it plays, as a stereo WAV
of the input's rate and encoding.
The receiver starts as the console's: upper sideband, 300..2700 Hz,
automatic gain (hold 10 blocks, ceiling 1000), squelch level 0, and with
the receiver extensions on (see below).

Levels: the engine plays 16-bit samples. The automatic gain brings peaks to
-6 dBFS at 16 and 24 bits. A 24-bit output holds 16-bit samples, so with a
fixed gain a 24-bit recording plays 256 times (48 dB) louder than its
16-bit copy: --fixed-gain 1 turns it into a full-scale square wave,
--fixed-gain 0.0039 keeps its level. Under the automatic gain an 8-bit output
is clipped and a 32-bit PCM output is about 96 dB down (the engine's 16-bit
values as they are); use --fixed-gain for those. A float recording gives
float output at the level of its 16-bit copy in every gain mode. One line
says so when more than 1 % of the output samples are clipped.

Beyond the engine's own output, by default:
- the automatic gain starts with the history of the recording's first
  blocks, so the first 0.38 s are not silent (live, the engine's starts
  empty);
- the engine's receiver extensions, which the engine and the console leave
  off, are on: exact tuning, automatic I/Q balance and DC removal.
--as-engine turns both off and gives the engine's own output bit for bit.

  --tune HZ          tuning offset from the band centre (within +-rate/2)
  --low HZ           passband low edge   (50 <= low < high <= 6000; fm 8000)
  --high HZ          passband high edge  (below half the sample rate)
  --lsb              lower sideband instead of upper
  --mode MODE        usb, lsb, cw, cwr (CW from below the carrier), am, sam
                     (synchronous AM), sau / sal (its upper / lower
                     sideband) or fm (narrow, 5 kHz deviation); each has
                     its own passband unless --low or --high moves an edge
                     (cw 450..950 around the pitch, am and sam 100..4500,
                     fm 300..8000). --tune is the carrier's offset in every
                     mode
  --pitch HZ         the tone CW is heard at (300..1000, default 700)
  --nb               noise blanker: blanks impulse noise
  --notch            automatic notch: removes steady carriers (not in CW)
  --nr               noise reduction for speech
  --fixed-gain X     automatic gain off, fixed gain X (> 0)
  --gain X           ceiling of the automatic gain (> 0)
  --hold N           automatic gain hold, in blocks (1..10)
  --squelch LEVEL    squelch level in sample units (>= 0)
  --no-squelch       squelch off
  --output-gain X    output gain factor (> 0)
  --phase-coef A     I/Q balance: imaginary part += A x real part (-1..1)
  --gain-coef B      I/Q balance: real part x (1 + B) (-1 < B <= 1)
  --swap-iq          the recording's left channel is Q, the right I
  --flags HEX        the whole flags word (applied before the options above)
  --order K          block order: 2^K frames a block (8..16, default 11)
  --jobs N           threads running the chain (1..64, default: one per
                     core); the output is the same for every N. With a
                     receiver extension on, one thread runs it: their
                     estimates follow the whole recording
  --spectrum FILE    write the average spectrum as CSV (Hz from the band
                     centre, dB)
  --accept-short     a recording with fewer frames than its header declares
                     is processed as far as it goes (otherwise: exit 1)
  --as-engine        exactly what the engine plays, bit for bit: the
                     automatic gain starts with an empty history (silent
                     until it holds its blocks), no extensions (the options
                     below still switch single ones on); float runs as
                     32-bit PCM and gives 32-bit PCM

Receiver extensions, beyond the engine's own output (each on by default,
off with --as-engine):
  --no-exact-tuning     tune on the engine's grid of even FFT bins
                        (2 x rate / 2^(order+1): 23.4 Hz at 48 kHz, order
                        11) instead of to the offset itself
  --no-auto-iq-balance  no automatic correction of the I/Q gain and phase
                        mismatch (--phase-coef and --gain-coef still apply)
  --no-dc-removal       leave the channels' DC offset (a spike at the band
                        centre)
  --exact-tuning, --auto-iq-balance, --dc-removal
                        switch one on (with --as-engine: the engine's
                        output with that extension)
  --minimum-phase       (off by default) the band filter in minimum phase,
                        as a live listener may choose it: the audio comes
                        half the filter's length sooner, its phase no
                        longer linear

  -h, --help         this text
  --version          the program's version

An existing output or spectrum file is replaced only when the run succeeds;
a character device (or, for the spectrum, a FIFO) is written in place;
directories, block devices and sockets are refused.

Exit status: 0 done, 1 a failure while running or a truncated recording,
2 bad input or options, 130 interrupted (no output is left behind).
)";
}

ReceiveParams toolParams() {
  ReceiveParams p = consoleParams();
  p.extensions = SDR_EXT_EXACT_TUNING | SDR_EXT_AUTO_IQ_BALANCE | SDR_EXT_DC_REMOVAL;
  return p;
}

int defaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min<unsigned>(cores, kMaxJobs));
}

std::string versionText() { return "brackwell-rx " BW_VERSION "\n"; }

}  // namespace bw::rx
