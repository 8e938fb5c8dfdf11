#include "operator_mode.h"

#include <QAction>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <cmath>

#include "console_session.h"
#include "console_window.h"
#include "operator_view.h"
#include "signal_level.h"

namespace lanternfly {
namespace {

QAction* addAction(QMenu* menu, QWidget& window, const QString& text, const char* name,
                   const QKeySequence& keys) {
  auto* a = new QAction(text, menu);
  a->setObjectName(QLatin1String(name));
  a->setShortcut(keys);
  a->setShortcutContext(Qt::ApplicationShortcut);
  menu->addAction(a);
  window.addAction(a);
  return a;
}

}  // namespace

OperatorMode::OperatorMode(ConsoleSession& session, ConsoleWindow& window, QMenu* menu)
    : QObject(&window), session_(session), window_(window) {
  menu->addSeparator();
  toggle_ = addAction(menu, window, QStringLiteral("Operator view"), "operatorView", Qt::Key_D);
  toggle_->setCheckable(true);
  connect(toggle_, &QAction::triggered, this, [this](bool checked) { setOn(checked); });
  connect(addAction(menu, window, QStringLiteral("Calibrate signal level..."), "calibrateLevel",
                    Qt::Key_C),
          &QAction::triggered, this, [this] { askCalibration(); });
}

void OperatorMode::setOn(bool on) {
  on_ = on;
  toggle_->setChecked(on);
  if (on && view_ == nullptr) {
    view_ = new OperatorView(&window_);
    view_->setTuning(session_.settings());
    view_->setCalibration(calibration_);
    view_->onTune = [this](double offsetHz) { session_.tuneToOffset(offsetHz); };
    view_->hide();
  }
  // Fed only while shown: a hidden view costs nothing per frame.
  if (on) {
    session_.onSpectrum = [this](std::span<const double> spectrum) { view_->showSpectrum(spectrum); };
    session_.onSent = [this](const ReceiverSettings& s) { view_->setTuning(s); };
    view_->setTuning(session_.settings());
  } else {
    session_.onSpectrum = nullptr;
    session_.onSent = nullptr;
  }
  window_.setOperatorView(on ? view_ : nullptr);
  session_.setWaterfallRisingRight(on);
}

void OperatorMode::setCalibration(std::optional<double> dbmAtZeroDb) {
  calibration_ = dbmAtZeroDb;
  if (view_ != nullptr) view_->setCalibration(dbmAtZeroDb);
}

bool OperatorMode::askCalibration() {
  const double levelDb = view_ != nullptr && on_ ? view_->levelDb() : NAN;
  if (!std::isfinite(levelDb)) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Lanternfly"),
                    QStringLiteral("Switch on the operator view (D) and tune to a signal of known "
                                   "level first: there is no level in the passband to calibrate."),
                    QMessageBox::Ok, &window_);
    box.exec();
    return false;
  }
  bool ok = false;
  const double shown = calibration_ ? levelDb + *calibration_ : kS9Dbm;
  const double dBm = QInputDialog::getDouble(
      &window_, QStringLiteral("Lanternfly"),
      QStringLiteral("The signal now in the passband reads %1 dB.\nIts level in dBm:")
          .arg(levelDb, 0, 'f', 1),
      shown, -200.0, 100.0, 1, &ok);
  if (!ok) return false;
  setCalibration(dBm - levelDb);
  return true;
}

void OperatorMode::load(QSettings& store) {
  bool ok = false;
  const double c = store.value(QLatin1String(kCalibrationKey)).toDouble(&ok);
  setCalibration(ok && std::isfinite(c) && std::fabs(c) <= kCalibrationLimitDb ? std::optional(c)
                                                                              : std::nullopt);
  // Only a clear yes switches it on: a damaged value leaves the window as
  // it first opens.
  const QString on = store.value(QLatin1String(kOperatorViewKey)).toString().toLower();
  if (on == QLatin1String("true") || on == QLatin1String("1")) setOn(true);
}

void OperatorMode::save(QSettings& store) const {
  store.setValue(QLatin1String(kOperatorViewKey), on_);
  if (calibration_) {
    store.setValue(QLatin1String(kCalibrationKey), *calibration_);
  } else {
    store.remove(QLatin1String(kCalibrationKey));
  }
}

}  // namespace lanternfly
