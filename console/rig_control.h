// Rig control for the running console: the rigctl server, fed with the
// receiver settings the console shows and handing back the ones a client
// sets, which the console applies as an operator's tuning would (slider,
// readout, waterfall and engine alike). Main thread only.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "rigctl_server.h"

namespace lanternfly {

class RigControl {
 public:
  using Read = std::function<ReceiverSettings()>;
  using Apply = std::function<void(const ReceiverSettings&)>;

  RigControl(Read read, Apply apply);

  // Serves on 127.0.0.1:port (again, when already serving elsewhere). False,
  // with a one-line reason in error(), when the port cannot be had.
  bool enable(std::uint16_t port);
  // Stops serving and disconnects every client.
  void disable();

  bool enabled() const { return server_.isListening(); }
  std::uint16_t port() const { return server_.port(); }
  const QString& error() const { return server_.error(); }

 private:
  struct Target : RigControlTarget {
    Read read;
    Apply write;
    ReceiverSettings settings() const override { return read(); }
    void apply(const ReceiverSettings& s) override { write(s); }
  };

  Target target_;
  RigctlServer server_;
};

}  // namespace lanternfly
