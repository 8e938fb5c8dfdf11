// The rig-control server: Hamlib NET rigctl over TCP, on the loopback
// address only, in the event loop of the thread that owns it (the main
// thread). Reads never wait and every buffer is bounded, so no client can
// hold up the display or the sound: a line too long is dropped, a client
// that stops reading its answers is disconnected.
//
// At most kMaxClients are served. A client that is talking (a line answered
// within kIdleLimitMs, and no line too long) keeps its place whatever other
// programs do. When every place is taken, a newcomer takes the place of a
// client that sent a line too long, else of the one silent the longest
// (bytes without a line end are not talking), and is refused when every
// client is talking. Answers are handed to the system as soon as they are
// made, so a client that shuts its sending side after its last line still
// gets every answer before the connection closes.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <cstdint>
#include <memory>
#include <vector>

#include "controls/rigctl_protocol.h"

class QTcpSocket;

namespace lanternfly {

inline constexpr int kRigctlDefaultPort = 4532;

class RigctlServer : public QObject {
 public:
  static constexpr int kMaxClients = 8;
  // Bytes read from a client in one go, and answer bytes allowed to wait
  // for a client that does not read them.
  static constexpr qint64 kReadChunk = 4096;
  static constexpr qint64 kMaxPendingAnswer = 64 * 1024;
  // Longer than the poll interval of the programs that poll a rig (ms).
  static constexpr qint64 kIdleLimitMs = 120000;

  // `rig` must outlive the server.
  explicit RigctlServer(RigControlTarget& rig);
  ~RigctlServer() override;

  // Listens on 127.0.0.1:port (0: a free port the system picks). False, with
  // a one-line reason in error(), when the port cannot be had.
  bool listen(std::uint16_t port);
  // Stops listening and disconnects every client.
  void close();

  bool isListening() const { return server_.isListening(); }
  std::uint16_t port() const { return server_.serverPort(); }
  int clientCount() const { return static_cast<int>(clients_.size()); }
  const QString& error() const { return error_; }

 private:
  struct Client;

  void accept();
  // Drops the client that yields its place to a newcomer; false when every
  // client is talking.
  bool makeRoom();
  // The client of `socket`, or clients_.end().
  std::vector<std::unique_ptr<Client>>::iterator find(const QTcpSocket* socket);
  void readFrom(QTcpSocket* socket);
  void drop(QTcpSocket* socket);

  RigControlTarget& rig_;
  QTcpServer server_;
  std::vector<std::unique_ptr<Client>> clients_;
  QElapsedTimer clock_;  // client times are ms on it
  QString error_;
};

}  // namespace lanternfly
