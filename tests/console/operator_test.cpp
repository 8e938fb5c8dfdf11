// What an operator does beyond the slider, against the stand-in engine that
// logs every call: menu shortcuts send the blocks they should (checked
// against the harness's byte-by-byte encoding of the documented layout),
// device changes stop, reconfigure and start and fall back when refused, a
// stopped engine is reported and restarted, a click on the picture tunes,
// options and settings survive a run, the extension switches set their bits
// and are remembered, the waterfall draws the band.
// Each case runs in its own process with its own settings folder.
#include <QApplication>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <cmath>

#include "app/console_app.h"
#include "app/options.h"
#include "app/settings_store.h"
#include "console_harness.h"
#include "engine/engine_devices.h"
#include "views/console_window.h"
#include "views/waterfall_window.h"

using namespace lanternfly;

class OperatorTest : public QObject {
  Q_OBJECT
 private slots:
  void shortcutsSendTheirBlocks() {
    ConsoleRun run;
    DialogAnswers answers;
    run([&](ConsoleWindow* window) {
      // Each shortcut in turn: the values its dialog is given, and what it
      // changes in the block written out from the documented layout.
      using Change = void (*)(Fields&);
      const struct {
        QKeySequence keys;
        QList<double> answers;
        Change change;
      } steps[] = {
          {Qt::Key_L, {}, [](Fields& f) { f.flags = 0x00206F80; }},  // lower sideband
          {Qt::Key_U, {}, [](Fields& f) { f.flags = 0x00106F80; }},
          {Qt::Key_2, {}, [](Fields& f) { f.low = 200, f.high = 3200; }},
          {Qt::Key_3, {}, [](Fields& f) { f.low = 450, f.high = 950; }},
          {Qt::Key_1, {}, [](Fields& f) { f.low = 300, f.high = 2700; }},
          {Qt::Key_B, {500, 1500}, [](Fields& f) { f.low = 500, f.high = 1500; }},
          {Qt::Key_F, {}, [](Fields& f) { f.agcBlocks = 2; }},
          {Qt::Key_A, {}, [](Fields& f) { f.agcBlocks = 10; }},
          // AGC off, fixed gain 50.
          {Qt::Key_G, {50}, [](Fields& f) { f.flags &= ~0x800u, f.gain = 50; }},
          {Qt::Key_I, {}, [](Fields& f) { f.flags |= 0x10; }},  // channels swapped
          {Qt::Key_S, {25}, [](Fields& f) { f.squelch = 25; }},
          {Qt::Key_P, {0.01}, [](Fields& f) { f.phase = 0.01; }},
          {Qt::SHIFT | Qt::Key_P, {-0.02}, [](Fields& f) { f.gainCoef = -0.02; }},
          // The modes: version 2, each with its own passband; the noise
          // tools and the window in any mode; USB with none is version 1.
          {Qt::Key_K, {},
           [](Fields& f) { f.version = 2, f.mode = 1, f.pitch = 700, f.low = 450, f.high = 950; }},
          {Qt::Key_T, {600}, [](Fields& f) { f.pitch = 600, f.low = 350, f.high = 850; }},
          // Each mode's own passbands, centred on the pitch in CW, and
          // remembered by each mode.
          {Qt::Key_3, {}, [](Fields& f) { f.low = 500, f.high = 700; }},
          {Qt::SHIFT | Qt::Key_K, {}, [](Fields& f) { f.mode = 2; }},
          {Qt::Key_M, {}, [](Fields& f) { f.mode = 3, f.pitch = 0, f.low = 100, f.high = 4500; }},
          {Qt::Key_6, {}, [](Fields& f) { f.high = 6000; }},
          {Qt::SHIFT | Qt::Key_M, {}, [](Fields& f) { f.mode = 4, f.high = 4500; }},
          {Qt::Key_B, {2000}, [](Fields& f) { f.high = 2000; }},
          {Qt::SHIFT | Qt::Key_U, {}, [](Fields& f) { f.mode = 5, f.high = 4500; }},
          {Qt::SHIFT | Qt::Key_L, {}, [](Fields& f) { f.mode = 6; }},
          {Qt::Key_N, {}, [](Fields& f) { f.mode = 7, f.low = 300, f.high = 8000, f.deviation = 5000; }},
          {Qt::Key_1, {}, [](Fields& f) { f.high = 4000; }},
          {Qt::Key_M, {}, [](Fields& f) { f.mode = 3, f.low = 100, f.high = 6000, f.deviation = 0; }},
          {Qt::Key_K, {}, [](Fields& f) { f.mode = 1, f.pitch = 600, f.low = 500, f.high = 700; }},
          {Qt::Key_U, {}, [](Fields& f) { f.version = 1, f.mode = 0, f.pitch = 0, f.low = 500, f.high = 1500; }},
          {Qt::SHIFT | Qt::Key_B, {}, [](Fields& f) { f.version = 2, f.tools = 1; }},
          {Qt::SHIFT | Qt::Key_N, {}, [](Fields& f) { f.tools = 3; }},
          {Qt::SHIFT | Qt::Key_R, {}, [](Fields& f) { f.tools = 7; }},
          {Qt::SHIFT | Qt::Key_W, {}, [](Fields& f) { f.extensions = 8; }},
      };
      Fields f;
      for (const auto& step : steps) {
        answers.values = step.answers;
        press(window, step.keys);
        step.change(f);
        QCOMPARE(lastBlock(run.log()), expectedHex(f));
      }
      // Volume goes to the playback device, both channels 40 % of 0xFFFF.
      answers.values = {40};
      press(window, Qt::Key_V);
      QCOMPARE(run.log().filter(QStringLiteral("sdrSetOutVolume")),
               QStringList{QStringLiteral("sdrSetOutVolume 2 %1").arg(26214u * 65537u)});
      // The menu itself carries the same actions.
      auto* menu = window->findChild<QMenu*>(QStringLiteral("consoleMenu"));
      QVERIFY(menu != nullptr);
      menu->findChild<QAction*>(QStringLiteral("lsb"))->trigger();
      f.flags = (f.flags & ~0x100000u) | 0x200000u;
      QCOMPARE(lastBlock(run.log()), expectedHex(f));
      // FM's deviation, from the Mode menu, goes with FM's blocks.
      menu->findChild<QAction*>(QStringLiteral("fmNarrow"))->trigger();
      press(window, Qt::Key_N);
      f.flags = (f.flags & ~0x200000u) | 0x100000u;  // the sideband bits are USB's
      f.version = 2, f.mode = 7, f.low = 300, f.high = 4000, f.deviation = 2500;
      QCOMPARE(lastBlock(run.log()), expectedHex(f));
    });
    QCOMPARE(run.exitCode, 0);
  }

