#include "controls/rigctl_protocol.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace lanternfly {
namespace {

enum class Command {
  GetFreq, SetFreq, GetMode, SetMode, GetVfo, SetVfo, GetPtt, SetPtt,
  GetSplit, SetSplit, GetPower, GetLock, CheckVfo, DumpState, Quit
};

struct CommandName {
  char shortName;  // 0: reachable by its long name only
  std::string_view longName;
  std::size_t arguments;
  Command command;
};

constexpr std::array<CommandName, 16> kCommands{{
    {'f', "get_freq", 0, Command::GetFreq},
    {'F', "set_freq", 1, Command::SetFreq},
    {'m', "get_mode", 0, Command::GetMode},
    {'M', "set_mode", 2, Command::SetMode},
    {'v', "get_vfo", 0, Command::GetVfo},
    {'V', "set_vfo", 1, Command::SetVfo},
    {'t', "get_ptt", 0, Command::GetPtt},
    {'T', "set_ptt", 1, Command::SetPtt},
    {'s', "get_split_vfo", 0, Command::GetSplit},
    {'S', "set_split_vfo", 2, Command::SetSplit},
    {0, "get_powerstat", 0, Command::GetPower},
    // Hamlib 4.5 asks before every mode change and changes nothing unless
    // the answer says "not locked".
    {0, "get_lock_mode", 0, Command::GetLock},
    {0, "chk_vfo", 0, Command::CheckVfo},
    {0, "dump_state", 0, Command::DumpState},
    {'q', "quit", 0, Command::Quit},
    {'Q', "quit", 0, Command::Quit},
}};

// Hamlib's names of the modes, by ReceiveMode, and their bits: AM, CW,
// USB, LSB, FM, CWR, AMS, PKTLSB, PKTUSB, SAL, SAH. The data modes are
// taken as their sideband: the console has no separate data filter.
constexpr const char* kHamlibModes[] = {"USB", "LSB", "CW",  "CWR", "AM",
                                        "AMS", "SAH", "SAL", "FM"};
constexpr const char* kModeBits = "0x60eaf";
constexpr int kTuningStepHz = 10;
constexpr int kDefaultWidthHz = kRigDefaultHighCutHz - kRigDefaultLowCutHz;

// Hamlib's VFO names. The receiver has one tuning, which every name selects:
// clients probe VFO B on opening and get confused when it is refused.
bool isVfoName(std::string_view name) {
  for (std::string_view ours : {"VFOA", "VFOB", "VFOC", "currVFO", "VFO", "MEM", "Main", "Sub",
                                "TX", "RX", "MainA", "MainB", "MainC", "SubA", "SubB", "SubC"}) {
    if (name == ours) return true;
  }
  return false;
}

std::vector<std::string_view> splitWords(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t') ++end;
    if (end > at) words.push_back(text.substr(at, end - at));
    at = end;
  }
  return words;
}

