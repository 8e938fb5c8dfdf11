#include "views/operator_mode.h"

#include <cmath>

#include "app/console_session.h"
#include "controls/control_table.h"
#include "views/console_window.h"
#include "views/operator_view.h"

namespace lanternfly {

std::optional<double> levelCalibration(const ConsoleState& state) {
  const double c = state.levelCalibrationDbm;
  if (std::abs(c) <= kCalibrationLimitDb) return c;
  return std::nullopt;
}

OperatorMode::OperatorMode(ConsoleSession& session, ConsoleWindow& window)
    : session_(session), window_(window) {
  session.watch([this](const ConsoleState& before, const ConsoleState& now) {
    if (now.operatorView != before.operatorView) {
      show(now);
    } else if (view_ != nullptr && now.operatorView) {
      view_->setTuning(now.receiver);
      view_->setCalibration(levelCalibration(now));
    }
  });
  session.watchSpectra([this](const std::vector<double>& spectrum) {
    if (view_ != nullptr && session_.state().operatorView) view_->showSpectrum(spectrum);
  });
  if (session.state().operatorView) show(session.state());
}

void OperatorMode::show(const ConsoleState& state) {
  if (state.operatorView && view_ == nullptr) {
    view_ = new OperatorView(&window_);
    view_->onTune = [this](double offsetHz) { session_.tuneToOffset(offsetHz); };
    view_->hide();
  }
  if (state.operatorView) {
    view_->setTuning(state.receiver);
    view_->setCalibration(levelCalibration(state));
  }
  window_.setOperatorView(state.operatorView ? view_ : nullptr);
}

}  // namespace lanternfly