  void deviceChangeRestartsAndFallsBack() {
    qputenv("BW_STAND_IN_REFUSE_IN", "3");
    ConsoleRun run;
    DialogAnswers answers;
    run([&](ConsoleWindow* window) {
      auto* capture = window->findChild<QMenu*>(QStringLiteral("captureDevices"));
      QVERIFY(capture != nullptr);
      auto choose = [&](const char* device) {
        capture->popup(QPoint(0, 0));  // fills the list from the engine
        QAction* a = capture->findChild<QAction*>(QLatin1String(device));
        QVERIFY(a != nullptr);
        capture->close();
        a->trigger();
      };
      qsizetype mark = run.log().size();
      choose("device1");
      QStringList calls = controlCalls(run.log(), mark);
      calls.removeIf([](const QString& l) {
        return l.startsWith(QLatin1String("sdrGetName")) ||
               l.startsWith(QLatin1String("sdrGetNum"));
      });
      QCOMPARE(calls, (QStringList{QStringLiteral("sdrStop inflight=0"),
                                   QStringLiteral("sdrSetGlobal 1 2 4 11 48000 16"),
                                   QStringLiteral("sdrStart 0")}));

      answers.buttons = {QStringLiteral("OK")};
      mark = run.log().size();
      choose("device3");
      QTRY_VERIFY(answers.buttons.isEmpty());
      calls = controlCalls(run.log(), mark);
      calls.removeIf([](const QString& l) { return l.startsWith(QLatin1String("sdrGetN")); });
      QCOMPARE(calls,
               (QStringList{QStringLiteral("sdrStop inflight=0"),
                            QStringLiteral("sdrSetGlobal 3 2 4 11 48000 16"),
                            QStringLiteral("sdrStart 0"), QStringLiteral("sdrStop inflight=0"),
                            QStringLiteral("sdrSetGlobal 1 2 4 11 48000 16"),
                            QStringLiteral("sdrStart 0")}));
      QCOMPARE(answers.boxTexts.size(), 1);
      QVERIFY(answers.boxTexts[0].startsWith(QLatin1String("Error|")));
      // The display thread runs again afterwards.
      const qsizetype after = run.log().size();
      QTRY_VERIFY(run.log().mid(after).contains(QStringLiteral("sdrGetSpectrum")));
    });
    qunsetenv("BW_STAND_IN_REFUSE_IN");
    QCOMPARE(run.exitCode, 0);
    // The device in use is saved by name.
    QCOMPARE(savedSettings().value(QStringLiteral("devices/capture")).toString(),
             QStringLiteral("Card A"));

    // The next start opens the saved device by its name.
    ConsoleRun again;
    again([](ConsoleWindow*) {});
    QVERIFY(again.log().contains(QStringLiteral("sdrSetGlobal 1 2 4 11 48000 16")));
  }