// A whole word as a finite number; false for anything else.
bool parseNumber(std::string_view word, double& out) {
  if (word.empty() || word.size() > 64) return false;
  const std::string text(word);
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno != 0 || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool parseWhole(std::string_view word, long& out) {
  double v = 0;
  if (!parseNumber(word, v) || v != std::floor(v) || std::fabs(v) > 1e9) return false;
  out = static_cast<long>(v);
  return true;
}

std::string formatted(const char* format, double a, double b) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

// What \dump_state reports, in the layout of NET rigctl protocol version 1:
// version, rig model, ITU region, receive ranges, transmit ranges (none),
// tuning steps, filters, RIT/XIT/IF-shift limits, announces, preamps,
// attenuators, the function/level/parameter masks, then key=value
// capabilities up to "done". Each list ends with an all-zero line; the
// client reads every line into a 96-byte buffer, so all stay short.
std::string dumpState(const ReceiverSettings& s) {
  const double from = std::max(0.0, s.loHz - kTuneLimitHz);
  const double to = s.loHz + kTuneLimitHz;
  std::string out = "1\n2\n0\n";
  out += formatted("%.6f %.6f ", from, to) + kModeBits + " -1 -1 0x1 0x0\n";
  out += "0 0 0 0 0 0 0\n";  // end of the receive ranges
  out += "0 0 0 0 0 0 0\n";  // no transmit range: a receiver
  out += std::string(kModeBits) + " " + std::to_string(kTuningStepHz) + "\n0 0\n";
  out += std::string(kModeBits) + " " + std::to_string(kDefaultWidthHz) + "\n0 0\n";
  out += "0\n0\n0\n0\n";  // max RIT, max XIT, max IF shift, announces
  out += "\n\n";          // no preamp, no attenuator
  for (int k = 0; k < 6; ++k) out += "0x0\n";
  out +=
      "vfo_ops=0x0\nptt_type=0x0\ntargetable_vfo=0x0\nhas_set_vfo=1\nhas_get_vfo=1\n"
      "has_set_freq=1\nhas_get_freq=1\ndone\n";
  return out;
}

struct Reply {
  int error = 0;  // Hamlib error number, positive; 0 = done
  std::vector<std::pair<std::string, std::string>> records;  // key, value
};

Reply refused(int error) { return Reply{error, {}}; }

Reply setFrequency(std::string_view word, RigControlTarget& rig) {
  ReceiverSettings s = rig.settings();
  double hz = 0;
  if (!parseNumber(word, hz)) return refused(kRigInvalidArgument);
  const double offset = hz - s.loHz;
  // Only what the tuning slider reaches; anything else changes nothing.
  if (!(std::fabs(offset) <= kTuneLimitHz)) return refused(kRigInvalidArgument);
  s.tuneOffsetHz = nearestSliderOffset(offset);
  rig.apply(s);
  return {};
}

// The mode a Hamlib name selects (PKTUSB and PKTLSB as their sideband,
// SAM as AMS); false for a name the receiver does not have.
bool findMode(std::string_view name, ReceiveMode& mode) {
  if (name == "PKTUSB" || name == "PKTLSB") name.remove_prefix(3);
  if (name == "SAM") name = "AMS";
  for (std::size_t k = 0; k < std::size(kHamlibModes); ++k) {
    if (name == kHamlibModes[k]) {
      mode = static_cast<ReceiveMode>(k);
      return true;
    }
  }
  return false;
}

// Whether both sides of the carrier are heard, so that the passband's width
// on the band is twice its high edge; else it is the audio passband's width.
bool bothSides(ReceiveMode m) {
  return m == ReceiveMode::Am || m == ReceiveMode::Sam || m == ReceiveMode::Fm;
}

int bandWidthHz(const ReceiverSettings& s) {
  int low = 0, high = 0;
  modePassband(s, low, high);
  return bothSides(s.mode) ? 2 * high : high - low;
}

// Width -1 keeps the mode's passband, 0 selects its default. USB and LSB
// take any width the console can filter (the low edge stays, the high edge
// moves); the other modes any their field holds (ModeWidths). A width
// outside these limits is refused and changes nothing, not even the mode.
Reply setMode(std::string_view name, std::string_view width, RigControlTarget& rig) {
  ReceiverSettings s = rig.settings();
  if (!findMode(name, s.mode)) return refused(kRigInvalidArgument);
  long hz = 0;
  if (!parseWhole(width, hz) || hz < -1) return refused(kRigInvalidArgument);
  const ModeWidths& widths = modeWidths(s.mode);
  if (widths.field == nullptr && hz == 0) {
    s.lowCutHz = kRigDefaultLowCutHz;
    s.highCutHz = kRigDefaultHighCutHz;
  } else if (widths.field == nullptr && hz > 0) {
    if (hz > kHighestCutHz || !validPassband(s.lowCutHz, s.lowCutHz + static_cast<int>(hz))) {
      return refused(kRigInvalidArgument);
    }
    s.highCutHz = s.lowCutHz + static_cast<int>(hz);
  } else if (hz == 0) {
    s.*widths.field = defaultModeWidth(s.mode, s.fmDeviationHz);
  } else if (hz > 0) {
    long value = hz;  // CW: the width itself
    if (bothSides(s.mode)) {
      value = (hz + 1) / 2;
    } else if (s.mode == ReceiveMode::SamUpper || s.mode == ReceiveMode::SamLower) {
      int low = 0, high = 0;
      modePassband(s, low, high);
      value = low + hz;
    }
    if (value < widths.lowestHz || value > widths.highestHz) return refused(kRigInvalidArgument);
    s.*widths.field = static_cast<int>(value);
  }
  rig.apply(s);
  return {};
}

Reply run(Command c, const std::vector<std::string_view>& args, RigControlTarget& rig) {
  const ReceiverSettings s = rig.settings();
  switch (c) {
    case Command::GetFreq:
      return {0, {{"Frequency", std::to_string(std::llround(tunedFrequencyHz(s)))}}};
    case Command::SetFreq:
      return setFrequency(args[0], rig);
    case Command::GetMode:
      return {0,
              {{"Mode", kHamlibModes[static_cast<int>(s.mode)]},
               {"Passband", std::to_string(bandWidthHz(s))}}};
    case Command::SetMode:
      return setMode(args[0], args[1], rig);
    case Command::GetVfo:
      return {0, {{"VFO", "VFOA"}}};
    case Command::SetVfo:
      return refused(isVfoName(args[0]) ? 0 : kRigInvalidArgument);
    case Command::GetPtt:
      return {0, {{"PTT", "0"}}};
    case Command::SetPtt:
      // Receiving is all this rig does; asking to transmit is refused.
      return refused(args[0] == "0" ? 0 : kRigNotAvailable);
    case Command::GetSplit:
      return {0, {{"Split", "0"}, {"TX VFO", "VFOA"}}};
    case Command::SetSplit:
      if (!isVfoName(args[1])) return refused(kRigInvalidArgument);
      return refused(args[0] == "0" ? 0 : kRigNotAvailable);
    case Command::GetPower:
      return {0, {{"Power Status", "1"}}};
    case Command::GetLock:
      return {0, {{"Locked", "0"}}};
    case Command::CheckVfo:
    case Command::DumpState:
    case Command::Quit:
      break;  // answered by the caller
  }
  return {};
}

const CommandName* findCommand(std::string_view word) {
  for (const CommandName& c : kCommands) {
    // A short name of 0 stands for "none": a NUL byte names nothing.
    if (word.size() > 1 && word[0] == '\\'
            ? word.substr(1) == c.longName
            : word.size() == 1 && c.shortName != 0 && word[0] == c.shortName) {
      return &c;
    }
  }
  return nullptr;
}

std::string rprt(int error) { return "RPRT " + std::to_string(-error) + "\n"; }

}  // namespace

