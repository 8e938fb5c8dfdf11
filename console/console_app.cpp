#include "console_app.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMetaObject>
#include <QSettings>
#include <QSlider>
#include <cstdio>
#include <utility>
#include <vector>

#include "console_menu.h"
#include "console_session.h"
#include "console_window.h"
#include "display_loop.h"
#include "engine_devices.h"
#include "engine_library.h"
#include "operator_mode.h"
#include "picture_pointer.h"
#include "settings_store.h"
#include "waterfall_window.h"

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

// The device to open: the option's number, else the saved name's number,
// else the console's default. Names are asked for only when one is saved.
int chooseDevice(const EngineEntries& e, bool capture, std::optional<int> option,
                 const QString& savedName, int fallback, QString& name) {
  if (option) return *option;
  if (savedName.isEmpty()) return fallback;
  if (const int number = deviceNumberForName(e, capture, savedName); number > 0) {
    name = savedName;
    return number;
  }
  std::fprintf(stderr, "Lanternfly: saved %s device \"%s\" is not present; using device %d\n",
               capture ? "capture" : "playback", savedName.toLocal8Bit().constData(), fallback);
  return fallback;
}

}  // namespace

int runConsole(const QString& programDir, const ConsoleOptions& options) {
  QSettings store(QSettings::NativeFormat, QSettings::UserScope,
                  QLatin1String(kSettingsOrganisation), QLatin1String(kSettingsApplication));
  const SavedConsole loaded = loadSettings(store);
  SavedConsole startedWith = loaded;
  if (QString why; !applyOptions(options, startedWith.receiver, why)) {
    std::fprintf(stderr, "Lanternfly: %s\n", why.toLocal8Bit().constData());
    return 2;
  }

  EngineLibrary engine;
  if (!engine.load(programDir)) {
    // Without the engine there is nothing to drive: no operation is called.
    showMissingEngine(engine.errorText());
    return 1;
  }
  // Every call below goes through a binding that may be null when the
  // library does not export that name; a null one is skipped.
  const EngineEntries& e = engine.entries();

  DevicePair devices;
  devices.input = chooseDevice(e, true, options.inputDevice, loaded.inputDeviceName,
                               kInputDevice, devices.inputName);
  devices.output = chooseDevice(e, false, options.outputDevice, loaded.outputDeviceName,
                                kOutputDevice, devices.outputName);
  startedWith.inputDeviceName = devices.inputName;
  startedWith.outputDeviceName = devices.outputName;

  std::vector<double> spectrum(kSpectrumBufferValues, 0.0);

  // A refused configuration still opens the window, as at every start; one
  // the user asked for by number is worth a line on the terminal.
  const int configured = configureEngine(e, devices.input, devices.output);
  if (configured != SDR_OK && (options.inputDevice || options.outputDevice)) {
    std::fprintf(stderr, "Lanternfly: capture device %d and playback device %d: %s\n",
                 devices.input, devices.output, statusText(configured).toLocal8Bit().constData());
  }
  const ReceiverSettings& receiver = startedWith.receiver;
  if (receiver.volumePercent >= 0 && e.sdrSetOutVolume != nullptr) {
    e.sdrSetOutVolume(devices.output, packedVolume(receiver.volumePercent));
  }

  // The block lives on this (the main) thread alone, inside the session.
  ConsoleSession session(e, receiver, devices);
  if (e.sdrSetNewParam != nullptr) e.sdrSetNewParam(session.block().data());

  ConsoleWindow window([&session](std::int32_t offsetHz) { session.retune(offsetHz); });
  if (receiver.tuneOffsetHz != 0) {
    window.slider()->setValue(kSliderCentre + receiver.tuneOffsetHz / kHzPerSliderStep);
    window.offsetReadout()->setText(QString::number(receiver.tuneOffsetHz));
  }
  if (loaded.mainWindowPosition) window.move(*loaded.mainWindowPosition);
  window.offsetReadout()->setToolTip(
      QStringLiteral("Tuning offset from the centre of the captured band, Hz"));
  window.signalReadout()->setToolTip(
      QStringLiteral("Automatic gain in force (linear factor): it grows as the signal weakens"));
  ConsoleMenu menu(session, window);
  OperatorMode operatorMode(session, window, menu.menu());
  operatorMode.load(store);
  PicturePointer pointer(
      &window, [&session](int x) { return session.describeColumn(x); },
      [&session](int x) { session.tuneToColumn(x); });
  window.show();

  if (e.sdrStart != nullptr) e.sdrStart(nullptr);

  // Frames reach the window as one queued call carrying both the picture and
  // the text, so the window never shows half a frame.
  ConsoleSession* target = &session;
  DisplayLoop display(e.sdrGetSmetr, e.sdrGetSpectrum, kBlockOrder, std::move(spectrum),
                      [target](DisplayFrame frame) {
                        QMetaObject::invokeMethod(
                            target,
                            [target, frame = std::move(frame)]() mutable {
                              target->onFrame(std::move(frame));
                            },
                            Qt::QueuedConnection);
                      });
  session.attach(&window, &display);
  display.start();

  if (loaded.waterfallOpen) {
    session.toggleWaterfall();
    if (!loaded.waterfallGeometry.isEmpty()) {
      session.waterfall()->restoreGeometry(loaded.waterfallGeometry);
    }
  }

  QApplication::exec();

  // Shutdown: the display thread ends between frames before the engine
  // stops; unloading the library runs the engine's tear-down.
  display.stop();
  if (e.sdrStop != nullptr) e.sdrStop();

  SavedConsole now;
  now.receiver = session.settings();
  now.inputDeviceName = session.devices().inputName;
  now.outputDeviceName = session.devices().outputName;
  now.mainWindowPosition = window.pos();
  if (WaterfallWindow* w = session.waterfall()) {
    now.waterfallGeometry = w->saveGeometry();
    now.waterfallOpen = session.waterfallOpen();
  } else {
    now.waterfallGeometry = loaded.waterfallGeometry;
  }
  operatorMode.save(store);
  saveSettings(store, settingsToSave(loaded, startedWith, now));

  engine.unload();
  return 0;
}

}  // namespace lanternfly
