#include "settings_store.h"

#include <QSettings>
#include <cmath>

namespace lanternfly {
namespace {

double readFinite(QSettings& s, const char* key, double fallback) {
  bool ok = false;
  const double v = s.value(QLatin1String(key)).toDouble(&ok);
  return ok && std::isfinite(v) ? v : fallback;
}

int readInt(QSettings& s, const char* key, int low, int high, int fallback) {
  bool ok = false;
  const int v = s.value(QLatin1String(key)).toInt(&ok);
  return ok && v >= low && v <= high ? v : fallback;
}

}  // namespace

SavedConsole loadSettings(QSettings& s) {
  SavedConsole out;
  ReceiverSettings& r = out.receiver;
  const ReceiverSettings d;

  const QString sideband = s.value(QStringLiteral("receiver/sideband")).toString();
  if (sideband == QLatin1String("lower")) r.sideband = Sideband::Lower;
  const int low = readInt(s, "receiver/lowCutHz", kLowestCutHz, kHighestCutHz, d.lowCutHz);
  const int high = readInt(s, "receiver/highCutHz", kLowestCutHz, kHighestCutHz, d.highCutHz);
  if (validPassband(low, high)) {
    r.lowCutHz = low;
    r.highCutHz = high;
  }
  const QString agc = s.value(QStringLiteral("receiver/agc")).toString();
  if (agc == QLatin1String("fast")) r.agc = AgcMode::Fast;
  if (agc == QLatin1String("off")) r.agc = AgcMode::Off;
  r.fixedGain = readFinite(s, "receiver/fixedGain", d.fixedGain);
  r.squelchLevel = readFinite(s, "receiver/squelchLevel", d.squelchLevel);
  r.swapIq = s.value(QStringLiteral("receiver/swapIq"), false).toBool();
  r.iqPhaseCoef = readFinite(s, "receiver/iqPhaseCoef", d.iqPhaseCoef);
  r.iqGainCoef = readFinite(s, "receiver/iqGainCoef", d.iqGainCoef);
  r.volumePercent = readInt(s, "receiver/volumePercent", -1, 100, d.volumePercent);
  r.tuneOffsetHz = nearestSliderOffset(readFinite(s, "tuning/offsetHz", 0.0));
  r.loHz = std::fmax(0.0, readFinite(s, "tuning/loHz", d.loHz));

  out.inputDeviceName = s.value(QStringLiteral("devices/capture")).toString();
  out.outputDeviceName = s.value(QStringLiteral("devices/playback")).toString();
  if (s.contains(QStringLiteral("windows/main"))) {
    out.mainWindowPosition = s.value(QStringLiteral("windows/main")).toPoint();
  }
  out.waterfallGeometry = s.value(QStringLiteral("windows/waterfall")).toByteArray();
  out.waterfallOpen = s.value(QStringLiteral("windows/waterfallOpen"), false).toBool();
  return out;
}

void saveSettings(QSettings& s, const SavedConsole& saved) {
  const ReceiverSettings& r = saved.receiver;
  s.setValue(QStringLiteral("receiver/sideband"),
             r.sideband == Sideband::Lower ? QStringLiteral("lower") : QStringLiteral("upper"));
  s.setValue(QStringLiteral("receiver/lowCutHz"), r.lowCutHz);
  s.setValue(QStringLiteral("receiver/highCutHz"), r.highCutHz);
  s.setValue(QStringLiteral("receiver/agc"), r.agc == AgcMode::Slow   ? QStringLiteral("slow")
                                             : r.agc == AgcMode::Fast ? QStringLiteral("fast")
                                                                      : QStringLiteral("off"));
  s.setValue(QStringLiteral("receiver/fixedGain"), r.fixedGain);
  s.setValue(QStringLiteral("receiver/squelchLevel"), r.squelchLevel);
  s.setValue(QStringLiteral("receiver/swapIq"), r.swapIq);
  s.setValue(QStringLiteral("receiver/iqPhaseCoef"), r.iqPhaseCoef);
  s.setValue(QStringLiteral("receiver/iqGainCoef"), r.iqGainCoef);
  s.setValue(QStringLiteral("receiver/volumePercent"), r.volumePercent);
  s.setValue(QStringLiteral("tuning/offsetHz"), r.tuneOffsetHz);
  s.setValue(QStringLiteral("tuning/loHz"), r.loHz);
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
  s.setValue(QStringLiteral("windows/waterfallOpen"), saved.waterfallOpen);
  s.sync();
}

}  // namespace lanternfly

namespace lanternfly {

SavedConsole settingsToSave(const SavedConsole& loaded, const SavedConsole& startedWith,
                            const SavedConsole& now) {
  SavedConsole out = now;
  auto keep = [](auto& field, const auto& before, const auto& started, const auto& current) {
    if (current == started) field = before;
  };
  const ReceiverSettings& l = loaded.receiver;
  const ReceiverSettings& s = startedWith.receiver;
  const ReceiverSettings& n = now.receiver;
  ReceiverSettings& o = out.receiver;
  keep(o.sideband, l.sideband, s.sideband, n.sideband);
  // The passband edges go together: an option may have set one of them.
  if (n.lowCutHz == s.lowCutHz && n.highCutHz == s.highCutHz) {
    o.lowCutHz = l.lowCutHz;
    o.highCutHz = l.highCutHz;
  }
  keep(o.tuneOffsetHz, l.tuneOffsetHz, s.tuneOffsetHz, n.tuneOffsetHz);
  keep(o.loHz, l.loHz, s.loHz, n.loHz);
  if (now.inputDeviceName == startedWith.inputDeviceName)
    out.inputDeviceName = loaded.inputDeviceName;
  if (now.outputDeviceName == startedWith.outputDeviceName)
    out.outputDeviceName = loaded.outputDeviceName;
  return out;
}

}  // namespace lanternfly
