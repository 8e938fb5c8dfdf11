// Lanternfly: the receiver's console. Options are checked before any window
// opens: --help and --version print on stdout and end with 0, a bad value
// prints one line on stderr and ends with 2.
#include <QApplication>
#include <cstdio>

#include "app/console_app.h"
#include "app/options.h"
#include "app/quit_signals.h"
#include "app/settings_store.h"
#include "engine/engine_devices.h"
#include "engine/engine_library.h"

int main(int argc, char** argv) {
  using namespace lanternfly;
  QStringList arguments;
  for (int k = 1; k < argc; ++k) arguments.append(QString::fromLocal8Bit(argv[k]));
  const ConsoleOptions options = parseOptions(arguments);
  switch (options.action) {
    case ConsoleOptions::Action::Help:
      std::fputs(helpText().toLocal8Bit().constData(), stdout);
      return 0;
    case ConsoleOptions::Action::Version:
      std::fputs(versionText().toLocal8Bit().constData(), stdout);
      return 0;
    case ConsoleOptions::Action::Error:
      std::fprintf(stderr, "Lanternfly: %s\n", options.error.toLocal8Bit().constData());
      return 2;
    case ConsoleOptions::Action::List: {
      QCoreApplication app(argc, argv);
      EngineLibrary engine;
      if (!engine.load(QCoreApplication::applicationDirPath())) {
        std::fprintf(stderr, "Lanternfly: cannot load %s: %s\n", kEngineFileName,
                     engine.errorText().toLocal8Bit().constData());
        return 1;
      }
      std::fputs(deviceListing(engine.entries()).toLocal8Bit().constData(), stdout);
      return 0;
    }
    case ConsoleOptions::Action::Run:
      break;
  }
  // An edge given alone must still fit the saved other edge.
  {
    SettingsFile settings;
    ReceiverSettings receiver = settings.load().receiver;
    if (QString why; !applyOptions(options, receiver, why)) {
      std::fprintf(stderr, "Lanternfly: %s\n", why.toLocal8Bit().constData());
      return 2;
    }
  }
  QApplication app(argc, argv);
  quitOnStopSignals();
  return runConsole(QCoreApplication::applicationDirPath(), options);
}
