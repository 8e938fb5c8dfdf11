#include "app/window_assembly.h"

#include "app/console_session.h"
#include "engine/engine_library.h"
#include "views/console_window.h"
#include "views/waterfall_window.h"

namespace lanternfly {

OperatorAdditions::OperatorAdditions(ConsoleSession& session, ConsoleWindow& window,
                                     const SavedConsole& saved)
    : session_(session),
      window_(window),
      menu_(session, window),
      pointer_(
          &window, [&session](int x) { return session.describeColumn(x); },
          [&session](int x) { session.tuneToColumn(x); }),
      rigControl_(session, &window),
      operatorMode_(session, window),
      waterfallGeometry_(saved.waterfallGeometry) {
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

OperatorAdditions::~OperatorAdditions() = default;

void OperatorAdditions::started(int refusedStatus) {
  if (session_.state().waterfallOpen) showWaterfall(true);
  if (refusedStatus != SDR_OK) session_.reportRefusedDevices(refusedStatus);
}

void OperatorAdditions::showWaterfall(bool shown) {
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

void OperatorAdditions::collect(SavedConsole& now) const {
  now.mainWindowPosition = window_.pos();
  now.waterfallGeometry = waterfall_ ? waterfall_->saveGeometry() : waterfallGeometry_;
}

}  // namespace lanternfly
