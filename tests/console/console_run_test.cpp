// The console's whole run against a stand-in engine that logs every call:
// start-up order and arguments, the exact first parameter block, retuning
// from the slider, frames reaching the window, shutdown order and exit
// codes, the missing-library message, and operations the library lacks.
// In-process runs call runConsole; whole-program runs start the Lanternfly
// binary copied beside a copy of the stand-in.
#include <dlfcn.h>
#include <signal.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "app/console_app.h"
#include "console_harness.h"
#include "views/console_window.h"

using namespace lanternfly;

namespace {

int countOf(const QStringList& log, const QString& line) {
  return static_cast<int>(log.count(line));
}

// Index of the first line starting with `prefix`, or -1.
qsizetype firstIndex(const QStringList& log, const QString& prefix) {
  for (qsizetype i = 0; i < log.size(); ++i) {
    if (log[i].startsWith(prefix)) return i;
  }
  return -1;
}

qsizetype lastIndex(const QStringList& log, const QString& prefix) {
  for (qsizetype i = log.size() - 1; i >= 0; --i) {
    if (log[i].startsWith(prefix)) return i;
  }
  return -1;
}

bool engineStillLoaded(const QString& dir) {
  const QByteArray path = QDir(dir).filePath(QStringLiteral("libBrackwell.so")).toLocal8Bit();
  void* handle = dlopen(path.constData(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
}

// Copies the Lanternfly program, and the stand-in unless `withEngine` is
// false, into `dir`.
bool stageProgram(const QString& dir, bool withEngine) {
  const QString program = QDir(dir).filePath(QStringLiteral("Lanternfly"));
  if (!QFile::copy(QStringLiteral(LANTERNFLY_PATH), program)) return false;
  QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
  if (!withEngine) return true;
  return QFile::copy(QDir(QStringLiteral(STAND_IN_DIR)).filePath(QStringLiteral("libBrackwell.so")),
                     QDir(dir).filePath(QStringLiteral("libBrackwell.so")));
}

// Runs a staged program under the offscreen platform; by default the
// stand-in closes its window after a few frames; `extra` adds to or overrides
// its variables. `whileRunning` runs once the program has started. Returns
// the exit code (-1 if it crashed or hung).
int runProgram(const QString& dir, const QString& logPath, const QString& libraryPath,
               const QProcessEnvironment& extra = {},
               const std::function<void(QProcess&)>& whileRunning = {}) {
  QProcess process;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("BW_STAND_IN_LOG"), logPath);
  env.insert(QStringLiteral("BW_STAND_IN_CLOSE_AFTER"), QStringLiteral("5"));
  if (libraryPath.isEmpty()) {
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
  } else {
    env.insert(QStringLiteral("LD_LIBRARY_PATH"), libraryPath);
  }
  env.insert(extra);
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::ForwardedChannels);
  process.start(QDir(dir).filePath(QStringLiteral("Lanternfly")), {});
  if (whileRunning && process.waitForStarted()) whileRunning(process);
  if (!process.waitForFinished(60000) && process.state() != QProcess::NotRunning) {
    process.kill();
    process.waitForFinished();
    return -1;
  }
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// Checks the shutdown part of a log: no display call after sdrStop, none
// running when it came, and the library unloaded last.
void checkShutdownOrder(const QStringList& log) {
  const qsizetype stop = firstIndex(log, QStringLiteral("sdrStop"));
  QVERIFY2(stop >= 0, "sdrStop was not called");
  QCOMPARE(log[stop], QStringLiteral("sdrStop inflight=0"));
  QCOMPARE(lastIndex(log, QStringLiteral("sdrStop")), stop);
  QVERIFY(lastIndex(log, QStringLiteral("sdrGetSpectrum")) < stop);
  QVERIFY(lastIndex(log, QStringLiteral("sdrGetSmetr")) < stop);
  QCOMPARE(log.last(), QStringLiteral("unload"));
}

}  // namespace

class ConsoleRunTest : public QObject {
  Q_OBJECT
 private slots:
  void startupSequenceWindowAndFirstBlock() {
    ConsoleRun run;
    run([&](ConsoleWindow* window) {
      // Wait for the display thread's first calls.
      QTRY_VERIFY_WITH_TIMEOUT(run.log().contains(QStringLiteral("sdrGetSpectrum")), 10000);

      QCOMPARE(window->windowTitle(), QStringLiteral("Lanternfly"));
      const Qt::WindowFlags flags = window->windowFlags();
      QVERIFY(flags.testFlag(Qt::WindowTitleHint));
      QVERIFY(flags.testFlag(Qt::WindowSystemMenuHint));
      QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
      QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
      QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
      QCOMPARE(window->frameGeometry().topLeft(), QPoint(257, 303));
      QCOMPARE(window->size(), QSize(531, 313));
      QVERIFY(window->minimumSize() != window->maximumSize());
      QCOMPARE(window->backgroundRole(), QPalette::Window);

      QSlider* slider = window->slider();
      QCOMPARE(slider->orientation(), Qt::Horizontal);
      QCOMPARE(slider->geometry(), QRect(10, 260, 520, 40));
      QCOMPARE(slider->minimum(), 0);
      QCOMPARE(slider->maximum(), 4800);
      QCOMPARE(slider->value(), 2400);
      QCOMPARE(window->offsetReadout()->geometry(), QRect(10, 240, 100, 20));
      QCOMPARE(window->signalReadout()->geometry(), QRect(200, 240, 100, 20));
      // Before the first movement the offset readout is empty.
      QCOMPARE(window->offsetReadout()->text(), QString());

      // Resizing moves nothing.
      window->resize(800, 600);
      QCoreApplication::processEvents();
      QCOMPARE(slider->geometry(), QRect(10, 260, 520, 40));
      QCOMPARE(window->signalReadout()->geometry(), QRect(200, 240, 100, 20));
    });
    QCOMPARE(run.exitCode, 0);

    const QStringList log = run.log();
    QVERIFY(log.size() >= 6);
    QCOMPARE(log[0], QStringLiteral("load"));
    QCOMPARE(log[1], QStringLiteral("sdrSetGlobal 2 2 4 11 48000 16"));
    QCOMPARE(log[2], QStringLiteral("sdrSetNewParam ") + QString::fromLatin1(expectedHex({})));
    QCOMPARE(log[3], QStringLiteral("sdrStart 0"));
    // Then only the display thread's two operations until the stop.
    const qsizetype stop = firstIndex(log, QStringLiteral("sdrStop"));
    for (qsizetype i = 4; i < stop; ++i) {
      QVERIFY2(log[i] == QLatin1String("sdrGetSmetr") || log[i] == QLatin1String("sdrGetSpectrum"),
               qPrintable(log[i]));
    }
    // The reading comes first in each frame.
    QCOMPARE(log[4], QStringLiteral("sdrGetSmetr"));
    QCOMPARE(log[5], QStringLiteral("sdrGetSpectrum"));
    checkShutdownOrder(log);
    QCOMPARE(log.size(), stop + 2);
    QVERIFY(!engineStillLoaded(QStringLiteral(STAND_IN_DIR)));
  }

