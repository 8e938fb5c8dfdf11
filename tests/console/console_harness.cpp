#include "console_harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QInputDialog>
#include <QMessageBox>
#include <QTest>
#include <bit>

#include "app/console_app.h"
#include "views/console_window.h"
#include "views/waterfall_window.h"

namespace lanternfly {

QString standInDir() { return QStringLiteral(STAND_IN_DIR); }

QByteArray expectedHex(const Fields& f) {
  QByteArray b(f.version >= 2 ? 128 : 65, '\0');
  auto put = [&b](int at, quint64 v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  b[0] = static_cast<char>(f.version);
  put(1, f.flags, 4);
  put(5, std::bit_cast<quint64>(f.phase), 8);
  put(13, std::bit_cast<quint64>(f.gainCoef), 8);
  put(21, static_cast<quint32>(f.low), 4);
  put(25, static_cast<quint32>(f.high), 4);
  put(29, static_cast<quint32>(f.offset), 4);
  put(33, static_cast<quint32>(f.agcBlocks), 4);
  put(37, std::bit_cast<quint64>(f.gain), 8);
  put(45, f.extensions, 4);
  put(49, std::bit_cast<quint64>(f.squelch), 8);
  put(57, std::bit_cast<quint64>(f.outputGain), 8);
  if (f.version >= 2) put(65, f.mode, 1), put(66, static_cast<quint32>(f.pitch), 4);
  if (f.version >= 2) put(70, static_cast<quint32>(f.deviation), 4), put(74, f.tools, 4);
  return b.toHex();
}

QStringList readLog(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QList<QByteArray> sentBlocks(const QStringList& log) {
  QList<QByteArray> blocks;
  for (const QString& line : log) {
    if (line.startsWith(QLatin1String("sdrSetNewParam "))) blocks.append(line.mid(15).toLatin1());
  }
  return blocks;
}

QByteArray lastBlock(const QStringList& log) {
  const QList<QByteArray> blocks = sentBlocks(log);
  return blocks.isEmpty() ? QByteArray() : blocks.last();
}

QStringList controlCalls(const QStringList& log, qsizetype from) {
  QStringList out;
  for (qsizetype i = from; i < log.size(); ++i) {
    if (log[i] != QLatin1String("sdrGetSpectrum") && log[i] != QLatin1String("sdrGetSmetr")) {
      out.append(log[i]);
    }
  }
  return out;
}

ConsoleWindow* consoleWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* c = dynamic_cast<ConsoleWindow*>(w); c && c->isVisible()) return c;
  }
  return nullptr;
}

WaterfallWindow* shownWaterfall() {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* wf = dynamic_cast<WaterfallWindow*>(top); wf && wf->isVisible()) return wf;
  }
  return nullptr;
}

void press(ConsoleWindow* window, const QKeySequence& keys) {
  // A closed dialog leaves no window active under the offscreen platform.
  window->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window));
  QTest::keySequence(window, keys);
}

QSettings savedSettings() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope,
                   QLatin1String(kSettingsOrganisation), QLatin1String(kSettingsApplication));
}

void ConsoleRun::operator()(const std::function<void(ConsoleWindow*)>& script,
                            const ConsoleOptions& options, const QString& engineDir) {
  qputenv("BW_STAND_IN_LOG", logPath.toLocal8Bit());
  bool scripted = false;
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    ConsoleWindow* window = consoleWindow();
    if (window == nullptr || scripted) return;
    scripted = true;
    script(window);
    window->close();
  });
  poll.start();
  QTimer hung;
  hung.setSingleShot(true);
  QObject::connect(&hung, &QTimer::timeout, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) w->close();
  });
  hung.start(60000);
  exitCode = runConsole(engineDir, options);
  QVERIFY2(scripted, "the console window never appeared");
}

DialogAnswers::DialogAnswers() {
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, [this] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* input = qobject_cast<QInputDialog*>(modal); input && !values.isEmpty()) {
      const double v = values.takeFirst();
      if (input->inputMode() == QInputDialog::IntInput) {
        input->setIntValue(static_cast<int>(v));
      } else {
        input->setDoubleValue(v);
      }
      input->accept();
    } else if (auto* box = qobject_cast<QMessageBox*>(modal); box && !buttons.isEmpty()) {
      boxTexts.append(box->windowTitle() + QLatin1Char('|') + box->text());
      const QString want = buttons.takeFirst();
      for (QAbstractButton* b : box->buttons()) {
        if (b->text().remove(QLatin1Char('&')) == want) b->click();
      }
    }
  });
  poll.start();
}

}  // namespace lanternfly
