// Lanternfly's command line. Parsed before any window or engine exists, so
// that --help, --version and a bad value never open a window. Each option
// given overrides the saved setting for this run only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "controls/control_table.h"
#include "controls/receiver_settings.h"

namespace lanternfly {

struct ConsoleOptions {
  enum class Action { Run, Help, Version, List, Error };
  Action action = Action::Run;
  QString error;  // one line, for Action::Error

  std::optional<int> inputDevice;  // device numbers, from 1
  std::optional<int> outputDevice;
  // Values of the controls' options (see the control table), in the units
  // of the field each one sets.
  std::optional<double> sideband;      // a Sideband
  std::optional<double> lowCutHz;
  std::optional<double> highCutHz;
  std::optional<double> tuneOffsetHz;  // rounded to the slider's step on use
  std::optional<double> loHz;
  std::optional<double> rigctlPort;  // 0: rig control off for this run
  std::optional<double> exactTuning;  // 1 / 0: the extension on / off for this run
  std::optional<double> autoIqBalance;
  std::optional<double> dcRemoval;
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
