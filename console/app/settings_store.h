// The console's saved settings, kept in an INI file with QSettings (on Linux
// $XDG_CONFIG_HOME/Brackwell/Lanternfly.conf, by default
// ~/.config/Brackwell/Lanternfly.conf). Which keys there are, and the limits
// each value is held to on reading, come from the control table. Devices
// are kept by name, since numbers change when cards come and go. A missing
// value leaves the default in place; one its control does not accept is
// reset to the default and named.
#pragma once

#include <QByteArray>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "controls/control_table.h"

class QSettings;

namespace lanternfly {

struct SavedConsole : ConsoleState {
  QString inputDeviceName;  // empty: the console's default device number
  QString outputDeviceName;
  std::optional<QPoint> mainWindowPosition;  // outer top-left on the screen
  QByteArray waterfallGeometry;              // QWidget::saveGeometry()

  bool operator==(const SavedConsole&) const = default;
};

// Reads what `store` holds over the defaults. The keys of values that were
// present but not accepted (unreadable, outside their control's limits, not
// one of its choices) are appended to `reset`.
SavedConsole loadSettings(QSettings& store, QStringList* reset = nullptr);
// Writes every value; the caller syncs.
void saveSettings(QSettings& store, const SavedConsole& saved);

// What to save at exit: each value as it is now, except that a value still
// as the run started keeps what was loaded (so that a command-line option,
// which overrides a setting for one run, is not saved).
SavedConsole settingsToSave(const SavedConsole& loaded, const SavedConsole& startedWith,
                            const SavedConsole& now);

// The user's settings file. Something other than a regular file at its path
// (a FIFO, a folder) is neither read nor written, so that start-up cannot
// block on it. Saving writes a temporary file and renames it over the old
// one, so a crash during a save leaves the previous file whole.
class SettingsFile {
 public:
  SettingsFile();
  ~SettingsFile();

  const QString& path() const { return path_; }
  // False when something other than a regular file is at the path.
  bool usable() const { return store_ != nullptr; }
  // The settings as saved (defaults when there is no usable file), with the
  // reset keys appended to `reset`.
  SavedConsole load(QStringList* reset = nullptr);
  // Saves; false when the file could not be written (problem() says why).
  bool save(const SavedConsole& saved);
  // One line about what went wrong with the file; empty when nothing did.
  const QString& problem() const { return problem_; }

 private:
  QString path_;
  QString problem_;
  std::unique_ptr<QSettings> store_;  // null when the path is not usable
};

}  // namespace lanternfly