  void sliderRetunesOnEveryReport() {
    ConsoleRun run;
    QList<QByteArray> blocks;
    run([&](ConsoleWindow* window) {
      QSlider* slider = window->slider();
      QLabel* readout = window->offsetReadout();
      auto lastBlock = [&] {
        blocks = sentBlocks(run.log());
        return blocks.isEmpty() ? QByteArray() : blocks.last();
      };

      QTest::keyClick(slider, Qt::Key_Home);
      QCOMPARE(readout->text(), QStringLiteral("-24000"));
      QCOMPARE(lastBlock(), expectedHex({.offset = -24000}));
      QCOMPARE(blocks.size(), 2);

      QTest::keyClick(slider, Qt::Key_End);
      QCOMPARE(readout->text(), QStringLiteral("24000"));
      QCOMPARE(lastBlock(), expectedHex({.offset = 24000}));

      // A report at the same position sends the same block again.
      const QByteArray before = lastBlock();
      QTest::keyClick(slider, Qt::Key_End);
      QCOMPARE(slider->value(), 4800);
      QCOMPARE(lastBlock(), before);
      QCOMPARE(blocks.size(), 4);

      // A drag back to the middle: the move and the end of the drag both
      // report.
      slider->setSliderDown(true);
      slider->setSliderPosition(2400);
      slider->setSliderDown(false);
      QCOMPARE(readout->text(), QStringLiteral("0"));
      blocks = sentBlocks(run.log());
      QCOMPARE(blocks.size(), 6);
      QCOMPARE(blocks[4], expectedHex({.offset = 0}));
      QCOMPARE(blocks[5], blocks[4]);

      // One keyboard step is 10 Hz; page steps and the wheel also report.
      QTest::keyClick(slider, Qt::Key_Right);
      QCOMPARE(readout->text(), QStringLiteral("10"));
      QCOMPARE(lastBlock(), expectedHex({.offset = 10}));
      QTest::keyClick(slider, Qt::Key_PageDown);
      const qint32 paged = (slider->sliderPosition() - 2400) * 10;
      QCOMPARE(lastBlock(), expectedHex({.offset = paged}));
      QCOMPARE(readout->text(), QString::number(paged));
    });
    QCOMPARE(run.exitCode, 0);
    // Every block but the first, each checked whole above, differs from it
    // only in the tuning field.
    blocks = sentBlocks(run.log());
    QCOMPARE(blocks.size(), 8);
    QCOMPARE(blocks[0], expectedHex({}));
  }

