// The control table and what is made from it, checked row by row so that a
// new row is covered as soon as it is added: the menu carries every row
// with its shortcut and no two rows share one; check marks follow the
// state; every option is in --help and holds its value to the row's limits;
// the README names every shortcut and option;
// every saved value reads back at its limits and is reset beyond them.
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <set>

#include "app/console_session.h"
#include "app/options.h"
#include "app/settings_store.h"
#include "controls/console_menu.h"
#include "controls/control_table.h"
#include "views/console_window.h"

using namespace lanternfly;

namespace {

QString text(double v) { return QString::number(v, 'g', 17); }

// A value of `row` inside its limits other than the default, or nothing.
std::optional<double> otherValue(const Control& row) {
  const double d = row.field.get(ConsoleState{});
  for (double v : {row.high, row.low, (row.low + row.high) / 2}) {
    if (v != d) return v;
  }
  return std::nullopt;
}

}  // namespace

class ControlTableTest : public QObject {
  Q_OBJECT
 private slots:
  void menuCarriesEveryRowWithItsShortcutAndMark() {
    EngineEntries none;
    ConsoleSession session(none, ConsoleState{}, DevicePair{2, 2, {}, {}});
    ConsoleWindow window([&session](std::int32_t hz) { session.retune(hz); });
    ConsoleMenu menu(session, window);
    std::set<QString> names, keys;
    for (const Control& row : controls()) {
      QVERIFY2(names.insert(QLatin1String(row.name)).second, row.name);
      if (row.keys != nullptr) {
        QVERIFY2(keys.insert(QLatin1String(row.keys)).second, row.keys);
      }
      if (row.menu == nullptr || row.kind == ControlKind::Devices) continue;
      QAction* a = menu.action(row.name);
      QVERIFY2(a != nullptr, row.name);
      QCOMPARE(a->shortcut(), QKeySequence(QLatin1String(row.keys ? row.keys : "")));
      QCOMPARE(a->isCheckable(), checkable(row));
    }
    // The marks follow the state, whoever changed it; the passband preset
    // in force is marked, a custom passband marks "Custom".
    ConsoleState s = session.state();
    s.receiver.mode = ReceiveMode::Lsb;
    s.receiver.lowCutHz = 200, s.receiver.highCutHz = 3200;
    session.apply(s);
    QVERIFY(menu.action("lsb")->isChecked() && !menu.action("usb")->isChecked());
    QVERIFY(menu.action("band2")->isChecked() && !menu.action("band1")->isChecked());
    QVERIFY(!menu.action("bandCustom")->isChecked());
    menu.action("band3")->trigger();
    QCOMPARE(session.settings().highCutHz, 950);
    QVERIFY(menu.action("band3")->isChecked() && !menu.action("band2")->isChecked());
    s = session.state();
    s.receiver.highCutHz = 1000;
    session.apply(s);
    QVERIFY(menu.action("bandCustom")->isChecked() && !menu.action("band3")->isChecked());
    // The other modes offer their own passbands; in USB and LSB the entries
    // beyond the three presets are hidden and do nothing.
    const ConsoleState usb = session.state();
    menu.action("band4")->trigger();
    QVERIFY(session.state() == usb && !menu.action("band4")->isVisible());
    for (const auto& [mode, band, first] :
         {std::tuple{ReceiveMode::Cw, "band2", "50 Hz"}, {ReceiveMode::Am, "band1", "\u00b12.5 kHz"},
          {ReceiveMode::SamLower, "band6", "2.5 kHz"}, {ReceiveMode::Fm, "band3", "\u00b14 kHz"}}) {
      s = session.state();
      s.receiver.mode = mode;
      session.apply(s);
      QCOMPARE(menu.action("band1")->text(), QString::fromUtf8(first));
      QVERIFY(menu.action("band6")->isVisible() && !menu.action(band)->isChecked());
      menu.action(band)->trigger();
      QVERIFY(menu.action(band)->isChecked() && !menu.action("bandCustom")->isChecked());
    }
    menu.action("swapIq")->trigger();
    QVERIFY(session.settings().swapIq && menu.action("swapIq")->isChecked());
  }

