// The operator view, shown while the state's operatorView is on: the window
// shows it in place of the spectrum picture (frequency rising to the
// right), fed with the session's spectra and tuning and the signal level's
// calibration; off, the window is as it first opens. Attached from outside
// by watching the session. Main thread only.
#pragma once

#include <optional>

namespace lanternfly {

class ConsoleSession;
class ConsoleWindow;
class OperatorView;
struct ConsoleState;

class OperatorMode {
 public:
  // Shows the view at once when the state has it on.
  OperatorMode(ConsoleSession& session, ConsoleWindow& window);

  OperatorView* view() const { return view_; }

 private:
  void show(const ConsoleState& state);

  ConsoleSession& session_;
  ConsoleWindow& window_;
  OperatorView* view_ = nullptr;  // a child of the window, made when first shown
};

// The calibration in a state, or none while it is not set.
std::optional<double> levelCalibration(const ConsoleState& state);

}  // namespace lanternfly
