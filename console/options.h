// Lanternfly's command line. Parsed before any window or engine exists, so
// that --help, --version and a bad value never open a window. Each option
// given overrides the saved setting for this run only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "receiver_settings.h"

namespace lanternfly {

struct ConsoleOptions {
  enum class Action { Run, Help, Version, List, Error };
  Action action = Action::Run;
  QString error;  // one line, for Action::Error

  std::optional<int> inputDevice;  // device numbers, from 1
  std::optional<int> outputDevice;
  std::optional<Sideband> sideband;
  std::optional<int> lowCutHz;
  std::optional<int> highCutHz;
  std::optional<double> tuneOffsetHz;  // rounded to the slider's step on use
  std::optional<double> loHz;
  std::optional<int> rigctlPort;  // serve rig control on this loopback port
};

// Parses the arguments after the program name. Values are checked here:
// device numbers 1..1000, passband edges 50..6000 Hz with low < high (an
// edge given alone is checked against the saved other edge later), tuning
// -24000..24000 Hz, LO 0..1e12 Hz.
ConsoleOptions parseOptions(const QStringList& arguments);

// Applies the receiver options over `s`. False, with `error` set, when the
// resulting passband is not valid.
bool applyOptions(const ConsoleOptions& o, ReceiverSettings& s, QString& error);

QString helpText();
QString versionText();

}  // namespace lanternfly
