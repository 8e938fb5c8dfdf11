// Rig control for the running console, attached from outside: it serves
// Hamlib NET rigctl on the port the console state names (none while it is
// 0), reading the session's receiver settings and applying what a client
// sets through the session, so the slider, the readout, the waterfall and
// the engine follow as for an operator's tuning. A port that cannot be had
// is reported on standard error and in an "Error" box; the window stays.
// Main thread only.
#pragma once

#include <cstdint>

#include "controls/rigctl_server.h"

class QWidget;

namespace lanternfly {

class ConsoleSession;

class RigControl {
 public:
  // `session` and `window` (the parent of the error box, so that the box
  // never keeps the program running) must outlive this.
  RigControl(ConsoleSession& session, QWidget* window);

  bool serving() const { return server_.isListening(); }
  std::uint16_t port() const { return server_.port(); }

 private:
  struct Target : RigControlTarget {
    explicit Target(ConsoleSession& s) : session(s) {}
    ReceiverSettings settings() const override;
    void apply(const ReceiverSettings& s) override;
    ConsoleSession& session;
  };

  void serveOn(int port);

  Target target_;
  QWidget* window_;
  RigctlServer server_;
};

}  // namespace lanternfly
