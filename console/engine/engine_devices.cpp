#include "engine/engine_devices.h"

namespace lanternfly {

namespace {

QString plainName(const EngineEntries& e, bool capture, int number) {
  const auto name = capture ? e.sdrGetNameInDevice : e.sdrGetNameOutDevice;
  if (name == nullptr) return QString();
  // The text is valid only until this thread's next name query: copy it.
  const char* text = name(number);
  return text != nullptr ? QString::fromUtf8(text) : QString();
}

}  // namespace

QStringList deviceNames(const EngineEntries& e, bool capture) {
  QStringList names;
  const auto count = capture ? e.sdrGetNumInDevice : e.sdrGetNumOutDevice;
  if (count == nullptr) return names;
  const int n = count();
  for (int k = 1; k <= n; ++k) names.append(plainName(e, capture, k));
  return names;
}

QStringList distinctDeviceNames(const QStringList& names) {
  QStringList out = names;
  for (qsizetype k = 0; k < names.size(); ++k) {
    if (names.count(names[k]) < 2) continue;
    const qsizetype place = names.mid(0, k + 1).count(names[k]);
    out[k] = QStringLiteral("%1 #%2").arg(names[k]).arg(place);
  }
  return out;
}

int deviceNumberForName(const EngineEntries& e, bool capture, const QString& name) {
  const QStringList names = deviceNames(e, capture);
  qsizetype at = distinctDeviceNames(names).indexOf(name);
  if (at < 0) at = names.indexOf(name);
  return at < 0 ? 0 : static_cast<int>(at) + 1;
}

QString deviceName(const EngineEntries& e, bool capture, int number) {
  return distinctDeviceNames(deviceNames(e, capture)).value(number - 1);
}

QString statusText(int status) {
  if (status == SDR_OK) return QStringLiteral("ok");
  return QString::fromUtf8(sdrStatusText(status));
}

QString deviceListing(const EngineEntries& e) {
  QString out;
  auto section = [&](const char* title, bool capture) {
    out += QLatin1String(title) + QLatin1String(":\n");
    const QStringList names = distinctDeviceNames(deviceNames(e, capture));
    for (qsizetype k = 0; k < names.size(); ++k) {
      out += QStringLiteral("  %1  %2%3\n")
                 .arg(k + 1)
                 .arg(names[k], k == 0 ? QStringLiteral("  (default)") : QString());
    }
  };
  section("Capture devices", true);
  section("Playback devices", false);
  const int mixers = e.sdrGetNumMixer != nullptr ? e.sdrGetNumMixer() : 0;
  out += QStringLiteral("Mixers:%1\n").arg(mixers == 0 ? QStringLiteral(" none") : QString());
  for (int k = 1; k <= mixers && e.sdrGetNameMixer != nullptr; ++k) {
    const char* name = e.sdrGetNameMixer(k);
    out += QStringLiteral("  %1  %2\n").arg(k).arg(QString::fromUtf8(name != nullptr ? name : ""));
  }
  return out;
}

}  // namespace lanternfly
