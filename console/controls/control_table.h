// The console's controls, one row each: the menu entry and its shortcut, the
// settings key, the command-line option and its help line, the state field
// the control sets, the dialog that asks for its value and the limits that
// value is held to. The menu, the shortcuts, the check marks, settings load
// and save, the command-line options and --help are all made from this
// table, so a new control is one row here and one field of ConsoleState.
// Plain data and functions: no window, no engine. Main thread only.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <span>

#include "controls/receiver_settings.h"

namespace lanternfly {

// The passband presets of the menu in USB and LSB, audio Hz; the other
// modes' are their ModeWidths choices.
struct Passband {
  const char* name;
  int lowCutHz;
  int highCutHz;
};
inline constexpr Passband kPassbandPresets[] = {
    {"2.4 kHz voice", 300, 2700}, {"3 kHz voice", 200, 3200}, {"500 Hz telegraphy", 450, 950}};

// The signal level's calibration while none is set (outside its limits).
inline constexpr double kUncalibrated = -1000.0;
inline constexpr double kCalibrationLimitDb = 400.0;

// What the controls set: the receiver and the operator's choices about the
// console itself, each switch a plain field.
struct ConsoleState {
  ReceiverSettings receiver;
  bool waterfallOpen = false;  // the waterfall window is shown
  int rigctlPort = 0;          // loopback TCP port serving rig control; 0: off
  bool operatorView = false;   // the operator view instead of the spectrum picture
  // dBm that a signal level of 0 dB reads as; kUncalibrated: plain dB.
  double levelCalibrationDbm = kUncalibrated;
  // Short blocks for a short delay from antenna to ear (the engine restarts).
  bool lowLatency = false;

  bool operator==(const ConsoleState&) const = default;
};

// One field of ConsoleState seen as a number (enums by their value, bools as
// 0 and 1).
struct ControlField {
  double (*get)(const ConsoleState&) = nullptr;
  void (*set)(ConsoleState&, double) = nullptr;
  explicit operator bool() const { return get != nullptr && set != nullptr; }
};

enum class ControlKind {
  Command,  // does something (run); may show a check mark (checked)
  Choice,   // sets its field to `choice`; checked while the field has it
  Toggle,   // flips a 0/1 field; checked while it is 1
  Value,    // a number in [low, high], asked for in a dialog
  Devices,  // a submenu of the engine's devices (choice 1: capture)
};

// Whether an option takes a value: "--lsb", "--lo HZ", "--rigctl [PORT]".
enum class OptionValue { None, Required, Optional };

class ControlHost;

struct Control {
  ControlKind kind = ControlKind::Command;
  const char* name = nullptr;  // the row's name: the menu action's object name
  // Menu entry, submenus separated by '/': "Mode/Upper sideband (USB)". Null:
  // not in the menu (a value set by another control, an option or a setting).
  const char* menu = nullptr;
  bool sectionStart = false;  // a separator before it in the top-level menu
  const char* keys = nullptr;  // shortcut, QKeySequence portable text ("Shift+P")

  ControlField field{};
  // Value (and a Toggle's option value): the limits its value is held to,
  // inclusive.
  double low = 0.0;
  double high = 0.0;
  double choice = 0.0;  // Choice: the value it sets. Devices: 1 capture, 0 playback

  const char* setting = nullptr;      // settings key; null: not saved
  const char* settingText = nullptr;  // Choice: how the choice is saved

  const char* dialog = nullptr;  // Value: the dialog's label
  int decimals = 0;              // dialog precision; 0: whole numbers, also as option
  double step = 1.0;             // dialog step
  double dialogScale = 1.0;      // the dialog shows value / dialogScale
  // Value: where the dialog starts while the value is outside its limits
  // (never set).
  double unsetStart = 0.0;
  const char* asks = nullptr;  // Choice: the Value row asked for first

  const char* option = nullptr;  // "--lo"; null: none
  OptionValue optionValue = OptionValue::None;
  const char* valueName = nullptr;     // "HZ" in --help
  double optionDefault = 0.0;          // the value of an Optional one left out
  const char* help = nullptr;          // --help line

  std::function<void(ControlHost&)> run{};                 // Command
  std::function<bool(const ConsoleState&)> checked{};      // Command: check mark
  // The menu entry's text as the state now has it, replacing the last part
  // of `menu`; empty: not offered now (hidden, its shortcut does nothing).
  std::function<QString(const ConsoleState&)> label{};
};

// What a control acts on; the menu implements it over the running session.
class ControlHost {
 public:
  virtual ~ControlHost() = default;
  virtual const ConsoleState& state() const = 0;
  virtual void apply(const ConsoleState& next) = 0;
  // Asks for a value of `row` in [low, high] starting at `start` (all in the
  // row's units); nothing when the operator cancels.
  virtual std::optional<double> ask(const Control& row, double start, double low,
                                    double high) = 0;
  virtual void restart() = 0;
  virtual void close() = 0;
};

// Every control, in menu order.
std::span<const Control> controls();
// The row with this name; null when there is none.
const Control* findControl(const char* name);

// Whether `v` is a value `row` accepts: finite, within its limits (a Value),
// or one of the values its rows choose (a Choice field), or 0/1 (a Toggle).
bool withinLimits(const Control& row, double v);
// Whether the row shows a check mark now, and whether it can have one.
bool checkable(const Control& row);
bool isChecked(const Control& row, const ConsoleState& s);

// Runs a row as its menu entry or shortcut does.
void triggerControl(const Control& row, ControlHost& host);

// The --help lines of the controls' options, one per option, aligned.
QString controlOptionsHelp();

}  // namespace lanternfly
