#include "options.h"

#include <cmath>

#include "rigctl_server.h"

namespace lanternfly {
namespace {

bool parseWhole(const QString& text, long long low, long long high, long long& out) {
  bool ok = false;
  const long long v = text.toLongLong(&ok, 10);
  if (!ok || v < low || v > high) return false;
  out = v;
  return true;
}

bool parseHz(const QString& text, double low, double high, double& out) {
  bool ok = false;
  const double v = text.toDouble(&ok);
  if (!ok || !std::isfinite(v) || v < low || v > high) return false;
  out = v;
  return true;
}

ConsoleOptions failed(const QString& why) {
  ConsoleOptions o;
  o.action = ConsoleOptions::Action::Error;
  o.error = why;
  return o;
}

}  // namespace

ConsoleOptions parseOptions(const QStringList& arguments) {
  ConsoleOptions o;
  bool help = false, version = false, list = false;
  for (qsizetype k = 0; k < arguments.size(); ++k) {
    QString name = arguments[k];
    QString value;
    bool hasValue = false;
    if (const qsizetype eq = name.indexOf(QLatin1Char('='));
        name.startsWith(QLatin1String("--")) && eq > 0) {
      value = name.mid(eq + 1);
      name = name.left(eq);
      hasValue = true;
    }
    auto needValue = [&]() -> bool {
      if (hasValue) return true;
      if (k + 1 >= arguments.size()) return false;
      value = arguments[++k];
      return true;
    };
    auto flagOnly = [&] { return !hasValue; };

    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
      if (!flagOnly()) return failed(QStringLiteral("%1 takes no value").arg(name));
      help = true;
    } else if (name == QLatin1String("--version")) {
      if (!flagOnly()) return failed(QStringLiteral("--version takes no value"));
      version = true;
    } else if (name == QLatin1String("--list")) {
      if (!flagOnly()) return failed(QStringLiteral("--list takes no value"));
      list = true;
    } else if (name == QLatin1String("--lsb") || name == QLatin1String("--usb")) {
      if (!flagOnly()) return failed(QStringLiteral("%1 takes no value").arg(name));
      const Sideband s = name == QLatin1String("--lsb") ? Sideband::Lower : Sideband::Upper;
      if (o.sideband && *o.sideband != s)
        return failed(QStringLiteral("--lsb and --usb exclude each other"));
      o.sideband = s;
    } else if (name == QLatin1String("--in") || name == QLatin1String("--out")) {
      long long n = 0;
      if (!needValue()) return failed(QStringLiteral("%1 needs a device number").arg(name));
      if (!parseWhole(value, 1, 1000, n)) {
        return failed(
            QStringLiteral("%1: '%2' is not a device number (1 or more)").arg(name, value));
      }
      (name == QLatin1String("--in") ? o.inputDevice : o.outputDevice) = static_cast<int>(n);
    } else if (name == QLatin1String("--low") || name == QLatin1String("--high")) {
      long long hz = 0;
      if (!needValue()) return failed(QStringLiteral("%1 needs a frequency in Hz").arg(name));
      if (!parseWhole(value, kLowestCutHz, kHighestCutHz, hz)) {
        return failed(QStringLiteral("%1: '%2' is not a whole number of Hz in %3..%4")
                          .arg(name, value)
                          .arg(kLowestCutHz)
                          .arg(kHighestCutHz));
      }
      (name == QLatin1String("--low") ? o.lowCutHz : o.highCutHz) = static_cast<int>(hz);
    } else if (name == QLatin1String("--tune")) {
      double hz = 0;
      if (!needValue()) return failed(QStringLiteral("--tune needs an offset in Hz"));
      if (!parseHz(value, -kTuneLimitHz, kTuneLimitHz, hz)) {
        return failed(QStringLiteral("--tune: '%1' is not an offset in Hz in -%2..%2")
                          .arg(value)
                          .arg(kTuneLimitHz));
      }
      o.tuneOffsetHz = hz;
    } else if (name == QLatin1String("--lo")) {
      double hz = 0;
      if (!needValue()) return failed(QStringLiteral("--lo needs a frequency in Hz"));
      if (!parseHz(value, 0.0, 1e12, hz)) {
        return failed(QStringLiteral("--lo: '%1' is not a frequency in Hz (0 or more)").arg(value));
      }
      o.loHz = hz;
    } else if (name == QLatin1String("--rigctl")) {
      // The port is optional: a following word is taken only when it is a
      // number, so that "--rigctl --lsb" still means the default port.
      if (!hasValue && k + 1 < arguments.size() && !arguments[k + 1].startsWith(QLatin1Char('-'))) {
        value = arguments[++k];
        hasValue = true;
      }
      long long port = kRigctlDefaultPort;
      if (hasValue && !parseWhole(value, 1, 65535, port)) {
        return failed(QStringLiteral("--rigctl: '%1' is not a TCP port (1..65535)").arg(value));
      }
      o.rigctlPort = static_cast<int>(port);
    } else {
      return failed(QStringLiteral("unknown option '%1' (try --help)").arg(arguments[k]));
    }
  }
  if (o.lowCutHz && o.highCutHz && *o.lowCutHz >= *o.highCutHz) {
    return failed(
        QStringLiteral("--low %1 must lie below --high %2").arg(*o.lowCutHz).arg(*o.highCutHz));
  }
  if (help) {
    o.action = ConsoleOptions::Action::Help;
  } else if (version) {
    o.action = ConsoleOptions::Action::Version;
  } else if (list) {
    o.action = ConsoleOptions::Action::List;
  }
  return o;
}

