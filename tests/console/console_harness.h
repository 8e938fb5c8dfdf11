// The one harness of the tests that run the whole console in their own
// process against the stand-in engine (which logs every call): a run with a
// script once the window is up, the call log read back, modal dialogs
// answered, and the receive block written out from its documented layout,
// independently of the console's own encoder. Main thread only.
#pragma once

#include <QByteArray>
#include <QKeySequence>
#include <QList>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "app/options.h"

namespace lanternfly {

class ConsoleWindow;
class WaterfallWindow;

// The stand-in engine that exports all fourteen operations.
QString standInDir();

// The documented block layout: little-endian fields at offsets 0 (version),
// 1 (flags), 5, 13 (balance), 21, 25 (cuts), 29 (offset), 33 (AGC blocks),
// 37 (gain), 45 (extensions), 49 (squelch), 57 (output gain); at version 2
// also 65 (mode), 66 (pitch), 70 (FM deviation), 74 (tools) of 128 bytes. The defaults are
// the block the console sends first without settings.
struct Fields {
  quint32 flags = 0x00106F80;
  double phase = 0, gainCoef = 0;
  qint32 low = 300, high = 2700, offset = 0, agcBlocks = 10;
  double gain = 1000;
  quint32 extensions = 0;
  double squelch = 0, outputGain = 1;
  quint8 version = 1, mode = 0;
  qint32 pitch = 0, deviation = 0;
  quint32 tools = 0;
};
// The block of these fields, as the stand-in logs it (hex).
QByteArray expectedHex(const Fields& f);

// The stand-in's log, one call a line; empty when there is none.
QStringList readLog(const QString& path);
// The blocks sent (hex), in order.
QList<QByteArray> sentBlocks(const QStringList& log);
QByteArray lastBlock(const QStringList& log);
// Log lines other than the display thread's reads, from `from` on.
QStringList controlCalls(const QStringList& log, qsizetype from = 0);

// The visible console window, or null.
ConsoleWindow* consoleWindow();
// The visible waterfall window, or null.
WaterfallWindow* shownWaterfall();
// Presses keys on the window as the operator would (the window active).
void press(ConsoleWindow* window, const QKeySequence& keys);

// The settings the console saves, in this test's private settings folder.
QSettings savedSettings();

// Runs the console in this process with the engine found in `engineDir`.
// Once the window is up, `script` runs inside the event loop; the window is
// then closed (as by its close button). A run that hangs is closed after a
// generous time so that the test fails instead of blocking.
struct ConsoleRun {
  QTemporaryDir scratch;
  QString logPath = scratch.filePath(QStringLiteral("calls.log"));
  int exitCode = -1;

  void operator()(const std::function<void(ConsoleWindow*)>& script,
                  const ConsoleOptions& options = {}, const QString& engineDir = standInDir());
  QStringList log() const { return readLog(logPath); }
  QByteArray firstBlock() const { return sentBlocks(log()).value(0); }
};

// Answers modal dialogs as they appear: input dialogs with the queued
// values, message boxes by the queued button text (recording their title
// and text as "title|text").
struct DialogAnswers {
  QList<double> values;
  QStringList buttons;
  QStringList boxTexts;
  QTimer poll;

  DialogAnswers();
};

}  // namespace lanternfly
