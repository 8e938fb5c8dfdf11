#include "console_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <cstdio>
#include <utility>
#include <vector>

#include "console_window.h"
#include "display_loop.h"
#include "engine_library.h"
#include "receive_block.h"

namespace lanternfly {
namespace {

void showMissingEngine(const QString& why) {
  // The box names the file; the loader's reason goes to the terminal.
  std::fprintf(stderr, "Lanternfly: cannot load %s: %s\n", kEngineFileName,
               why.toLocal8Bit().constData());
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Error"),
                  QStringLiteral("No %1").arg(QString::fromLatin1(kEngineFileName)),
                  QMessageBox::Ok);
  box.exec();
}

}  // namespace

int runConsole(const QString& programDir) {
  EngineLibrary engine;
  if (!engine.load(programDir)) {
    // Without the engine there is nothing to drive: no operation is called.
    showMissingEngine(engine.errorText());
    return 1;
  }
  // Every call below goes through a binding that may be null when the
  // library does not export that name; a null one is skipped.
  const EngineEntries& e = engine.entries();

  std::vector<double> spectrum(kSpectrumBufferValues, 0.0);

  if (e.sdrSetGlobal != nullptr) {
    e.sdrSetGlobal(kInputDevice, kOutputDevice, kBufferCount, kBlockOrder, kSampleRate,
                   kBitsPerSample);
  }

  // The block lives on this (the main) thread alone.
  ReceiveBlock block = initialReceiveBlock();
  if (e.sdrSetNewParam != nullptr) e.sdrSetNewParam(block.data());

  ConsoleWindow window([&block, &e](std::int32_t offsetHz) {
    storeTuneOffset(block, offsetHz);
    if (e.sdrSetNewParam != nullptr) e.sdrSetNewParam(block.data());
  });
  window.show();

  if (e.sdrStart != nullptr) e.sdrStart(nullptr);

  // Frames reach the window as one queued call carrying both the picture and
  // the text, so the window never shows half a frame.
  ConsoleWindow* target = &window;
  DisplayLoop display(e.sdrGetSmetr, e.sdrGetSpectrum, kBlockOrder, std::move(spectrum),
                      [target](QImage frame, QString signalText) {
                        QMetaObject::invokeMethod(
                            target,
                            [target, frame = std::move(frame),
                             text = std::move(signalText)] { target->showFrame(frame, text); },
                            Qt::QueuedConnection);
                      });
  display.start();

  QApplication::exec();

  // Shutdown: the display thread ends between frames before the engine
  // stops; unloading the library runs the engine's tear-down.
  display.stop();
  if (e.sdrStop != nullptr) e.sdrStop();
  engine.unload();
  return 0;
}

}  // namespace lanternfly