  void framesReachTheWindowWithTheReadout() {
    qputenv("BW_STAND_IN_SMETR", "3.5");
    qputenv("BW_STAND_IN_BIN", "26843545.6");  // 2^28 / 10: 20 dB
    ConsoleRun run;
    run([&](ConsoleWindow* window) {
      QTRY_COMPARE_WITH_TIMEOUT(window->signalReadout()->text(), QStringLiteral("4"), 10000);
      const QImage shot = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
      const QRgb background = window->palette().color(QPalette::Window).rgb();
      QCOMPARE(QColor(shot.pixel(5, 5)).rgb(), background);
      QCOMPARE(QColor(shot.pixel(522, 100)).rgb(), background);
      for (int x = 0; x < 512; ++x) {
        for (int y = 0; y < 200; ++y) {
          const bool grid = y % 13 == 0 && y >= 13;
          const QRgb want = grid ? qRgb(200, 0, 0) : (y >= 20 ? qRgb(200, 200, 0) : qRgb(0, 0, 0));
          if (QColor(shot.pixel(10 + x, 10 + y)).rgb() != want) {
            QFAIL(qPrintable(QStringLiteral("picture pixel %1,%2 wrong").arg(x).arg(y)));
          }
        }
      }
    });
    qunsetenv("BW_STAND_IN_SMETR");
    qunsetenv("BW_STAND_IN_BIN");
    QCOMPARE(run.exitCode, 0);
  }

