#include "controls/rigctl_server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>

namespace lanternfly {

struct RigctlServer::Client {
  Client(QTcpSocket* s, RigControlTarget& rig, std::uint64_t heard)
      : socket(s), talk(rig), lastHeard(heard) {}
  QTcpSocket* socket;  // owned: deleted later by drop()
  RigctlConversation talk;
  std::uint64_t lastHeard;
};

RigctlServer::RigctlServer(RigControlTarget& rig) : rig_(rig) {
  server_.setMaxPendingConnections(kMaxClients);
  connect(&server_, &QTcpServer::newConnection, this, &RigctlServer::accept);
}

RigctlServer::~RigctlServer() { close(); }

bool RigctlServer::listen(std::uint16_t port) {
  close();
  error_.clear();
  if (!server_.listen(QHostAddress::LocalHost, port)) {
    error_ = QStringLiteral("Cannot listen for rig control on 127.0.0.1:%1: %2")
                 .arg(port)
                 .arg(server_.errorString());
    return false;
  }
  return true;
}

void RigctlServer::close() {
  server_.close();
  while (!clients_.empty()) drop(clients_.back()->socket);
}

void RigctlServer::accept() {
  while (QTcpSocket* socket = server_.nextPendingConnection()) {
    if (static_cast<int>(clients_.size()) >= kMaxClients) {
      // The newcomer wins over the client silent the longest, so that
      // clients that connect and never speak cannot lock others out.
      const auto quietest = std::min_element(
          clients_.begin(), clients_.end(),
          [](const auto& a, const auto& b) { return a->lastHeard < b->lastHeard; });
      drop((*quietest)->socket);
    }
    // Qt stops reading from the network while this much is unread.
    socket->setReadBufferSize(kReadChunk);
    clients_.push_back(std::make_unique<Client>(socket, rig_, ++heard_));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
  }
}

void RigctlServer::readFrom(QTcpSocket* socket) {
  const auto found = std::find_if(clients_.begin(), clients_.end(),
                                  [socket](const auto& c) { return c->socket == socket; });
  if (found == clients_.end()) return;
  Client& client = **found;
  char chunk[kReadChunk];
  std::string answer;
  for (qint64 got; (got = socket->read(chunk, sizeof chunk)) > 0;) {
    answer += client.talk.receive(std::string_view(chunk, static_cast<std::size_t>(got)));
    if (client.talk.finished()) break;
  }
  client.lastHeard = ++heard_;
  const bool finished = client.talk.finished();
  if (!answer.empty()) {
    socket->write(answer.data(), static_cast<qint64>(answer.size()));
    // Into the system's buffer now: Qt closes the socket as soon as it
    // reads the end of a half-closed client, and what it still held for
    // writing would be lost. A client found gone here is dropped at once,
    // `client` with it; `socket` lives on until the event loop.
    socket->flush();
  }
  if (finished) {
    socket->disconnectFromHost();  // after the answers are written
  } else if (socket->bytesToWrite() > kMaxPendingAnswer) {
    drop(socket);  // it asks without reading: its answers would pile up
  }
}

void RigctlServer::drop(QTcpSocket* socket) {
  const auto found = std::find_if(clients_.begin(), clients_.end(),
                                  [socket](const auto& c) { return c->socket == socket; });
  if (found == clients_.end()) return;
  clients_.erase(found);
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

}  // namespace lanternfly
