// Lanternfly's command line. Parsed before any window or engine exists, so
// that --help, --version and a bad value never open a window. Each option
// given overrides the saved setting for this run only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

#include "controls/control_table.h"
#include "controls/receiver_settings.h"

namespace lanternfly {

// What the command line asked for. Each control's option is found through
// the control table: a new option is one row there and nothing here.
struct ConsoleOptions {
  enum class Action { Run, Help, Version, List, Error };
  Action action = Action::Run;
  QString error;  // one line, for Action::Error

  // The value given for a control's option, in the units of the field the
  // row sets (a Choice row: its choice; a Devices row: the device number,
  // from 1); none when the option was not given.
  std::optional<double> given(const Control& row) const;
  std::optional<double> given(const char* rowName) const;
  // Gives the option of a row (of the named one) this value, as the
  // command line would.
  void give(const Control& row, double value);
  void give(const char* rowName, double value);
  // The capture or playback device number given.
  std::optional<int> device(bool capture) const;

 private:
  std::vector<std::pair<const Control*, double>> given_;  // in the order given
};

// Parses the arguments after the program name. Values are held to their
// control's limits here (device numbers 1..1000); passband edges must have
// low < high (an edge given alone is checked against the saved other edge
// later).
ConsoleOptions parseOptions(const QStringList& arguments);

// Applies the controls' options over `s`. False, with `error` set, when the
// resulting passband is not valid; `s` is then unchanged.
bool applyOptions(const ConsoleOptions& o, ConsoleState& s, QString& error);
bool applyOptions(const ConsoleOptions& o, ReceiverSettings& s, QString& error);

QString helpText();
QString versionText();

}  // namespace lanternfly