std::string answerRigctlLine(std::string_view line, RigControlTarget& rig, bool& quit) {
  // A leading punctuation character asks for the extended answer, its
  // records ended by that character ('+': by line ends). '\' starts a long
  // command name; '?', '_' and '#' mean other things to rigctld.
  bool extended = false;
  char separator = '\n';
  if (!line.empty()) {
    const unsigned char first = static_cast<unsigned char>(line[0]);
    // ASCII only: what else counts as punctuation depends on the locale.
    if (first < 0x80 && std::ispunct(first) && first != '\\' && first != '?' && first != '_' &&
        first != '#') {
      extended = true;
      separator = first == '+' ? '\n' : static_cast<char>(first);
      line.remove_prefix(1);
    }
  }
  const std::vector<std::string_view> words = splitWords(line);
  if (words.empty()) return extended ? rprt(kRigNotImplemented) : std::string();
  const CommandName* name = findCommand(words[0]);
  if (name == nullptr) return rprt(kRigNotImplemented);
  const std::vector<std::string_view> args(words.begin() + 1, words.end());

  std::string out;
  if (extended && name->command != Command::CheckVfo && name->command != Command::Quit) {
    out += std::string(name->longName) + ":";
    for (std::string_view a : args) out += " " + std::string(a);
    out += separator;
  }
  if (args.size() != name->arguments) return out + rprt(kRigInvalidArgument);

  switch (name->command) {
    case Command::CheckVfo:
      // No VFO argument in front of other commands' arguments.
      return extended ? "ChkVFO: 0\n" : "0\n";
    case Command::DumpState:
      return out + dumpState(rig.settings()) + (extended ? rprt(0) : std::string());
    case Command::Quit:
      quit = true;
      return rprt(0);
    default:
      break;
  }
  const Reply reply = run(name->command, args, rig);
  if (reply.error != 0) return out + rprt(reply.error);
  for (const auto& [key, value] : reply.records) {
    out += extended ? key + ": " + value + separator : value + "\n";
  }
  if (extended || reply.records.empty()) out += rprt(0);
  return out;
}

std::string RigctlConversation::receive(std::string_view bytes) {
  std::string out;
  for (const char c : bytes) {
    if (finished_) break;
    if (c != '\n') {
      if (overlong_) continue;
      if (line_.size() < kMaxLineBytes) {
        line_ += c;
      } else {
        overlong_ = true;
        line_.clear();
      }
      continue;
    }
    if (overlong_) {
      out += rprt(kRigInvalidArgument);
      overlong_ = false;
      ++linesDropped_;
      continue;
    }
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    bool quit = false;
    const std::string answer = answerRigctlLine(line_, rig_, quit);
    if (!answer.empty()) ++linesAnswered_;
    out += answer;
    line_.clear();
    finished_ = quit;
  }
  return out;
}

}  // namespace lanternfly
