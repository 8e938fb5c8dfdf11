#include "controls/control_table.h"

#include <QStringList>
#include <cmath>
#include <cstring>
#include <vector>

#include "controls/rigctl_server.h"

namespace lanternfly {
namespace {

// A state field as a ControlField; the value is converted to the field's type.
#define LANTERNFLY_FIELD(member)                                                  \
  ControlField {                                                                  \
    [](const ConsoleState& s) { return static_cast<double>(s.member); },          \
        [](ConsoleState& s, double v) { s.member = static_cast<decltype(s.member)>(v); } \
  }

// The passband's edge limits as help text: "50..6000".
#define LANTERNFLY_TEXT_OF(value) #value
#define LANTERNFLY_TEXT(value) LANTERNFLY_TEXT_OF(value)
#define LANTERNFLY_PASSBAND_LIMITS LANTERNFLY_TEXT(SDR_MIN_CUT_HZ) ".." LANTERNFLY_TEXT(SDR_MAX_CUT_HZ)

constexpr double kMostGain = 1e9;  // linear factor; also the squelch's top
constexpr double kHighestLoHz = 1e12;

ControlField tuneField() {
  return {[](const ConsoleState& s) { return static_cast<double>(s.receiver.tuneOffsetHz); },
          [](ConsoleState& s, double v) { s.receiver.tuneOffsetHz = nearestSliderOffset(v); }};
}

// The passband choices of the mode in use, and the one in force (-1: none).
constexpr int kPassbandSlots = static_cast<int>(std::tuple_size_v<decltype(ModeWidths::choices)>);

int chosenPassband(const ReceiverSettings& r) {
  const ModeWidths& w = modeWidths(r.mode);
  for (int k = 0; k < kPassbandSlots; ++k) {
    if (w.field == nullptr ? k < static_cast<int>(std::size(kPassbandPresets)) &&
                                 r.lowCutHz == kPassbandPresets[k].lowCutHz &&
                                 r.highCutHz == kPassbandPresets[k].highCutHz
                           : r.*w.field == w.choices[static_cast<std::size_t>(k)]) {
      return k;
    }
  }
  return -1;
}

// The k-th passband of the mode in use, as the menu names it; empty when the
// mode has fewer.
QString passbandName(const ReceiverSettings& r, int k) {
  const ModeWidths& w = modeWidths(r.mode);
  if (w.field == nullptr) {
    if (k >= static_cast<int>(std::size(kPassbandPresets))) return {};
    const Passband& p = kPassbandPresets[k];
    return QStringLiteral("%1 (%2..%3 Hz)")
        .arg(QLatin1String(p.name))
        .arg(p.lowCutHz)
        .arg(p.highCutHz);
  }
  const int hz = w.choices[static_cast<std::size_t>(k)];
  if (isCwMode(r.mode)) return QStringLiteral("%1 Hz").arg(hz);
  const bool oneSide = r.mode == ReceiveMode::SamUpper || r.mode == ReceiveMode::SamLower;
  return QStringLiteral("%1%2 kHz")
      .arg(oneSide ? QString() : QStringLiteral("\u00b1"))
      .arg(hz / 1000.0);
}

// A row of the Passband menu: the k-th passband of whatever mode is in use.
Control passbandRow(int k) {
  static const char* const kNames[] = {"band1", "band2", "band3", "band4", "band5", "band6"};
  static const char* const kKeys[] = {"1", "2", "3", "4", "5", "6"};
  static_assert(std::size(kNames) == kPassbandSlots);
  return {.kind = ControlKind::Command,
          .name = kNames[k],
          .menu = "Passband/",
          .keys = kKeys[k],
          .run =
              [k](ControlHost& h) {
                ConsoleState s = h.state();
                ReceiverSettings& r = s.receiver;
                if (passbandName(r, k).isEmpty()) return;
                const ModeWidths& w = modeWidths(r.mode);
                if (w.field != nullptr) {
                  r.*w.field = w.choices[static_cast<std::size_t>(k)];
                } else {
                  r.lowCutHz = kPassbandPresets[k].lowCutHz;
                  r.highCutHz = kPassbandPresets[k].highCutHz;
                }
                h.apply(s);
              },
          .checked = [k](const ConsoleState& s) { return chosenPassband(s.receiver) == k; },
          .label = [k](const ConsoleState& s) { return passbandName(s.receiver, k); }};
}

// USB and LSB: both edges. The other modes: their one number (ModeWidths).
void askPassband(ControlHost& h) {
  ConsoleState s = h.state();
  const ModeWidths& w = modeWidths(s.receiver.mode);
  if (w.field != nullptr) {
    static const Control kWidth{.kind = ControlKind::Value, .name = "modeWidth",
                                .dialog = "Passband width, centred on the pitch (Hz):",
                                .step = 10};
    static const Control kEdge{.kind = ControlKind::Value, .name = "modeHighCut",
                               .dialog = "Passband from the carrier (Hz):", .step = 100};
    const auto v = h.ask(isCwMode(s.receiver.mode) ? kWidth : kEdge, s.receiver.*w.field,
                         w.lowestHz, w.highestHz);
    if (!v) return;
    s.receiver.*w.field = static_cast<int>(*v);
    h.apply(s);
    return;
  }
  const Control& lowRow = *findControl("lowCut");
  const Control& highRow = *findControl("highCut");
  const auto low = h.ask(lowRow, s.receiver.lowCutHz, lowRow.low, lowRow.high - 1);
  if (!low) return;
  const auto high =
      h.ask(highRow, std::max<double>(s.receiver.highCutHz, *low + 1), *low + 1, highRow.high);
  if (!high || !validPassband(static_cast<int>(*low), static_cast<int>(*high))) return;
  s.receiver.lowCutHz = static_cast<int>(*low);
  s.receiver.highCutHz = static_cast<int>(*high);
  h.apply(s);
}

// Where a mode other than USB and LSB remembers its passband; no menu entry
// of its own (the Passband menu sets it).
Control widthRow(const char* name, ReceiveMode mode, ControlField field, const char* setting) {
  const ModeWidths& w = modeWidths(mode);
  return {.kind = ControlKind::Value, .name = name, .field = field,
          .low = static_cast<double>(w.lowestHz), .high = static_cast<double>(w.highestHz),
          .setting = setting};
}

// Rig control off, or on after asking for the port (the default offered).
void toggleRigControl(ControlHost& h) {
  ConsoleState s = h.state();
  if (s.rigctlPort == 0) {
    const Control& port = *findControl("rigctlPort");
    const auto chosen = h.ask(port, kRigctlDefaultPort, 1, port.high);
    if (!chosen) return;
    s.rigctlPort = static_cast<int>(*chosen);
  } else {
    s.rigctlPort = 0;
  }
  h.apply(s);
}

// A row of the mode menu. Every mode is saved under the key the sideband
// has always had, so that a saved USB or LSB still reads.
Control modeRow(const char* name, ReceiveMode mode, const char* menu, const char* keys,
                const char* settingText, const char* option, const char* help) {
  return {.kind = ControlKind::Choice, .name = name, .menu = menu, .keys = keys,
          .field = LANTERNFLY_FIELD(receiver.mode), .choice = static_cast<double>(mode),
          .setting = "receiver/sideband", .settingText = settingText, .option = option,
          .help = help};
}

// A switch with its option for one run (0 or 1, 1 when left out).
Control toolRow(const char* name, const char* menu, const char* keys, ControlField field,
                const char* setting, const char* option, const char* help) {
  return {.kind = ControlKind::Toggle, .name = name, .menu = menu, .keys = keys,
          .field = field, .high = 1, .setting = setting, .option = option,
          .optionValue = OptionValue::Optional, .valueName = "0|1", .optionDefault = 1,
          .help = help};
}

std::vector<Control> makeTable() {
  using K = ControlKind;
  using O = OptionValue;
  std::vector<Control> t = {
      modeRow("usb", ReceiveMode::Usb, "Mode/Upper sideband (USB)", "U", "upper", "--usb",
              "upper sideband"),
      modeRow("lsb", ReceiveMode::Lsb, "Mode/Lower sideband (LSB)", "L", "lower", "--lsb",
              "lower sideband"),
      modeRow("cw", ReceiveMode::Cw, "Mode/Telegraphy (CW)", "K", "cw", "--cw",
              "telegraphy: a carrier is heard at the CW pitch"),
      modeRow("cwReversed", ReceiveMode::CwReversed, "Mode/Telegraphy reversed (CW-R)",
              "Shift+K", "cw-reversed", "--cw-reversed",
              "telegraphy from the other side of the carrier"),
      modeRow("am", ReceiveMode::Am, "Mode/AM", "M", "am", "--am", "AM, envelope detection"),
      modeRow("sam", ReceiveMode::Sam, "Mode/Synchronous AM (SAM)", "Shift+M", "sam", "--sam",
              "synchronous AM, both sidebands"),
      modeRow("samUpper", ReceiveMode::SamUpper, "Mode/Synchronous AM, upper (SAM-U)",
              "Shift+U", "sam-upper", "--sam-upper", "synchronous AM, upper sideband"),
      modeRow("samLower", ReceiveMode::SamLower, "Mode/Synchronous AM, lower (SAM-L)",
              "Shift+L", "sam-lower", "--sam-lower", "synchronous AM, lower sideband"),
      modeRow("fm", ReceiveMode::Fm, "Mode/Narrow FM (FM)", "N", "fm", "--fm",
              "narrow-band FM, 5 or 2.5 kHz deviation (Mode menu)"),
      {.kind = K::Value, .name = "cwPitch", .menu = "Mode/CW pitch...", .keys = "T",
       .field = LANTERNFLY_FIELD(receiver.cwPitchHz), .low = SDR_MIN_PITCH_HZ,
       .high = SDR_MAX_PITCH_HZ, .setting = "receiver/cwPitchHz", .dialog = "CW pitch (Hz):",
       .step = 10, .option = "--pitch", .optionValue = O::Required, .valueName = "HZ",
       .help = "the tone CW is heard at, 300..1000 Hz (700)"},
      {.kind = K::Choice, .name = "fmNarrow", .menu = "Mode/FM deviation/2.5 kHz",
       .field = LANTERNFLY_FIELD(receiver.fmDeviationHz), .choice = kFmNarrowDeviationHz,
       .setting = "receiver/fmDeviationHz", .settingText = "2500"},
      {.kind = K::Choice, .name = "fmWide", .menu = "Mode/FM deviation/5 kHz",
       .field = LANTERNFLY_FIELD(receiver.fmDeviationHz), .choice = kFmDeviationHz,
       .setting = "receiver/fmDeviationHz", .settingText = "5000"},
      passbandRow(0),
      passbandRow(1),
      passbandRow(2),
      passbandRow(3),
      passbandRow(4),
      passbandRow(5),
      {.kind = K::Command, .name = "bandCustom", .menu = "Passband/Custom...", .keys = "B",
       .run = askPassband,
       .checked = [](const ConsoleState& s) { return chosenPassband(s.receiver) < 0; }},
      widthRow("cwWidth", ReceiveMode::Cw, LANTERNFLY_FIELD(receiver.cwWidthHz),
               "receiver/cwWidthHz"),
      widthRow("amHighCut", ReceiveMode::Am, LANTERNFLY_FIELD(receiver.amHighCutHz),
               "receiver/amHighCutHz"),
      widthRow("samHighCut", ReceiveMode::Sam, LANTERNFLY_FIELD(receiver.samHighCutHz),
               "receiver/samHighCutHz"),
      widthRow("samSideHighCut", ReceiveMode::SamUpper,
               LANTERNFLY_FIELD(receiver.samSideHighCutHz), "receiver/samSideHighCutHz"),
      widthRow("fmHighCut", ReceiveMode::Fm, LANTERNFLY_FIELD(receiver.fmHighCutHz),
               "receiver/fmHighCutHz"),
      {.kind = K::Value, .name = "lowCut", .field = LANTERNFLY_FIELD(receiver.lowCutHz),
       .low = kLowestCutHz, .high = kHighestCutHz, .setting = "receiver/lowCutHz",
       .dialog = "Low edge (Hz):", .step = 10,
       .option = "--low", .optionValue = O::Required, .valueName = "HZ",
       .help = "low edge of the audio passband, " LANTERNFLY_PASSBAND_LIMITS},
      {.kind = K::Value, .name = "highCut", .field = LANTERNFLY_FIELD(receiver.highCutHz),
       .low = kLowestCutHz, .high = kHighestCutHz, .setting = "receiver/highCutHz",
       .dialog = "High edge (Hz):", .step = 10,
       .option = "--high", .optionValue = O::Required, .valueName = "HZ",
       .help = "high edge of the audio passband, " LANTERNFLY_PASSBAND_LIMITS},
      {.kind = K::Choice, .name = "agcSlow", .menu = "Automatic gain/Slow hold", .keys = "A",
       .field = LANTERNFLY_FIELD(receiver.agc), .choice = static_cast<double>(AgcMode::Slow),
       .setting = "receiver/agc", .settingText = "slow"},
      {.kind = K::Choice, .name = "agcFast", .menu = "Automatic gain/Fast hold", .keys = "F",
       .field = LANTERNFLY_FIELD(receiver.agc), .choice = static_cast<double>(AgcMode::Fast),
       .setting = "receiver/agc", .settingText = "fast"},
      {.kind = K::Choice, .name = "agcOff", .menu = "Automatic gain/Off, fixed gain...",
       .keys = "G", .field = LANTERNFLY_FIELD(receiver.agc),
       .choice = static_cast<double>(AgcMode::Off),
       .setting = "receiver/agc", .settingText = "off", .asks = "fixedGain"},
      {.kind = K::Value, .name = "fixedGain", .field = LANTERNFLY_FIELD(receiver.fixedGain),
       .low = 0.0, .high = kMostGain, .setting = "receiver/fixedGain",
       .dialog = "Fixed gain (linear factor):", .decimals = 3},
      {.kind = K::Value, .name = "squelch", .menu = "Squelch level...", .keys = "S",
       .field = LANTERNFLY_FIELD(receiver.squelchLevel), .low = 0.0, .high = kMostGain,
       .setting = "receiver/squelchLevel",
       .dialog = "Squelch level (sample units, 0 = open):", .decimals = 1},
      {.kind = K::Value, .name = "volume", .menu = "Output volume...", .keys = "V",
       .field = LANTERNFLY_FIELD(receiver.volumePercent), .low = 0, .high = 100,
       .setting = "receiver/volumePercent", .dialog = "Output volume (%):", .step = 5,
       .unsetStart = 100},
      toolRow("noiseBlanker", "Noise tools/Noise blanker", "Shift+B",
              LANTERNFLY_FIELD(receiver.noiseBlanker), "receiver/noiseBlanker",
              "--noise-blanker", "blank impulse noise (power lines, ignition)"),
      toolRow("notch", "Noise tools/Notch", "Shift+N", LANTERNFLY_FIELD(receiver.notch),
              "receiver/notch", "--notch", "remove steady carriers from the passband"),
      toolRow("noiseReduction", "Noise tools/Noise reduction", "Shift+R",
              LANTERNFLY_FIELD(receiver.noiseReduction), "receiver/noiseReduction",
              "--noise-reduction", "reduce the noise between the words of speech"),
      {.kind = K::Toggle, .name = "swapIq", .menu = "Swap I and Q", .sectionStart = true,
       .keys = "I", .field = LANTERNFLY_FIELD(receiver.swapIq), .setting = "receiver/swapIq"},
      {.kind = K::Value, .name = "balancePhase", .menu = "Balance, phase...", .keys = "P",
       .field = LANTERNFLY_FIELD(receiver.iqPhaseCoef), .low = -1.0, .high = 1.0,
       .setting = "receiver/iqPhaseCoef",
       .dialog = "Phase coefficient (imaginary += c x real):", .decimals = 6},
      {.kind = K::Value, .name = "balanceGain", .menu = "Balance, gain...", .keys = "Shift+P",
       .field = LANTERNFLY_FIELD(receiver.iqGainCoef), .low = -1.0, .high = 1.0,
       .setting = "receiver/iqGainCoef", .dialog = "Gain coefficient (real x (1 + c)):",
       .decimals = 6},
      // Extensions beyond the engine's own chain: each sets its bit of the
      // block's extensions word; off, the block is the one the console has
      // always sent. The option's value (0 or 1, 1 when left out) switches
      // it for one run.
      {.kind = K::Toggle, .name = "exactTuning", .menu = "Receiver extensions/Exact tuning",
       .field = LANTERNFLY_FIELD(receiver.exactTuning), .high = 1,
       .setting = "receiver/exactTuning",
       .option = "--exact-tuning", .optionValue = O::Optional, .valueName = "0|1",
       .optionDefault = 1,
       .help = "extension: tune to the offset itself, not the nearest 23.4 Hz step"},
      {.kind = K::Toggle, .name = "autoIqBalance",
       .menu = "Receiver extensions/Automatic balance of I and Q",
       .field = LANTERNFLY_FIELD(receiver.autoIqBalance), .high = 1,
       .setting = "receiver/autoIqBalance",
       .option = "--auto-iq-balance", .optionValue = O::Optional, .valueName = "0|1",
       .optionDefault = 1,
       .help = "extension: measure and correct the I/Q gain and phase mismatch"},
      {.kind = K::Toggle, .name = "dcRemoval", .menu = "Receiver extensions/DC removal",
       .field = LANTERNFLY_FIELD(receiver.dcRemoval), .high = 1,
       .setting = "receiver/dcRemoval",
       .option = "--dc-removal", .optionValue = O::Optional, .valueName = "0|1",
       .optionDefault = 1,
       .help = "extension: remove the captured channels' DC offset (centre spike)"},
      {.kind = K::Toggle, .name = "minimumPhase",
       .menu = "Receiver extensions/Minimum-phase filter",
       .field = LANTERNFLY_FIELD(receiver.minimumPhase), .high = 1,
       .setting = "receiver/minimumPhase",
       .option = "--minimum-phase", .optionValue = O::Optional, .valueName = "0|1",
       .optionDefault = 1,
       .help = "extension: the band filter's delay a few ms instead of half its length"},
      {.kind = K::Value, .name = "lo", .menu = "LO frequency...", .keys = "O",
       .field = LANTERNFLY_FIELD(receiver.loHz), .low = 0.0, .high = kHighestLoHz,
       .setting = "tuning/loHz", .dialog = "Local oscillator (kHz):", .decimals = 3,
       .dialogScale = 1000.0,
       .option = "--lo", .optionValue = O::Required, .valueName = "HZ",
       .help = "receiver's local-oscillator frequency, for absolute frequencies"},
      {.kind = K::Value, .name = "tune", .field = tuneField(), .low = -kTuneLimitHz,
       .high = kTuneLimitHz, .setting = "tuning/offsetHz", .decimals = 1,
       .option = "--tune", .optionValue = O::Required, .valueName = "HZ",
       .help = "tuning offset from the band centre, -24000..24000 (10 Hz steps)"},
      {.kind = K::Devices, .name = "captureDevices", .menu = "Capture device",
       .sectionStart = true, .choice = 1, .option = "--in", .optionValue = O::Required,
       .valueName = "N", .help = "capture device number (1 = default; see --list)"},
      {.kind = K::Devices, .name = "playbackDevices", .menu = "Playback device", .choice = 0,
       .option = "--out", .optionValue = O::Required, .valueName = "N",
       .help = "playback device number (1 = default)"},
      {.kind = K::Toggle, .name = "waterfall", .menu = "Waterfall", .sectionStart = true,
       .keys = "W", .field = LANTERNFLY_FIELD(waterfallOpen),
       .setting = "windows/waterfallOpen"},
      {.kind = K::Command, .name = "rigControl", .menu = "Rig control (Hamlib NET rigctl)...",
       .run = toggleRigControl,
       .checked = [](const ConsoleState& s) { return s.rigctlPort != 0; }},
      {.kind = K::Value, .name = "rigctlPort", .field = LANTERNFLY_FIELD(rigctlPort), .low = 0,
       .high = 65535, .setting = "rigControl/port",
       .dialog = "Serve Hamlib NET rigctl on 127.0.0.1, TCP port:",
       .option = "--rigctl", .optionValue = O::Optional, .valueName = "PORT",
       .optionDefault = kRigctlDefaultPort,
       .help = "serve Hamlib NET rigctl on 127.0.0.1:PORT (4532; 0: off)"},
      {.kind = K::Toggle, .name = "operatorView", .menu = "Operator view", .keys = "D",
       .field = LANTERNFLY_FIELD(operatorView), .setting = "display/operatorView"},
      toolRow("windowedSpectrum", "Windowed spectrum", "Shift+W",
              LANTERNFLY_FIELD(receiver.windowedSpectrum), "receiver/windowedSpectrum",
              "--windowed-spectrum",
              "extension: spectrum under a window: weak signals beside strong ones"),
      {.kind = K::Value, .name = "levelCalibration", .menu = "Calibrate signal level...",
       .keys = "C", .field = LANTERNFLY_FIELD(levelCalibrationDbm),
       .low = -kCalibrationLimitDb, .high = kCalibrationLimitDb,
       .setting = "display/levelCalibrationDbm",
       .dialog = "dBm at 0 dB: a known signal's level in dBm\n"
                 "minus the dB the operator view reads for it:",
       .decimals = 1, .unsetStart = -30.0},
      toolRow("lowLatency", "Low latency", "Ctrl+L", LANTERNFLY_FIELD(lowLatency), "audio/lowLatency",
              "--low-latency",
              "blocks of 512 frames: a shorter delay, filter skirts 4x as wide"),
      {.kind = K::Command, .name = "restart", .menu = "Restart receiver", .keys = "R",
       .run = [](ControlHost& h) { h.restart(); }},
      {.kind = K::Command, .name = "close", .menu = "Close", .keys = "Ctrl+Q",
       .run = [](ControlHost& h) { h.close(); }},
  };
  return t;
}

#undef LANTERNFLY_FIELD

}  // namespace

std::span<const Control> controls() {
  static const std::vector<Control> table = makeTable();
  return table;
}

const Control* findControl(const char* name) {
  for (const Control& c : controls()) {
    if (std::strcmp(c.name, name) == 0) return &c;
  }
  return nullptr;
}

bool withinLimits(const Control& row, double v) {
  if (!std::isfinite(v)) return false;
  switch (row.kind) {
    case ControlKind::Value:
      return v >= row.low && v <= row.high;
    case ControlKind::Toggle:
      return v == 0.0 || v == 1.0;
    case ControlKind::Choice:
      // A choice's rows share its settings key.
      for (const Control& c : controls()) {
        if (c.kind == ControlKind::Choice && c.setting != nullptr && row.setting != nullptr &&
            std::strcmp(c.setting, row.setting) == 0 && c.choice == v) {
          return true;
        }
      }
      return false;
    default:
      return false;
  }
}

bool checkable(const Control& row) {
  return row.kind == ControlKind::Choice || row.kind == ControlKind::Toggle ||
         (row.kind == ControlKind::Command && row.checked);
}

bool isChecked(const Control& row, const ConsoleState& s) {
  switch (row.kind) {
    case ControlKind::Choice:
      return row.field.get(s) == row.choice;
    case ControlKind::Toggle:
      return row.field.get(s) != 0.0;
    case ControlKind::Command:
      return row.checked && row.checked(s);
    default:
      return false;
  }
}

void triggerControl(const Control& row, ControlHost& host) {
  ConsoleState s = host.state();
  switch (row.kind) {
    case ControlKind::Command:
      if (row.run) row.run(host);
      return;
    case ControlKind::Toggle:
      row.field.set(s, row.field.get(s) != 0.0 ? 0.0 : 1.0);
      host.apply(s);
      return;
    case ControlKind::Choice:
      if (row.asks != nullptr) {
        const Control& value = *findControl(row.asks);
        const auto v = host.ask(value, value.field.get(s), value.low, value.high);
        if (!v) return;
        value.field.set(s, *v);
      }
      row.field.set(s, row.choice);
      host.apply(s);
      return;
    case ControlKind::Value: {
      double start = row.field.get(s);
      if (!withinLimits(row, start)) start = row.unsetStart;
      if (const auto v = host.ask(row, start, row.low, row.high)) {
        row.field.set(s, *v);
        host.apply(s);
      }
      return;
    }
    case ControlKind::Devices:
      return;  // a submenu, filled when it opens
  }
}

QString controlOptionsHelp() {
  QString out;
  for (const Control& c : controls()) {
    if (c.option == nullptr) continue;
    QString usage = QLatin1String(c.option);
    if (c.optionValue == OptionValue::Required) {
      usage += QLatin1Char(' ') + QLatin1String(c.valueName);
    } else if (c.optionValue == OptionValue::Optional) {
      usage += QStringLiteral(" [%1]").arg(QLatin1String(c.valueName));
    }
    // A usage too long for the column gets the help on a line of its own.
    if (usage.size() > 13) usage += QLatin1Char('\n') + QString(15, QLatin1Char(' '));
    out += QStringLiteral("  %1 %2\n").arg(usage, -13).arg(QLatin1String(c.help));
  }
  return out;
}

}  // namespace lanternfly
