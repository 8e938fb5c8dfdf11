#include "app/settings_store.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <cmath>
#include <cstring>

#include "app/console_app.h"

namespace lanternfly {
namespace {

bool sameKey(const Control& a, const Control& b) {
  return a.setting != nullptr && b.setting != nullptr && std::strcmp(a.setting, b.setting) == 0;
}

// The first row saved under `row`'s key: a choice's rows share one key.
bool firstWithItsKey(const Control& row) {
  for (const Control& c : controls()) {
    if (sameKey(c, row)) return &c == &row;
  }
  return true;
}

// Reads one row's value into `out`; false when the stored text is not one
// the row accepts.
bool readRow(const Control& row, const QVariant& stored, ConsoleState& out) {
  const QString text = stored.toString();
  switch (row.kind) {
    case ControlKind::Choice:
      for (const Control& c : controls()) {
        if (sameKey(c, row) && c.settingText != nullptr && text == QLatin1String(c.settingText)) {
          c.field.set(out, c.choice);
          return true;
        }
      }
      return false;
    case ControlKind::Toggle:
      if (text != QLatin1String("true") && text != QLatin1String("false")) return false;
      row.field.set(out, text == QLatin1String("true") ? 1.0 : 0.0);
      return true;
    case ControlKind::Value: {
      bool ok = false;
      const double v = stored.toDouble(&ok);
      // The default is accepted even where it lies outside the limits: it
      // stands for "never set" (the volume's -1).
      if (!ok || !(withinLimits(row, v) || v == row.field.get(ConsoleState{}))) return false;
      row.field.set(out, v);
      return true;
    }
    default:
      return true;
  }
}

}  // namespace

SavedConsole loadSettings(QSettings& s, QStringList* reset) {
  SavedConsole out;
  QStringList bad;
  for (const Control& row : controls()) {
    if (row.setting == nullptr || !row.field || !firstWithItsKey(row)) continue;
    const QString key = QLatin1String(row.setting);
    if (s.contains(key) && !readRow(row, s.value(key), out)) bad.append(key);
  }
  // Each edge may be fine alone and the pair still not.
  ReceiverSettings& r = out.receiver;
  if (!validPassband(r.lowCutHz, r.highCutHz)) {
    const ReceiverSettings d;
    r.lowCutHz = d.lowCutHz;
    r.highCutHz = d.highCutHz;
    bad.append(QStringLiteral("receiver/lowCutHz..highCutHz"));
  }

  out.inputDeviceName = s.value(QStringLiteral("devices/capture")).toString();
  out.outputDeviceName = s.value(QStringLiteral("devices/playback")).toString();
  if (s.contains(QStringLiteral("windows/main"))) {
    out.mainWindowPosition = s.value(QStringLiteral("windows/main")).toPoint();
  }
  out.waterfallGeometry = s.value(QStringLiteral("windows/waterfall")).toByteArray();
  if (reset != nullptr) reset->append(bad);
  return out;
}

void saveSettings(QSettings& s, const SavedConsole& saved) {
  for (const Control& row : controls()) {
    if (row.setting == nullptr || !row.field) continue;
    const QString key = QLatin1String(row.setting);
    switch (row.kind) {
      case ControlKind::Choice:
        if (isChecked(row, saved)) s.setValue(key, QLatin1String(row.settingText));
        break;
      case ControlKind::Toggle:
        s.setValue(key, row.field.get(saved) != 0.0);
        break;
      case ControlKind::Value:
        s.setValue(key, row.field.get(saved));
        break;
      default:
        break;
    }
  }
  auto setOrRemove = [&s](const QString& key, const QString& value) {
    if (value.isEmpty()) {
      s.remove(key);
    } else {
      s.setValue(key, value);
    }
  };
  setOrRemove(QStringLiteral("devices/capture"), saved.inputDeviceName);
  setOrRemove(QStringLiteral("devices/playback"), saved.outputDeviceName);
  if (saved.mainWindowPosition) {
    s.setValue(QStringLiteral("windows/main"), *saved.mainWindowPosition);
  } else {
    s.remove(QStringLiteral("windows/main"));
  }
  s.setValue(QStringLiteral("windows/waterfall"), saved.waterfallGeometry);
  s.sync();
}

SavedConsole settingsToSave(const SavedConsole& loaded, const SavedConsole& startedWith,
                            const SavedConsole& now) {
  SavedConsole out = now;
  for (const Control& row : controls()) {
    if (row.option == nullptr || !row.field) continue;
    if (row.field.get(now) == row.field.get(startedWith)) {
      row.field.set(out, row.field.get(loaded));
    }
  }
  // The passband edges go together: an option may have set one of them.
  if (!validPassband(out.receiver.lowCutHz, out.receiver.highCutHz)) {
    out.receiver.lowCutHz = now.receiver.lowCutHz;
    out.receiver.highCutHz = now.receiver.highCutHz;
  }
  if (now.inputDeviceName == startedWith.inputDeviceName)
    out.inputDeviceName = loaded.inputDeviceName;
  if (now.outputDeviceName == startedWith.outputDeviceName)
    out.outputDeviceName = loaded.outputDeviceName;
  return out;
}

SettingsFile::SettingsFile()
    : path_(QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                .filePath(QStringLiteral("%1/%2.conf")
                              .arg(QLatin1String(kSettingsOrganisation),
                                   QLatin1String(kSettingsApplication)))) {
  // Opening a FIFO for reading would wait for a writer; a folder cannot be
  // replaced by the rename of a save.
  const QFileInfo info(path_);
  if (info.exists() && !info.isFile()) {
    problem_ = QStringLiteral("settings %1 is not a regular file; they are neither read nor saved")
                   .arg(path_);
    return;
  }
  store_ = std::make_unique<QSettings>(path_, QSettings::IniFormat);
  store_->setAtomicSyncRequired(true);
  if (store_->status() != QSettings::NoError) {
    problem_ = QStringLiteral("settings %1 could not be read").arg(path_);
  }
}

SettingsFile::~SettingsFile() = default;

SavedConsole SettingsFile::load(QStringList* reset) {
  return store_ ? loadSettings(*store_, reset) : SavedConsole{};
}

bool SettingsFile::save(const SavedConsole& saved) {
  if (!store_) return false;
  saveSettings(*store_, saved);
  if (store_->status() == QSettings::NoError) return true;
  problem_ = QStringLiteral("settings could not be saved to %1").arg(path_);
  return false;
}

}  // namespace lanternfly
