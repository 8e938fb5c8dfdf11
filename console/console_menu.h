// The window's context menu (right button) and the same actions as keyboard
// shortcuts:
//   U / L       upper / lower sideband
//   1 / 2 / 3   passband 300..2700 Hz, 200..3200 Hz, 450..950 Hz
//   B           custom passband
//   A / F / G   AGC slow hold / fast hold / off with a fixed gain
//   S           squelch level        V  output volume
//   I           swap I and Q         P / Shift+P  balance phase / gain
//   O           LO frequency         W  waterfall window
//   R           restart the receiver Ctrl+Q  close
// The shortcuts work in the waterfall window too. Devices are chosen from two submenus, filled from
// the engine each time the menu opens. Values are asked for in dialogs. Main thread only.
#pragma once

#include <QObject>

class QAction;
class QMenu;

namespace lanternfly {

class ConsoleSession;
class ConsoleWindow;

struct Passband {
  const char* name;
  int lowCutHz;
  int highCutHz;
};
inline constexpr Passband kPassbandPresets[] = {
    {"2.4 kHz voice", 300, 2700}, {"3 kHz voice", 200, 3200}, {"500 Hz telegraphy", 450, 950}};

class ConsoleMenu : public QObject {
 public:
  ConsoleMenu(ConsoleSession& session, ConsoleWindow& window);

  QMenu* menu() const { return menu_; }
  // The action with this object name ("usb", "lsb", "band1".."band3",
  // "bandCustom", "agcSlow", "agcFast", "agcOff", "squelch", "volume",
  // "swapIq", "balancePhase", "balanceGain", "lo", "waterfall", "restart",
  // "close"), or null.
  QAction* action(const char* name) const;

 private:
  QAction* add(QMenu* into, const QString& text, const char* name, const QKeySequence& keys);
  void refreshChecks();
  void fillDevices(QMenu* into, bool capture);

  ConsoleSession& session_;
  ConsoleWindow& window_;
  QMenu* menu_;
};

}  // namespace lanternfly