  void lowLatencyRestartsAtShortBlocksAndIsRemembered() {
    const QStringList atOrder9{QStringLiteral("sdrStop inflight=0"),
                               QStringLiteral("sdrSetGlobal 2 2 4 9 48000 16"),
                               QStringLiteral("sdrStart 0")};
    ConsoleRun run;
    run([&](ConsoleWindow* window) {
      const qsizetype mark = run.log().size();
      press(window, QKeySequence(QStringLiteral("Ctrl+L")));
      // Restarted at order 9, then the block with the minimum-phase filter.
      const QStringList calls = controlCalls(run.log(), mark);
      QCOMPARE(calls.mid(0, 3), atOrder9);
      QCOMPARE(calls.size(), 4);
      QCOMPARE(lastBlock(run.log()).mid(2 * 45, 2), QByteArray("10"));
      QTRY_VERIFY(run.log().mid(mark).contains(QStringLiteral("sdrGetSpectrum")));
    });
    QVERIFY(savedSettings().value(QStringLiteral("audio/lowLatency")).toBool());
    ConsoleRun again;
    again([](ConsoleWindow*) {});
    QCOMPARE(again.log().value(1), atOrder9[1]);
    savedSettings().clear();
  }

  void stoppedEngineIsReportedAndRestarted() {
    qputenv("BW_STAND_IN_STOP_AFTER", "3");
    ConsoleRun run;
    DialogAnswers answers;
    answers.buttons = {QStringLiteral("Restart")};
    run([&](ConsoleWindow* window) {
      QTRY_VERIFY_WITH_TIMEOUT(answers.buttons.isEmpty(), 10000);
      QCOMPARE(answers.boxTexts, QStringList{QStringLiteral("Error|Sound device stopped")});
      // Restarted, and the window still works.
      QTRY_VERIFY(run.log().count(QStringLiteral("sdrStart 0")) == 2);
      QTest::keyClick(window->slider(), Qt::Key_Home);
      QCOMPARE(window->offsetReadout()->text(), QStringLiteral("-24000"));
    });
    qunsetenv("BW_STAND_IN_STOP_AFTER");
    QCOMPARE(run.exitCode, 0);
    const QStringList calls = controlCalls(run.log());
    const qsizetype second = calls.lastIndexOf(QStringLiteral("sdrStart 0"));
    QCOMPARE(calls[second - 1], QStringLiteral("sdrStop inflight=0"));
  }

