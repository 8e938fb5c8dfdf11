#include "controls/rig_control.h"

#include <QMessageBox>
#include <cstdio>

#include "app/console_session.h"

namespace lanternfly {

ReceiverSettings RigControl::Target::settings() const { return session.settings(); }

void RigControl::Target::apply(const ReceiverSettings& s) { session.apply(s); }

RigControl::RigControl(ConsoleSession& session, QWidget* window)
    : target_(session), window_(window), server_(target_) {
  serveOn(session.state().rigctlPort);
  session.watch([this](const ConsoleState& before, const ConsoleState& now) {
    if (now.rigctlPort != before.rigctlPort) serveOn(now.rigctlPort);
  });
}

void RigControl::serveOn(int port) {
  if (port <= 0) {
    server_.close();
    return;
  }
  if (server_.listen(static_cast<std::uint16_t>(port))) return;
  std::fprintf(stderr, "Lanternfly: %s\n", server_.error().toLocal8Bit().constData());
  // Not modal: the receiver goes on without rig control.
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Error"), server_.error(),
                              QMessageBox::Ok, window_);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->show();
}

}  // namespace lanternfly
