// Lanternfly: the receiver's console. Takes no arguments; its settings are
// fixed in the program.
#include <QApplication>

#include "console_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  return lanternfly::runConsole(QCoreApplication::applicationDirPath());
}
