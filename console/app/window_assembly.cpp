#include "app/window_assembly.h"

#include <cmath>
#include <optional>

#include "app/console_session.h"
#include "engine/engine_library.h"
#include "views/console_window.h"
#include "views/operator_view.h"
#include "views/waterfall_window.h"

namespace lanternfly {
namespace {

// The signal level's calibration in a state, or none while it is not set.
std::optional<double> levelCalibration(const ConsoleState& state) {
  const double c = state.levelCalibrationDbm;
  if (std::abs(c) <= kCalibrationLimitDb) return c;
  return std::nullopt;
}

}  // namespace

WindowAssembly::WindowAssembly(ConsoleSession& session, ConsoleWindow& window,
                               const SavedConsole& saved)
    : session_(session),
      window_(window),
      menu_(session, window),
      pointer_(
          &window, [&session](int x) { return session.describeColumn(x); },
          [&session](int x) { session.tuneToColumn(x); }),
      rigControl_(session, &window),
      waterfallGeometry_(saved.waterfallGeometry) {
  // The operator view first: the window it may widen is placed after it.
  session.watch([this](const ConsoleState& before, const ConsoleState& now) {
    if (now.operatorView != before.operatorView) {
      showOperatorView(now);
    } else if (operatorView_ != nullptr && now.operatorView) {
      operatorView_->setTuning(now.receiver);
      operatorView_->setCalibration(levelCalibration(now));
    }
  });
  session.watchSpectra([this](const std::vector<double>& spectrum) {
    if (operatorView_ != nullptr && session_.state().operatorView) {
      operatorView_->showSpectrum(spectrum);
    }
  });
  if (session.state().operatorView) showOperatorView(session.state());

  if (const int offset = session.settings().tuneOffsetHz; offset != 0) window.showTuning(offset);
  if (saved.mainWindowPosition) window.placeAt(*saved.mainWindowPosition);
  window.setReadoutHints(
      QStringLiteral("Tuning offset from the centre of the captured band, Hz"),
      QStringLiteral("Automatic gain in force (linear factor): it grows as the signal weakens"));

  session.watch([this](const ConsoleState& before, const ConsoleState& now) {
    if (now.waterfallOpen != before.waterfallOpen) showWaterfall(now.waterfallOpen);
    if (waterfall_ && now.receiver != before.receiver) waterfall_->setTuning(now.receiver);
    if (waterfall_) waterfall_->setRisingRight(now.operatorView);
  });
  session.watchSpectra([this](const std::vector<double>& spectrum) {
    if (waterfall_ && waterfall_->isVisible()) waterfall_->addSpectrum(spectrum);
  });
}

WindowAssembly::~WindowAssembly() = default;

void WindowAssembly::started(int refusedStatus) {
  if (session_.state().waterfallOpen) showWaterfall(true);
  if (refusedStatus != SDR_OK) session_.reportRefusedDevices(refusedStatus);
}

void WindowAssembly::showOperatorView(const ConsoleState& state) {
  // In place of the spectrum picture, frequency rising to the right; off,
  // the window is as it first opens.
  if (state.operatorView && operatorView_ == nullptr) {
    operatorView_ = new OperatorView(&window_);
    operatorView_->onTune = [this](double offsetHz) { session_.tuneToOffset(offsetHz); };
    operatorView_->hide();
  }
  if (state.operatorView) {
    operatorView_->setTuning(state.receiver);
    operatorView_->setCalibration(levelCalibration(state));
  }
  window_.setOperatorView(state.operatorView ? operatorView_ : nullptr);
}

void WindowAssembly::showWaterfall(bool shown) {
  if (!waterfall_) {
    if (!shown) return;
    waterfall_ = std::make_unique<WaterfallWindow>();
    if (!waterfallGeometry_.isEmpty()) waterfall_->restoreGeometry(waterfallGeometry_);
    waterfall_->setTuning(session_.settings());
    waterfall_->setRisingRight(session_.state().operatorView);
    // Quitting closes every window after the main one: only a close before
    // the main window's is the operator's.
    waterfall_->onClosed = [this] {
      if (session_.closing() || !session_.state().waterfallOpen) return;
      ConsoleState s = session_.state();
      s.waterfallOpen = false;
      session_.apply(s);
    };
  }
  if (shown) {
    waterfall_->show();
    waterfall_->raise();
  } else {
    waterfall_->hide();
  }
}

void WindowAssembly::collect(SavedConsole& now) const {
  now.mainWindowPosition = window_.pos();
  now.waterfallGeometry = waterfall_ ? waterfall_->saveGeometry() : waterfallGeometry_;
}

}  // namespace lanternfly
