#include "app/options.h"

#include <cmath>
#include <cstring>

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

// Whether two rows are choices of one field (they share its settings key).
bool sameChoice(const Control& a, const Control& b) {
  return a.kind == ControlKind::Choice && b.kind == ControlKind::Choice && a.setting != nullptr &&
         b.setting != nullptr && std::strcmp(a.setting, b.setting) == 0;
}

ConsoleOptions failed(const QString& why) {
  ConsoleOptions o;
  o.action = ConsoleOptions::Action::Error;
  o.error = why;
  return o;
}

}  // namespace

std::optional<double> ConsoleOptions::given(const Control& row) const {
  for (const auto& [r, v] : given_) {
    if (r == &row) return v;
  }
  return std::nullopt;
}

std::optional<double> ConsoleOptions::given(const char* rowName) const {
  const Control* row = findControl(rowName);
  return row != nullptr ? given(*row) : std::nullopt;
}

void ConsoleOptions::give(const Control& row, double value) {
  for (auto& [r, v] : given_) {
    if (r == &row) {
      v = value;
      return;
    }
  }
  given_.emplace_back(&row, value);
}

void ConsoleOptions::give(const char* rowName, double value) {
  if (const Control* row = findControl(rowName)) give(*row, value);
}

std::optional<int> ConsoleOptions::device(bool capture) const {
  for (const Control& c : controls()) {
    if (c.kind != ControlKind::Devices || (c.choice != 0) != capture) continue;
    if (const auto n = given(c)) return static_cast<int>(*n);
  }
  return std::nullopt;
}

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
    const auto takesNoValue = [&] { return failed(QStringLiteral("%1 takes no value").arg(name)); };

    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
      if (hasValue) return takesNoValue();
      help = true;
      continue;
    }
    if (name == QLatin1String("--version") || name == QLatin1String("--list")) {
      if (hasValue) return takesNoValue();
      (name == QLatin1String("--list") ? list : version) = true;
      continue;
    }
    const Control* row = nullptr;
    for (const Control& c : controls()) {
      if (c.option != nullptr && name == QLatin1String(c.option)) row = &c;
    }
    if (row == nullptr) {
      return failed(QStringLiteral("unknown option '%1' (try --help)").arg(arguments[k]));
    }
    if (row->optionValue == OptionValue::None) {
      if (hasValue) return takesNoValue();
      for (const Control& other : controls()) {
        if (&other != row && sameChoice(other, *row) && other.option != nullptr &&
            o.given(other)) {
          return failed(QStringLiteral("%1 and %2 exclude each other")
                            .arg(QLatin1String(other.option), name));
        }
      }
      o.give(*row, row->kind == ControlKind::Choice ? row->choice : 1.0);
      continue;
    }
    if (!hasValue) {
      // An optional value is the next argument unless that is an option.
      const bool next = k + 1 < arguments.size() &&
                        (row->optionValue == OptionValue::Required ||
                         !arguments[k + 1].startsWith(QLatin1Char('-')));
      if (next) {
        value = arguments[++k];
      } else if (row->optionValue == OptionValue::Required) {
        return failed(
            QStringLiteral("%1 needs a value (%2)").arg(name, QLatin1String(row->valueName)));
      } else {
        o.give(*row, row->optionDefault);
        continue;
      }
    }
    if (row->kind == ControlKind::Devices) {
      long long n = 0;
      if (!parseWhole(value, 1, 1000, n)) {
        return failed(
            QStringLiteral("%1: '%2' is not a device number (1 or more)").arg(name, value));
      }
      o.give(*row, static_cast<double>(n));
      continue;
    }
    double v = 0;
    if (row->decimals == 0) {
      long long whole = 0;
      const auto low = static_cast<long long>(row->low);
      if (!parseWhole(value, low, static_cast<long long>(row->high), whole)) {
        return failed(QStringLiteral("%1: '%2' is not a whole number in %3..%4")
                          .arg(name, value)
                          .arg(row->low)
                          .arg(row->high));
      }
      v = static_cast<double>(whole);
    } else if (!parseHz(value, row->low, row->high, v)) {
      return failed(QStringLiteral("%1: '%2' is not a number in %3..%4")
                        .arg(name, value)
                        .arg(row->low)
                        .arg(row->high));
    }
    o.give(*row, v);
  }
  const auto low = o.given("lowCut");
  const auto high = o.given("highCut");
  if (low && high && *low >= *high) {
    return failed(QStringLiteral("--low %1 must lie below --high %2").arg(*low).arg(*high));
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

bool applyOptions(const ConsoleOptions& o, ConsoleState& s, QString& error) {
  ConsoleState r = s;
  for (const Control& c : controls()) {
    if (!c.field) continue;
    if (const auto v = o.given(c)) c.field.set(r, *v);
  }
  if (!validPassband(r.receiver.lowCutHz, r.receiver.highCutHz)) {
    error = QStringLiteral("passband %1..%2 Hz is not valid (%3..%4 Hz, low below high)")
                .arg(r.receiver.lowCutHz)
                .arg(r.receiver.highCutHz)
                .arg(kLowestCutHz)
                .arg(kHighestCutHz);
    return false;
  }
  s = r;
  return true;
}

bool applyOptions(const ConsoleOptions& o, ReceiverSettings& s, QString& error) {
  ConsoleState state;
  state.receiver = s;
  if (!applyOptions(o, state, error)) return false;
  s = state.receiver;
  return true;
}

QString helpText() {
  return QStringLiteral(
             "Usage: Lanternfly [options]\n"
             "The receiver's console. Without options it starts with the saved settings\n"
             "(or capture and playback device 2, upper sideband, 300..2700 Hz).\n"
             "\n"
             "  --list        list capture and playback devices and mixers, then exit\n") +
         controlOptionsHelp() +
         QStringLiteral(
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