  void clickTunesToTheColumnAndHoverNamesIt() {
    ConsoleOptions options;
    options.give("lo", 7000000);
    ConsoleRun run;
    run(
        [&](ConsoleWindow* window) {
          QTRY_VERIFY_WITH_TIMEOUT(run.log().count(QStringLiteral("sdrGetSpectrum")) >= 2, 10000);
          // Column x shows bin (2048 - 8x) mod 4096 of 4096 bins over 48 kHz,
          // the upper half of the bins being below the centre.
          for (int x : {200, 301, 256}) {
            int k = (2048 - 8 * x) % 4096;
            if (k < 0) k += 4096;
            const double hz = (k < 2048 ? k : k - 4096) * 48000.0 / 4096.0;
            const int want = static_cast<int>(std::lround(hz / 10.0)) * 10;
            QTest::mouseClick(window, Qt::LeftButton, {}, QPoint(10 + x, 100));
            QCOMPARE(window->slider()->value(), 2400 + want / 10);
            QCOMPARE(window->offsetReadout()->text(), QString::number(want));
            Fields f;
            f.offset = want;
            QCOMPARE(lastBlock(run.log()), expectedHex(f));
          }
          // Column 200 is 5250 Hz above a 7000 kHz LO.
          QHelpEvent hover(QEvent::ToolTip, QPoint(210, 100),
                           window->mapToGlobal(QPoint(210, 100)));
          QApplication::sendEvent(window, &hover);
          QVERIFY2(QToolTip::text().startsWith(QLatin1String("7005.250 kHz\n")),
                   qPrintable(QToolTip::text()));
          QVERIFY(QToolTip::text().endsWith(QLatin1String(" dB")) ||
                  QToolTip::text().endsWith(QLatin1String("no signal")));
        },
        options);
    QCOMPARE(run.exitCode, 0);
  }

  void optionsOverrideForOneRunAndSettingsPersist() {
    ConsoleOptions options = parseOptions({QStringLiteral("--lsb"), QStringLiteral("--tune"),
                                           QStringLiteral("1234"), QStringLiteral("--low=100")});
    QCOMPARE(options.action, ConsoleOptions::Action::Run);
    ConsoleRun first;
    first(
        [&](ConsoleWindow* window) {
          QCOMPARE(window->slider()->value(), 2400 + 123);
          press(window, Qt::Key_F);  // a menu change is kept
          window->move(300, 320);
        },
        options);
    Fields f;
    f.flags = 0x00206F80, f.low = 100, f.offset = 1230, f.agcBlocks = 2;
    QCOMPARE(first.firstBlock(), expectedHex([&] {
      Fields g = f;
      g.agcBlocks = 10;
      return g;
    }()));
    QCOMPARE(lastBlock(first.log()), expectedHex(f));

    ConsoleRun second;
    QPoint where;
    second([&](ConsoleWindow* window) {
      where = window->pos();
      QTest::keyClick(window->slider(), Qt::Key_Right);
    });
    Fields g;
    g.agcBlocks = 2;  // saved; the options' sideband, edge and offset are not
    QCOMPARE(second.firstBlock(), expectedHex(g));
    QCOMPARE(where, QPoint(300, 320));

    ConsoleRun third;
    third([&](ConsoleWindow* window) {
      QCOMPARE(window->offsetReadout()->text(), QStringLiteral("10"));
    });
    g.offset = 10;
    QCOMPARE(third.firstBlock(),
             expectedHex(g));
  }

