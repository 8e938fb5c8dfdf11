#include "rig_control.h"

#include <utility>

namespace lanternfly {

RigControl::RigControl(Read read, Apply apply) : server_(target_) {
  target_.read = std::move(read);
  target_.write = std::move(apply);
}

bool RigControl::enable(std::uint16_t port) {
  if (server_.isListening() && server_.port() == port) return true;
  return server_.listen(port);
}

void RigControl::disable() { server_.close(); }

}  // namespace lanternfly
