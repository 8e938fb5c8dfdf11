#include "app/quit_signals.h"

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace lanternfly {
namespace {

int wakeWriteEnd = -1;

// Async-signal-safe: one write to a non-blocking pipe, errno kept.
void onStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(wakeWriteEnd, &byte, 1);
  errno = saved;
}

// Runs inside whatever event loop is turning: the main one, or the one of a
// box, input dialog or menu, which QCoreApplication::quit() does not end (a
// message box without an escape button even refuses the close it asks for).
void endTheRun() {
  const QWidgetList windows = QApplication::topLevelWidgets();
  for (QWidget* w : windows) {
    if (!w->isVisible()) continue;
    if (w->windowType() == Qt::Popup) {
      w->close();
    } else if (auto* dialog = qobject_cast<QDialog*>(w)) {
      dialog->reject();  // returns from its exec() without asking it
    }
  }
  // The main window closes as by its close button, so that the run ends as
  // it always does; windows that do not end the run are left to it.
  for (QWidget* w : windows) {
    if (w->isVisible() && w->testAttribute(Qt::WA_QuitOnClose) && w->windowType() != Qt::Popup &&
        qobject_cast<QDialog*>(w) == nullptr) {
      w->close();
    }
  }
  // Every event loop returns, and one started from here on returns at once:
  // no box shown on the way out holds the shutdown up.
  QCoreApplication::exit(0);
}

}  // namespace

bool quitOnStopSignals() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  wakeWriteEnd = ends[1];
  auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd = ends[0]] {
    char drained[16];
    while (::read(fd, drained, sizeof drained) > 0) {
    }
    endTheRun();
  });
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
  return true;
}

}  // namespace lanternfly