  void extensionSwitchesSetTheirBitsAndAreRemembered() {
    // Without settings the extensions word is 0; each switch in the menu
    // sets its own bit and nothing else, and the next start sends them.
    ConsoleRun first;
    Fields f;
    first([&](ConsoleWindow* window) {
      auto* menu = window->findChild<QMenu*>(QStringLiteral("consoleMenu"));
      QCOMPARE(lastBlock(first.log()), expectedHex(f));
      for (const auto& [name, bit] : {std::pair{"exactTuning", 0x1u},
                                      {"autoIqBalance", 0x2u},
                                      {"dcRemoval", 0x4u}}) {
        QAction* a = menu->findChild<QAction*>(QLatin1String(name));
        QVERIFY2(a != nullptr && a->isCheckable() && !a->isChecked(), name);
        a->trigger();
        f.extensions |= bit;
        QCOMPARE(lastBlock(first.log()), expectedHex(f));
        QVERIFY(a->isChecked());
      }
      menu->findChild<QAction*>(QStringLiteral("autoIqBalance"))->trigger();
      f.extensions = 0x5;
      QCOMPARE(lastBlock(first.log()), expectedHex(f));
    });
    QCOMPARE(first.exitCode, 0);

    // Options switch them for one run: the marks show it, the settings keep
    // what the menu chose.
    const ConsoleOptions options =
        parseOptions({QStringLiteral("--auto-iq-balance"), QStringLiteral("--dc-removal=0")});
    QCOMPARE(options.action, ConsoleOptions::Action::Run);
    ConsoleRun second;
    second(
        [&](ConsoleWindow* window) {
          auto* menu = window->findChild<QMenu*>(QStringLiteral("consoleMenu"));
          QVERIFY(menu->findChild<QAction*>(QStringLiteral("autoIqBalance"))->isChecked());
          QVERIFY(!menu->findChild<QAction*>(QStringLiteral("dcRemoval"))->isChecked());
        },
        options);
    Fields g = f;
    g.extensions = 0x3;
    QCOMPARE(second.firstBlock(), expectedHex(g));
    ConsoleRun third;
    third([](ConsoleWindow*) {});
    QCOMPARE(third.firstBlock(), expectedHex(f));
  }

  void resetSettingsAreShownBesideTheWindow() {
    // A value out of range is reset and said in a box that leaves the
    // receiver running; good settings show no box.
    QSettings saved = savedSettings();
    saved.setValue(QStringLiteral("receiver/squelchLevel"), QStringLiteral("-50"));
    saved.sync();
    ConsoleRun run;
    QString shown;
    bool modal = true;
    run([&](ConsoleWindow* window) {
      QMessageBox* box = nullptr;
      QTRY_VERIFY((box = window->findChild<QMessageBox*>(QStringLiteral("settingsNotes"))));
      QTRY_VERIFY(box->isVisible());
      shown = box->text();
      modal = box->isModal();
    });
    QVERIFY2(shown.contains(QStringLiteral("squelchLevel")), qPrintable(shown));
    QVERIFY(!modal);
    ConsoleRun again;
    again([](ConsoleWindow* window) {
      QVERIFY(window->findChild<QMessageBox*>(QStringLiteral("settingsNotes")) == nullptr);
    });
  }

