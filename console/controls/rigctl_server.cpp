#include "controls/rigctl_server.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>

namespace lanternfly {

struct RigctlServer::Client {
  Client(QTcpSocket* s, RigControlTarget& rig, qint64 now)
      : socket(s), talk(rig), lastLineMs(now) {}
  QTcpSocket* socket;  // owned: deleted later by drop()
  RigctlConversation talk;
  qint64 lastLineMs;  // when a line was last answered, or the connection came
};

namespace {

// The order in which clients yield their place to a newcomer.
enum class Standing { Misbehaving, Silent, Talking };

Standing standing(const RigctlConversation& talk, qint64 sinceLastLineMs) {
  if (talk.linesDropped() > 0) return Standing::Misbehaving;
  return talk.linesAnswered() > 0 && sinceLastLineMs < RigctlServer::kIdleLimitMs
             ? Standing::Talking
             : Standing::Silent;
}

}  // namespace

RigctlServer::RigctlServer(RigControlTarget& rig) : rig_(rig) {
  // Qt stops taking connections from the system while this many wait for
  // accept(), which takes them all at once.
  server_.setMaxPendingConnections(kMaxClients);
  connect(&server_, &QTcpServer::newConnection, this, &RigctlServer::accept);
  clock_.start();
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
    if (static_cast<int>(clients_.size()) >= kMaxClients && !makeRoom()) {
      // Every place is held by a client that is talking. Refused at once,
      // not left queued: a client that cannot be served learns so.
      socket->abort();
      socket->deleteLater();
      continue;
    }
    // Qt stops reading from the network while this much is unread.
    socket->setReadBufferSize(kReadChunk);
    clients_.push_back(std::make_unique<Client>(socket, rig_, clock_.elapsed()));
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
  }
}

bool RigctlServer::makeRoom() {
  const qint64 now = clock_.elapsed();
  // Misbehaving before silent before talking; among equals, the one whose
  // last line (or connection) is the oldest.
  const auto rank = [now](const std::unique_ptr<Client>& c) {
    return std::pair(standing(c->talk, now - c->lastLineMs), c->lastLineMs);
  };
  const auto yielding =
      std::min_element(clients_.begin(), clients_.end(),
                       [&rank](const auto& a, const auto& b) { return rank(a) < rank(b); });
  if (rank(*yielding).first == Standing::Talking) return false;
  drop((*yielding)->socket);
  return true;
}

std::vector<std::unique_ptr<RigctlServer::Client>>::iterator RigctlServer::find(
    const QTcpSocket* socket) {
  return std::find_if(clients_.begin(), clients_.end(),
                      [socket](const auto& c) { return c->socket == socket; });
}

void RigctlServer::readFrom(QTcpSocket* socket) {
  const auto found = find(socket);
  if (found == clients_.end()) return;
  Client& client = **found;
  char chunk[kReadChunk];
  std::string answer;
  const std::uint64_t linesBefore = client.talk.linesAnswered();
  for (qint64 got; (got = socket->read(chunk, sizeof chunk)) > 0;) {
    answer += client.talk.receive(std::string_view(chunk, static_cast<std::size_t>(got)));
    if (client.talk.finished()) break;
  }
  if (client.talk.linesAnswered() != linesBefore) client.lastLineMs = clock_.elapsed();
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
  const auto found = find(socket);
  if (found == clients_.end()) return;
  clients_.erase(found);
  socket->disconnect(this);
  socket->abort();
  socket->deleteLater();
}

}  // namespace lanternfly