  void missingLibraryShowsMessageAndEndsWithOne() {
    QTemporaryDir empty;
    bool boxSeen = false;
    QString caption, text;
    QMessageBox::StandardButtons standardButtons;
    qsizetype buttonCount = 0;
    bool modal = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || boxSeen) return;
      boxSeen = true;
      caption = box->windowTitle();
      text = box->text();
      standardButtons = box->standardButtons();
      buttonCount = box->buttons().size();
      modal = box->isModal();
      box->button(QMessageBox::Ok)->click();
    });
    poll.start();
    QCOMPARE(runConsole(empty.path()), 1);
    QVERIFY(boxSeen);
    QCOMPARE(caption, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("No libBrackwell.so"));
    QCOMPARE(standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(buttonCount, 1);
    QVERIFY(modal);
    QVERIFY(consoleWindow() == nullptr);
  }

  void unexportedOperationsAreNotCalled() {
    // This stand-in lacks sdrStart, sdrGetSpectrum, sdrGetSmetr and the
    // device, mixer and volume queries; calling any of them would crash.
    ConsoleRun run;
    run(
        [&](ConsoleWindow* window) {
          QTest::qWait(300);
          QTest::keyClick(window->slider(), Qt::Key_Home);
          QCOMPARE(window->offsetReadout()->text(), QStringLiteral("-24000"));
          QCOMPARE(window->signalReadout()->text(), QString());
        },
        {}, QStringLiteral(PARTIAL_STAND_IN_DIR));
    QCOMPARE(run.exitCode, 0);
    const QStringList log = run.log();
    QCOMPARE(log.size(), 6);
    QCOMPARE(log[0], QStringLiteral("load"));
    QCOMPARE(log[1], QStringLiteral("sdrSetGlobal 2 2 4 11 48000 16"));
    QCOMPARE(log[2], QStringLiteral("sdrSetNewParam ") + QString::fromLatin1(expectedHex({})));
    QCOMPARE(log[3], QStringLiteral("sdrSetNewParam ") +
                         QString::fromLatin1(expectedHex({.offset = -24000})));
    QCOMPARE(log[4], QStringLiteral("sdrStop inflight=0"));
    QCOMPARE(log[5], QStringLiteral("unload"));
  }

  void programFindsTheEngineBesideItAndEndsWithZero() {
    QTemporaryDir dir;
    QVERIFY(stageProgram(dir.path(), true));
    const QString logPath = dir.filePath(QStringLiteral("calls.log"));
    QCOMPARE(runProgram(dir.path(), logPath, QString()), 0);
    const QStringList log = readLog(logPath);
    QVERIFY(countOf(log, QStringLiteral("sdrGetSpectrum")) >= 5);
    QCOMPARE(log.value(1), QStringLiteral("sdrSetGlobal 2 2 4 11 48000 16"));
    checkShutdownOrder(log);
  }

  void programFallsBackToTheLibraryPath() {
    QTemporaryDir dir;
    QVERIFY(stageProgram(dir.path(), false));
    const QString logPath = dir.filePath(QStringLiteral("calls.log"));
    QCOMPARE(runProgram(dir.path(), logPath, QStringLiteral(STAND_IN_DIR)), 0);
    const QStringList log = readLog(logPath);
    QCOMPARE(log.value(0), QStringLiteral("load"));
    checkShutdownOrder(log);
  }

  // A box runs its own event loop; a stop signal ends the run all the same,
  // as closing the window does: exit 0, the engine stopped and unloaded,
  // the settings saved.
  void stopSignalEndsTheRunWithABoxOpen() {
    for (int signal : {SIGTERM, SIGINT}) {
      QTemporaryDir dir;
      QVERIFY(stageProgram(dir.path(), true));
      const QString logPath = dir.filePath(QStringLiteral("calls.log"));
      QProcessEnvironment env;
      env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
      env.insert(QStringLiteral("BW_STAND_IN_CLOSE_AFTER"), QStringLiteral("0"));
      env.insert(QStringLiteral("BW_STAND_IN_STOP_AFTER"), QStringLiteral("3"));
      env.insert(QStringLiteral("BW_STAND_IN_NOTE_BOXES"), QStringLiteral("1"));
      const int code = runProgram(dir.path(), logPath, QString(), env, [&](QProcess& p) {
        QTRY_VERIFY_WITH_TIMEOUT(
            readLog(logPath).contains(QStringLiteral("box Sound device stopped")), 20000);
        ::kill(static_cast<pid_t>(p.processId()), signal);
        const bool ended = p.waitForFinished(10000);
        if (!ended) p.kill();
        QVERIFY2(ended, "the console did not end on the signal");
      });
      QCOMPARE(code, 0);
      checkShutdownOrder(readLog(logPath));
      QVERIFY(QFile::exists(dir.filePath(QStringLiteral("config/Brackwell/Lanternfly.conf"))));
    }
  }
};

QTEST_MAIN(ConsoleRunTest)
#include "console_run_test.moc"
