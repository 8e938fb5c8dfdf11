// What the operator has beyond the plain console, attached to the running
// session and its window from outside: the menu and its shortcuts, the
// pointer over the picture, hints on the readouts, the saved window
// position, the operator view, the waterfall window (whose frequency runs
// the way the main window's picture does), rig control, and the error box
// for devices the engine refused at start. Main thread only; lives between
// the window's creation and the end of the event loop.
#pragma once

#include <QByteArray>
#include <memory>

#include "app/settings_store.h"
#include "controls/console_menu.h"
#include "controls/rig_control.h"
#include "views/operator_mode.h"
#include "views/picture_pointer.h"

namespace lanternfly {

class ConsoleSession;
class ConsoleWindow;
class WaterfallWindow;

class OperatorAdditions {
 public:
  // `saved` is what the settings held at start.
  OperatorAdditions(ConsoleSession& session, ConsoleWindow& window, const SavedConsole& saved);
  ~OperatorAdditions();

  // Once the engine runs and the display loop with it: reopens what was
  // open, and reports devices the engine refused (`status`, when the
  // operator chose them rather than the console's defaults).
  void started(int refusedStatus);
  // What the additions keep for the next run: window placement.
  void collect(SavedConsole& now) const;

 private:
  void showWaterfall(bool shown);

  ConsoleSession& session_;
  ConsoleWindow& window_;
  ConsoleMenu menu_;
  PicturePointer pointer_;
  RigControl rigControl_;
  OperatorMode operatorMode_;
  std::unique_ptr<WaterfallWindow> waterfall_;
  QByteArray waterfallGeometry_;  // as saved, until the waterfall exists
};

}  // namespace lanternfly
