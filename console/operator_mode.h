// The operator view switched on and off. On: the window shows the operator
// view (frequency rising to the right), fed with the session's spectra and
// tuning, and the waterfall turns to match; off: the window as it first
// opens, and the waterfall rising to the left like its picture. Also keeps
// the signal level's one-point calibration. Main thread only.
#pragma once

#include <QObject>
#include <optional>

class QAction;
class QMenu;
class QSettings;

namespace lanternfly {

class ConsoleSession;
class ConsoleWindow;
class OperatorView;

// Settings keys: whether the view is on, and the calibration (dBm that a
// level of 0 dB reads as; absent when not calibrated).
inline constexpr const char* kOperatorViewKey = "display/operatorView";
inline constexpr const char* kCalibrationKey = "display/levelCalibrationDbm";
// Calibrations beyond this many dB either way are taken as damaged.
inline constexpr double kCalibrationLimitDb = 400.0;

class OperatorMode : public QObject {
 public:
  // Adds its two actions ("operatorView", key D; "calibrateLevel", key C)
  // to `menu` and the window. The view starts off.
  OperatorMode(ConsoleSession& session, ConsoleWindow& window, QMenu* menu);

  void setOn(bool on);
  bool isOn() const { return view_ != nullptr && on_; }
  OperatorView* view() const { return view_; }

  std::optional<double> calibration() const { return calibration_; }
  void setCalibration(std::optional<double> dbmAtZeroDb);
  // Asks for the level of the signal now in the passband in dBm and
  // calibrates to it. False when there is no level to calibrate against or
  // the operator cancelled.
  bool askCalibration();

  // Reads and writes the view's keys in the console's settings.
  void load(QSettings& store);
  void save(QSettings& store) const;

 private:
  ConsoleSession& session_;
  ConsoleWindow& window_;
  OperatorView* view_ = nullptr;  // a child of the window, made when first on
  QAction* toggle_ = nullptr;
  bool on_ = false;
  std::optional<double> calibration_;
};

}  // namespace lanternfly