  void optionsAreHeldToTheirRowsLimits() {
    const QString help = helpText();
    for (const Control& row : controls()) {
      if (row.option == nullptr) continue;
      const QString name = QLatin1String(row.option);
      QVERIFY2(help.contains(QStringLiteral("  %1 ").arg(name)), row.option);
      // Every option's value has somewhere to go.
      QVERIFY2(row.kind == ControlKind::Devices || row.field, row.option);
      if (row.kind != ControlKind::Value || row.optionValue != OptionValue::Required) continue;
      for (double v : {row.low, row.high}) {
        const ConsoleOptions o = parseOptions({name, text(v)});
        QCOMPARE(o.action, ConsoleOptions::Action::Run);
        QCOMPARE(*o.given(row), v);
      }
      const double beyond = std::max(1.0, std::abs(row.high) * 1e-6);
      QCOMPARE(parseOptions({name, text(row.high + beyond)}).action,
               ConsoleOptions::Action::Error);
      QCOMPARE(parseOptions({name, text(row.low - beyond)}).action,
               ConsoleOptions::Action::Error);
    }
  }

  void readmeNamesEveryShortcutAndOption() {
    QFile file(QStringLiteral(README_PATH));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString readme = QString::fromUtf8(file.readAll());
    for (const Control& row : controls()) {
      if (row.keys != nullptr) {
        QVERIFY2(readme.contains(QStringLiteral("`%1`").arg(QLatin1String(row.keys))), row.keys);
      }
      if (row.option != nullptr) {
        QVERIFY2(readme.contains(QStringLiteral("`%1").arg(QLatin1String(row.option))), row.option);
      }
    }
  }

  void savedValuesAreHeldToTheirRowsLimits() {
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
    // Every row's value, changed from the default, reads back as saved.
    for (const Control& row : controls()) {
      if (row.setting == nullptr || !row.field || row.kind != ControlKind::Value) continue;
      const auto v = otherValue(row);
      if (!v) continue;
      SavedConsole saved;
      row.field.set(saved, *v);
      if (!validPassband(saved.receiver.lowCutHz, saved.receiver.highCutHz)) continue;
      saveSettings(store, saved);
      QStringList reset;
      QCOMPARE(loadSettings(store, &reset), saved);
      QVERIFY2(reset.isEmpty(), row.name);
    }
    // Values beyond the limits, and words no control knows, are reset to
    // the defaults and named.
    store.clear();
    const QStringList bad = {QStringLiteral("receiver/fixedGain"),
                             QStringLiteral("receiver/iqPhaseCoef"),
                             QStringLiteral("receiver/iqGainCoef"),
                             QStringLiteral("receiver/squelchLevel"),
                             QStringLiteral("receiver/swapIq"),
                             QStringLiteral("receiver/agc"),
                             QStringLiteral("tuning/loHz")};
    const QStringList values = {QStringLiteral("-1e300"), QStringLiteral("1e300"),
                                QStringLiteral("-5"),     QStringLiteral("-50"),
                                QStringLiteral("perhaps"), QStringLiteral("medium"),
                                QStringLiteral("nan")};
    for (qsizetype k = 0; k < bad.size(); ++k) store.setValue(bad[k], values[k]);
    store.setValue(QStringLiteral("receiver/volumePercent"), -1);  // never set: no reset
    QStringList reset;
    const SavedConsole loaded = loadSettings(store, &reset);
    QCOMPARE(static_cast<const ConsoleState&>(loaded), ConsoleState{});
    QCOMPARE(QSet<QString>(reset.begin(), reset.end()), QSet<QString>(bad.begin(), bad.end()));
  }
};

QTEST_MAIN(ControlTableTest)
#include "control_table_test.moc"
