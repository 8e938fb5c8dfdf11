// The console window's assembly: everything the operator has around the
// plain window, made and wired to the running session in one place. The menu
// and its shortcuts, the pointer over the picture, hints on the readouts,
// the saved window position, the operator view (shown in place of the
// spectrum picture while the state has it on), the waterfall window (whose
// frequency runs the way the main window's picture does), rig control, and
// the error box for devices the engine refused at start. Main thread only;
// lives between the window's creation and the end of the event loop.
#pragma once

#include <QByteArray>
#include <memory>

#include "app/settings_store.h"
#include "controls/console_menu.h"
#include "controls/rig_control.h"
#include "views/picture_pointer.h"

namespace lanternfly {

class ConsoleSession;
class ConsoleWindow;
class OperatorView;
class WaterfallWindow;

class WindowAssembly {
 public:
  // `saved` is what the settings held at start.
  WindowAssembly(ConsoleSession& session, ConsoleWindow& window, const SavedConsole& saved);
  ~WindowAssembly();

  // Once the engine runs and the display loop with it: reopens what was
  // open, and reports devices the engine refused (`status`, when the
  // operator chose them rather than the console's defaults).
  void started(int refusedStatus);
  // What the assembly keeps for the next run: window placement.
  void collect(SavedConsole& now) const;

 private:
  void showWaterfall(bool shown);
  void showOperatorView(const ConsoleState& state);

  ConsoleSession& session_;
  ConsoleWindow& window_;
  ConsoleMenu menu_;
  PicturePointer pointer_;
  RigControl rigControl_;
  OperatorView* operatorView_ = nullptr;  // a child of the window, made when first shown
  std::unique_ptr<WaterfallWindow> waterfall_;
  QByteArray waterfallGeometry_;  // as saved, until the waterfall exists
};

}  // namespace lanternfly
