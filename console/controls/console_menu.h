// The window's context menu (right button) and the same actions as keyboard
// shortcuts, made from the control table: one action per row with a menu
// entry, its object name the row's name, its shortcut the row's keys (also
// from the waterfall window). Check marks, and the entries whose text
// depends on the state (the Passband menu's), follow the state whenever the
// menu opens or the state changes. Devices are chosen from two submenus,
// filled from the engine each time they open; values are asked for in
// dialogs held to the row's limits. Main thread only.
#pragma once

#include <QObject>
#include <optional>

#include "controls/control_table.h"

class QAction;
class QMenu;

namespace lanternfly {

class ConsoleSession;
class ConsoleWindow;

class ConsoleMenu : public QObject, public ControlHost {
 public:
  ConsoleMenu(ConsoleSession& session, ConsoleWindow& window);

  QMenu* menu() const { return menu_; }
  // The action of the row with this name, or null.
  QAction* action(const char* name) const;

  // ControlHost, over the session and the window.
  const ConsoleState& state() const override;
  void apply(const ConsoleState& next) override;
  std::optional<double> ask(const Control& row, double start, double low, double high) override;
  void restart() override;
  void close() override;

 private:
  QMenu* submenu(const QString& path);
  void refreshChecks();
  void fillDevices(QMenu* into, bool capture);

  ConsoleSession& session_;
  ConsoleWindow& window_;
  QMenu* menu_;
};

}  // namespace lanternfly