  void optionValuesAreChecked() {
    using A = ConsoleOptions::Action;
    auto action = [](std::initializer_list<const char*> args) {
      QStringList list;
      for (const char* a : args) list.append(QLatin1String(a));
      return parseOptions(list).action;
    };
    QCOMPARE(action({"--help", "--in", "2"}), A::Help);
    QCOMPARE(action({"--version"}), A::Version);
    QCOMPARE(action({"--list"}), A::List);
    for (auto bad : std::initializer_list<std::initializer_list<const char*>>{
             {"--in", "0"},
             {"--out", "x"},
             {"--in"},
             {"--low", "40"},
             {"--high", "6001"},
             {"--low", "900", "--high", "800"},
             {"--tune", "24001"},
             {"--lo", "-1"},
             {"--lo", "nan"},
             {"--lsb", "--usb"},
             {"--usb=1"},
             {"--frobnicate"}}) {
      QCOMPARE(action(bad), A::Error);
    }
    const ConsoleOptions o =
        parseOptions({QStringLiteral("--in=3"), QStringLiteral("--high"), QStringLiteral("250"),
                      QStringLiteral("--tune"), QStringLiteral("-15")});
    QCOMPARE(*o.device(true), 3);
    ReceiverSettings s;
    QString why;
    QVERIFY(!applyOptions(o, s, why));  // 300 (kept) is above 250
    QVERIFY(!why.isEmpty());
    QCOMPARE(s, ReceiverSettings{});

    // Saved values read back; damaged ones fall back to the defaults.
    QTemporaryDir dir;
    QSettings store(dir.filePath(QStringLiteral("s.conf")), QSettings::IniFormat);
    SavedConsole saved;
    saved.receiver.mode = ReceiveMode::Lsb;
    saved.receiver.agc = AgcMode::Off;
    saved.receiver.fixedGain = 12.5;
    saved.receiver.loHz = 14.2e6;
    saved.receiver.volumePercent = 70;
    saved.inputDeviceName = QStringLiteral("USB Audio");
    saved.mainWindowPosition = QPoint(5, 6);
    saveSettings(store, saved);
    QCOMPARE(loadSettings(store), saved);
    store.setValue(QStringLiteral("receiver/lowCutHz"), 5000);  // above the high edge
    store.setValue(QStringLiteral("receiver/fixedGain"), QStringLiteral("lots"));
    const SavedConsole damaged = loadSettings(store);
    QCOMPARE(damaged.receiver.lowCutHz, 300);
    QCOMPARE(damaged.receiver.highCutHz, 2700);
    QCOMPARE(damaged.receiver.fixedGain, 1000.0);
  }