bool applyOptions(const ConsoleOptions& o, ReceiverSettings& s, QString& error) {
  ReceiverSettings r = s;
  if (o.sideband) r.sideband = *o.sideband;
  if (o.lowCutHz) r.lowCutHz = *o.lowCutHz;
  if (o.highCutHz) r.highCutHz = *o.highCutHz;
  if (o.tuneOffsetHz) r.tuneOffsetHz = nearestSliderOffset(*o.tuneOffsetHz);
  if (o.loHz) r.loHz = *o.loHz;
  if (!validPassband(r.lowCutHz, r.highCutHz)) {
    error = QStringLiteral("passband %1..%2 Hz is not valid (50..6000 Hz, low below high)")
                .arg(r.lowCutHz)
                .arg(r.highCutHz);
    return false;
  }
  s = r;
  return true;
}

QString helpText() {
  return QStringLiteral(
      "Usage: Lanternfly [options]\n"
      "The receiver's console. Without options it starts with the saved settings\n"
      "(or capture and playback device 2, upper sideband, 300..2700 Hz).\n"
      "\n"
      "  --list        list capture and playback devices and mixers, then exit\n"
      "  --in N        capture device number (1 = default; see --list)\n"
      "  --out N       playback device number (1 = default)\n"
      "  --usb         upper sideband\n"
      "  --lsb         lower sideband\n"
      "  --low HZ      low edge of the audio passband, 50..6000\n"
      "  --high HZ     high edge of the audio passband, 50..6000\n"
      "  --tune HZ     tuning offset from the band centre, -24000..24000 (10 Hz steps)\n"
      "  --lo HZ       receiver's local-oscillator frequency, for absolute frequencies\n"
      "  --rigctl [PORT]  answer Hamlib NET rigctl on 127.0.0.1:PORT (default 4532)\n"
      "  --version     print the version and exit\n"
      "  --help        print this text and exit\n"
      "\n"
      "Options apply to this run only and override the saved settings.\n"
      "Right-click the window for the menu; W opens the waterfall.\n");
}

QString versionText() {
  return QStringLiteral("Lanternfly %1\n").arg(QLatin1String(BW_VERSION));
}

}  // namespace lanternfly
