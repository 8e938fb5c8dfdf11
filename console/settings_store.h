// The console's saved settings, kept with QSettings under the organisation
// "Brackwell" and the application "Lanternfly" (on Linux
// $XDG_CONFIG_HOME/Brackwell/Lanternfly.conf, by default
// ~/.config/Brackwell/Lanternfly.conf). Devices are kept by name, since
// numbers change when cards come and go. A missing or unreadable value
// leaves the default in place.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <optional>

#include "receiver_settings.h"

class QSettings;

namespace lanternfly {

struct SavedConsole {
  ReceiverSettings receiver;
  QString inputDeviceName;  // empty: the console's default device number
  QString outputDeviceName;
  std::optional<QPoint> mainWindowPosition;  // outer top-left on the screen
  QByteArray waterfallGeometry;              // QWidget::saveGeometry()
  bool waterfallOpen = false;

  bool operator==(const SavedConsole&) const = default;
};

// Reads what `store` holds over the defaults.
SavedConsole loadSettings(QSettings& store);
void saveSettings(QSettings& store, const SavedConsole& saved);

}  // namespace lanternfly

namespace lanternfly {

// What to save at exit: each value as it is now, except that a value still
// as the run started keeps what was loaded (so that a command-line option,
// which overrides a setting for one run, is not saved).
SavedConsole settingsToSave(const SavedConsole& loaded, const SavedConsole& startedWith,
                            const SavedConsole& now);

}  // namespace lanternfly