  void waterfallShowsTheBandAndTheTuning() {
    // A full-scale bin 1500 Hz above the centre (bin 128 of 4096) lights the
    // column for +1500 Hz; the band edges stay dark.
    WaterfallWindow w;
    std::vector<double> spectrum(4096, 0.0);
    spectrum[128] = 268435456.0;
    w.addSpectrum(spectrum);
    const auto* row = reinterpret_cast<const QRgb*>(w.history().constScanLine(w.newestRow()));
    const int column = static_cast<int>((1500.0 + 24000.0) * kWaterfallColumns / 48000.0);
    QCOMPARE(row[column], qRgb(255, 255, 255));
    QCOMPARE(row[kWaterfallColumns - 1 - column], WaterfallWindow::colourForMagnitude(0.0));
    ReceiverSettings s;
    s.loHz = 7000000, s.tuneOffsetHz = 1500, s.mode = ReceiveMode::Lsb;
    w.setTuning(s);
    QVERIFY(w.windowTitle().endsWith(QLatin1String("7001.500 kHz LSB 300-2700 Hz")));

    ConsoleRun run;
    run([&](ConsoleWindow* window) {
      press(window, Qt::Key_W);
      WaterfallWindow* shown = nullptr;
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* wf = dynamic_cast<WaterfallWindow*>(top); wf && wf->isVisible()) shown = wf;
      }
      QVERIFY(shown != nullptr);
      QTRY_VERIFY_WITH_TIMEOUT(shown->rowsAdded() >= 3, 10000);
      press(window, Qt::Key_L);
      QVERIFY(shown->windowTitle().contains(QLatin1String("LSB")));
    });
    QCOMPARE(run.exitCode, 0);
    QVERIFY(savedSettings().value(QStringLiteral("windows/waterfallOpen")).toBool());
  }

  void refusedDevicesAtStartAreReportedAndAnotherCanBeChosen() {
    // A window position saved off every screen, devices the engine refuses.
    savedSettings().setValue(QStringLiteral("windows/main"), QPoint(-5000, 9000));
    qputenv("BW_STAND_IN_REFUSE_IN", "3");
    ConsoleOptions options;
    options.give("captureDevices", 3);
    ConsoleRun run;
    DialogAnswers answers;
    answers.buttons = {QStringLiteral("OK")};
    run(
        [&](ConsoleWindow* window) {
          QTRY_VERIFY_WITH_TIMEOUT(answers.buttons.isEmpty(), 10000);
          QCOMPARE(answers.boxTexts.size(), 1);
          QVERIFY2(answers.boxTexts[0].startsWith(QLatin1String(
                       "Error|Cannot use capture device 3 and playback device 2: ")),
                   qPrintable(answers.boxTexts[0]));
          QVERIFY(window->isVisible());
          QVERIFY(QGuiApplication::screenAt(window->pos() + QPoint(20, 10)) != nullptr);
          // Another device from the menu runs.
          auto* capture = window->findChild<QMenu*>(QStringLiteral("captureDevices"));
          capture->popup(QPoint(0, 0));
          QAction* first = capture->findChild<QAction*>(QStringLiteral("device1"));
          capture->close();
          const qsizetype mark = run.log().size();
          first->trigger();
          QVERIFY(controlCalls(run.log(), mark)
                      .contains(QStringLiteral("sdrSetGlobal 1 2 4 11 48000 16")));
          QCOMPARE(answers.boxTexts.size(), 1);
        },
        options);
    qunsetenv("BW_STAND_IN_REFUSE_IN");
    QCOMPARE(run.exitCode, 0);

    // The console's own default devices, refused, still run without a box.
    savedSettings().clear();
    qputenv("BW_STAND_IN_REFUSE_IN", "2");
    ConsoleRun quiet;
    DialogAnswers none;
    none.buttons = {QStringLiteral("OK")};
    quiet([&](ConsoleWindow*) {
      QTRY_VERIFY_WITH_TIMEOUT(quiet.log().count(QStringLiteral("sdrGetSpectrum")) >= 3, 10000);
    });
    qunsetenv("BW_STAND_IN_REFUSE_IN");
    QVERIFY(none.boxTexts.isEmpty());

    // A saved device the engine does not list (its sound server did not
    // answer): the default put in its place, refused, gets the box.
    savedSettings().setValue(QStringLiteral("devices/capture"), QStringLiteral("Unlisted"));
    qputenv("BW_STAND_IN_REFUSE_IN", "2");
    ConsoleRun unlisted;
    unlisted([&](ConsoleWindow*) { QTRY_VERIFY_WITH_TIMEOUT(none.buttons.isEmpty(), 10000); });
    qunsetenv("BW_STAND_IN_REFUSE_IN");
    QCOMPARE(none.boxTexts.size(), 1);
  }

  void repeatedDeviceNamesAreToldApart() {
    EngineEntries e;
    e.sdrGetNumInDevice = [] { return 3; };
    e.sdrGetNameInDevice = [](std::int32_t n) -> const char* {
      static const char* const kNames[] = {"default", "pulse", "default"};
      return n >= 1 && n <= 3 ? kNames[n - 1] : nullptr;
    };
    QCOMPARE(deviceName(e, true, 3), QStringLiteral("default #2"));
    QCOMPARE(deviceName(e, true, 2), QStringLiteral("pulse"));
    QCOMPARE(deviceNumberForName(e, true, QStringLiteral("default #2")), 3);
    QCOMPARE(deviceNumberForName(e, true, QStringLiteral("default")), 1);  // saved before
    QVERIFY(deviceListing(e).contains(QLatin1String("  3  default #2\n")));
  }
};

QTEST_MAIN(OperatorTest)
#include "operator_test.moc"
