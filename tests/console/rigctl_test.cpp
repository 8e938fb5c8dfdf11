// Rig control: the NET rigctl answers for a stand-in receiver, the line
// framing's bounds, and the server with real sockets, including Hamlib's own
// rigctl program as the client when it is installed.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QHostAddress>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSlider>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "app/console_session.h"
#include "controls/control_table.h"
#include "controls/rig_control.h"
#include "controls/rigctl_protocol.h"
#include "controls/rigctl_server.h"
#include "views/console_window.h"

using namespace lanternfly;

namespace {

constexpr double kLo = 14074000.0;

// A receiver tuned to the LO, counting what rig control applies.
struct StandInRig : RigControlTarget {
  StandInRig() { current.loHz = kLo; }
  ReceiverSettings settings() const override { return current; }
  void apply(const ReceiverSettings& s) override {
    current = s;
    ++applied;
  }
  ReceiverSettings current;
  int applied = 0;
};

std::string ask(StandInRig& rig, const std::string& line) {
  bool quit = false;
  return answerRigctlLine(line, rig, quit);
}

// Asks each line in turn: every answer is the one paired with it.
void expectAnswers(StandInRig& rig, const std::vector<std::pair<std::string, std::string>>& talk) {
  for (const auto& [line, answer] : talk) {
    QCOMPARE(QString::fromStdString(line + " -> " + ask(rig, line)),
             QString::fromStdString(line + " -> " + answer));
  }
}

// Waits, running the event loop, until the socket has a line ending with
// `last` or `ms` passed; returns all it read.
QByteArray readUntil(QTcpSocket& s, const QByteArray& last, int ms = 3000) {
  QByteArray got;
  QElapsedTimer t;
  t.start();
  while (!got.endsWith(last) && t.elapsed() < ms) {
    QTest::qWait(1);  // the server answers in this thread's event loop
    got += s.readAll();
  }
  return got;
}

// A loopback client outside Qt's event loop: connects without waiting, sends
// `opening` once connected, then keeps (returns its descriptor), closes or
// resets the connection.
enum class End { Keep, Close, Reset };
int rawClient(quint16 port, const QByteArray& opening, End end) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  sockaddr_in a{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
  connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  pollfd p{fd, POLLOUT, 0};
  if (!opening.isEmpty() && poll(&p, 1, 100) == 1)
    send(fd, opening.constData(), opening.size(), MSG_NOSIGNAL);
  const linger now{1, 0};
  if (end == End::Reset) setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  if (end != End::Keep) close(fd);
  return end == End::Keep ? fd : -1;
}

}  // namespace

class RigctlTest : public QObject {
  Q_OBJECT

 private slots:
  void frequencyIsLoPlusOffsetAndStaysInTheSlidersRange() {
    StandInRig rig;
    QCOMPARE(ask(rig, "f"), std::string("14074000\n"));
    QCOMPARE(ask(rig, "F 14075004.6"), std::string("RPRT 0\n"));
    QCOMPARE(rig.current.tuneOffsetHz, 1000);  // to the slider's 10 Hz step
    QCOMPARE(ask(rig, "\\get_freq"), std::string("14075000\n"));
    QCOMPARE(ask(rig, "\\set_freq 14050000"), std::string("RPRT 0\n"));
    QCOMPARE(rig.current.tuneOffsetHz, -24000);

    // Outside LO +-24 kHz, or not a number: refused, nothing changes.
    const int applied = rig.applied;
    for (const char* bad : {"F 14098010", "F 14049990", "F 0", "F abc", "F nan", "F 1e400",
                            "F", "F 14075000 14076000"}) {
      QCOMPARE(ask(rig, bad), std::string("RPRT -1\n"));
    }
    QCOMPARE(rig.applied, applied);
    QCOMPARE(rig.current.tuneOffsetHz, -24000);
  }

  void modeSetsTheSidebandAndThePassbandWidth() {
    StandInRig rig;
    QCOMPARE(ask(rig, "m"), std::string("USB\n2400\n"));
    QCOMPARE(ask(rig, "M LSB 2000"), std::string("RPRT 0\n"));
    QCOMPARE(rig.current.mode, ReceiveMode::Lsb);
    QCOMPARE(rig.current.lowCutHz, 300);
    QCOMPARE(rig.current.highCutHz, 2300);
    QCOMPARE(ask(rig, "M PKTUSB -1"), std::string("RPRT 0\n"));  // width unchanged
    QCOMPARE(ask(rig, "\\get_mode"), std::string("USB\n2000\n"));
    QCOMPARE(ask(rig, "M USB 0"), std::string("RPRT 0\n"));  // the default passband
    QCOMPARE(rig.current.highCutHz, 2700);

    // Every mode by its Hamlib name, with the width asked for (on the band:
    // both sides of the carrier in AM, AMS and FM; an odd one rounded up),
    // its default for 0, and kept by the mode for -1.
    expectAnswers(rig, {{"M CW 0", "RPRT 0\n"},    {"m", "CW\n500\n"},    {"M CWR 200", "RPRT 0\n"},
                        {"m", "CWR\n200\n"},      {"M AM 5999", "RPRT 0\n"}, {"m", "AM\n6000\n"},
                        {"M SAM 0", "RPRT 0\n"},   {"m", "AMS\n9000\n"},  {"M SAH 4400", "RPRT 0\n"},
                        {"m", "SAH\n4400\n"},     {"M SAL 2900", "RPRT 0\n"}, {"m", "SAL\n2900\n"},
                        {"M FM 0", "RPRT 0\n"},    {"m", "FM\n16000\n"},  {"M FM 8000", "RPRT 0\n"},
                        {"M CW -1", "RPRT 0\n"},   {"m", "CW\n200\n"},    {"M AM -1", "RPRT 0\n"},
                        {"m", "AM\n6000\n"},      {"M FM -1", "RPRT 0\n"},  {"m", "FM\n8000\n"},
                        {"M USB -1", "RPRT 0\n"},  {"m", "USB\n2400\n"}});
    QCOMPARE(rig.current.highCutHz, 2700);  // the sideband's passband stayed
    // FM's default follows the deviation; CW's passband stops at 50 Hz, so
    // at a low pitch the widest is narrower.
    rig.current.fmDeviationHz = 2500, rig.current.cwPitchHz = 300;
    expectAnswers(rig, {{"M FM 0", "RPRT 0\n"}, {"m", "FM\n11000\n"}, {"M CW 1000", "RPRT 0\n"},
                        {"m", "CW\n750\n"}});
    const ReceiverSettings before = rig.current;
    for (const char* bad : {"M XYZ 0", "M cw 0", "M RTTY 0", "M CW 49", "M CW 1001",
                            "M AM 12002", "M SAH 5901", "M FM 4998", "M FM 16001",
                            "M USB 6000", "M USB -2", "M USB 2.5", "M USB", "M"}) {
      QCOMPARE(ask(rig, bad), std::string("RPRT -1\n"));
    }
    QVERIFY(rig.current == before);
  }

  void aReceiverAnswersForVfoPttSplitAndPower() {
    StandInRig rig;
    expectAnswers(rig, {{"v", "VFOA\n"}, {"V VFOA", "RPRT 0\n"},
                        {"V VFOB", "RPRT 0\n"},  // the same one tuning
                        {"v", "VFOA\n"}, {"V VFOZ", "RPRT -1\n"}, {"t", "0\n"}, {"T 0", "RPRT 0\n"},
                        {"T 1", "RPRT -11\n"}, {"s", "0\nVFOA\n"}, {"S 0 VFOA", "RPRT 0\n"},
                        {"S 1 VFOA", "RPRT -11\n"}, {"\\get_powerstat", "1\n"},
                        {"\\get_lock_mode", "0\n"}, {"\\chk_vfo", "0\n"}, {"", ""}});
    for (const std::string& unknown :
         std::vector<std::string>{"Z", "\\get_level", "ff", "\\", "+", "\x01", "\x7f",
                                  std::string(1, '\0'), std::string("+\0", 2)}) {
      QCOMPARE(ask(rig, unknown), std::string("RPRT -4\n"));
    }
    bool quit = false;
    QCOMPARE(answerRigctlLine("q", rig, quit), std::string("RPRT 0\n"));
    QVERIFY(quit);
    QCOMPARE(rig.applied, 0);
  }

  void extendedAnswersEchoTheCommandAndEndWithRprt() {
    StandInRig rig;
    expectAnswers(rig, {{"+f", "get_freq:\nFrequency: 14074000\nRPRT 0\n"},
                        {"+\\set_freq 14075000", "set_freq: 14075000\nRPRT 0\n"},
                        {"+F 1", "set_freq: 1\nRPRT -1\n"}, {"+\\chk_vfo", "ChkVFO: 0\n"},
                        {";m", "get_mode:;Mode: USB;Passband: 2400;RPRT 0\n"},
                        {"|s", "get_split_vfo:|Split: 0|TX VFO: VFOA|RPRT 0\n"}});
    const std::string dump = ask(rig, "+\\dump_state");
    QVERIFY(dump.starts_with("dump_state:\n1\n"));
    QVERIFY(dump.ends_with("done\nRPRT 0\n"));
  }

  void linesAreFramedAndBoundedWhateverArrives() {
    StandInRig rig;
    RigctlConversation talk(rig);
    QCOMPARE(talk.receive("F 14075"), std::string());  // a line in pieces
    QCOMPARE(talk.receive("000\r\nf\n"), std::string("RPRT 0\n14075000\n"));
    // Binary junk, then a line far over the limit: one refusal each, and the
    // conversation goes on.
    QCOMPARE(talk.receive(std::string("\x00\xff\x01\x80", 4) + "\n"), std::string("RPRT -4\n"));
    QCOMPARE(talk.receive(std::string(100000, 'F')), std::string());
    QCOMPARE(talk.receive("\nf\n"), std::string("RPRT -1\n14075000\n"));
    QCOMPARE(talk.receive("q\nF 14076000\n"), std::string("RPRT 0\n"));
    QVERIFY(talk.finished());
    QCOMPARE(rig.current.tuneOffsetHz, 1000);
  }

  void serverListensOnLoopbackAndLivesThroughBadClients() {
    StandInRig rig;
    RigctlServer server(rig);
    QVERIFY2(server.listen(0), qPrintable(server.error()));
    QCOMPARE(server.port() != 0, true);
    RigctlServer second(rig);
    QVERIFY(!second.listen(server.port()));  // taken: said so, not thrown
    QVERIFY(second.error().contains(QString::number(server.port())));

    // More silent clients than the limit: a speaking one still gets in.
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int k = 0; k < RigctlServer::kMaxClients + 3; ++k) {
      silent.push_back(std::make_unique<QTcpSocket>());
      silent.back()->connectToHost(QHostAddress::LocalHost, server.port());
      QVERIFY(silent.back()->waitForConnected(2000));
    }
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(client.waitForConnected(2000));
    client.write(QByteArray(5000, '\x07') + "\nF 14074500\nf\n");
    QCOMPARE(readUntil(client, "14074500\n"), QByteArray("RPRT -1\nRPRT 0\n14074500\n"));
    QVERIFY(server.clientCount() <= RigctlServer::kMaxClients);

    client.write("q\n");
    QCOMPARE(readUntil(client, "RPRT 0\n"), QByteArray("RPRT 0\n"));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 2000);
  }

  // A polling client keeps its place and its answers come at once while
  // other local programs connect in crowds, dribble bytes, send over-long
  // lines, reset mid-command or poll too; a newcomer then gets in unless
  // every place is held by a client that is talking.
  void aPollingClientIsAnsweredThroughEveryAttack() {
    StandInRig rig;
    RigctlServer server(rig);
    QVERIFY(server.listen(0));
    QTcpSocket poller;
    poller.connectToHost(QHostAddress::LocalHost, server.port());
    const struct {
      int perTick, ticks;
      QByteArray opening, drip;
      End end;
      bool newcomerGetsIn;
    } attacks[] = {{40, 5, "", "", End::Keep, true},
                   {30, 20, "", "", End::Close, true},
                   {15, 20, "f\nF 1407", "", End::Reset, true},
                   {8, 1, "", "x", End::Keep, true},
                   {8, 1, "", "f\n", End::Keep, false},
                   {8, 1, "", QByteArray(300, 'x') + "\nf\n", End::Keep, true}};
    qint64 worst = 0;
    for (const auto& attack : attacks) {
      std::vector<int> kept;
      for (int tick = 0; tick < 20; ++tick) {
        QElapsedTimer t;
        t.start();
        poller.write("f\n");
        // Far below Hamlib's 15 s, and lenient for a loaded machine.
        QCOMPARE(readUntil(poller, "\n", 2000), QByteArray("14074000\n"));
        worst = std::max(worst, t.elapsed());
        for (int k = 0; k < (tick < attack.ticks ? attack.perTick : 0); ++k) {
          const int fd = rawClient(server.port(), attack.opening, attack.end);
          if (fd >= 0) kept.push_back(fd);
        }
        for (const int fd : kept)
          send(fd, attack.drip.constData(), attack.drip.size(), MSG_NOSIGNAL);
        QTest::qWait(20);
      }
      QVERIFY(server.clientCount() <= RigctlServer::kMaxClients);
      QTcpSocket newcomer;
      newcomer.connectToHost(QHostAddress::LocalHost, server.port());
      newcomer.write("f\n");
      QCOMPARE(readUntil(newcomer, "\n", attack.newcomerGetsIn ? 2000 : 300),
               QByteArray(attack.newcomerGetsIn ? "14074000\n" : ""));
      newcomer.abort();
      for (const int fd : kept) close(fd);
      QTRY_COMPARE_WITH_TIMEOUT(server.clientCount(), 1, 3000);
    }
    qInfo("slowest answer to the polling client: %lld ms (aim: 100 ms)", worst);
  }

  // Answers to the lines that came before the client shut its sending side
  // ("nc -N") are sent before the connection closes; an unfinished line is
  // not run.
  void aHalfClosedClientGetsItsAnswers() {
    StandInRig rig;
    RigctlServer server(rig);
    QVERIFY(server.listen(0));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(client.waitForConnected(2000));
    client.write("F 14074500\nm\nF 1407");
    QVERIFY(client.waitForBytesWritten(2000));
    shutdown(client.socketDescriptor(), SHUT_WR);
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 3000);
    QCOMPARE(client.readAll(), QByteArray("RPRT 0\nUSB\n2400\n"));
    QCOMPARE(rig.current.tuneOffsetHz, 500);
  }

  void aClientThatNeverReadsIsDropped() {
    StandInRig rig;
    RigctlServer server(rig);
    QVERIFY(server.listen(0));
    QTcpSocket greedy;
    greedy.setReadBufferSize(1);  // reads (almost) nothing of the answers
    greedy.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(greedy.waitForConnected(2000));
    const QByteArray asks = QByteArray("\\dump_state\n").repeated(300);
    QElapsedTimer t;
    t.start();
    while (greedy.state() == QAbstractSocket::ConnectedState && t.elapsed() < 20000) {
      greedy.write(asks);
      greedy.waitForBytesWritten(50);
      QCoreApplication::processEvents();
    }
    QCOMPARE(greedy.state() == QAbstractSocket::ConnectedState, false);
    QCOMPARE(server.clientCount(), 0);
  }

  // The menu's row switches rig control on at the port asked for and off
  // again; a client's tuning reaches the session, its watchers and the
  // window's slider and readout.
  void theRigControlRowServesTheSession() {
    const EngineEntries noEngine{};
    ConsoleSession session(noEngine, ConsoleState{}, DevicePair{});
    ConsoleWindow window([&session](std::int32_t hz) { session.retune(hz); });
    session.attach(&window, nullptr);
    RigControl rig(session, &window);
    QVERIFY(!rig.serving());  // off at first start

    struct Host : ControlHost {
      ConsoleSession& s;
      double port;
      Host(ConsoleSession& session, double p) : s(session), port(p) {}
      const ConsoleState& state() const override { return s.state(); }
      void apply(const ConsoleState& next) override { s.apply(next); }
      std::optional<double> ask(const Control&, double, double, double) override { return port; }
      void restart() override {}
      void close() override {}
    };
    QTcpServer free;  // a port nobody serves
    QVERIFY(free.listen(QHostAddress::LocalHost));
    const quint16 port = free.serverPort();
    free.close();
    Host host(session, port);
    const Control& row = *findControl("rigControl");
    triggerControl(row, host);
    QVERIFY(rig.serving() && rig.port() == port && isChecked(row, session.state()));

    std::int32_t watched = 0;
    session.watch([&](const ConsoleState&, const ConsoleState& now) {
      watched = now.receiver.tuneOffsetHz;
    });
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, port);
    client.write("F -1500\n");
    QCOMPARE(readUntil(client, "\n"), QByteArray("RPRT 0\n"));
    QCOMPARE(session.settings().tuneOffsetHz, -1500);
    QCOMPARE(watched, -1500);
    QCOMPARE(window.slider()->value(), kSliderCentre - 1500 / kHzPerSliderStep);
    QCOMPARE(window.offsetReadout()->text(), QStringLiteral("-1500"));

    triggerControl(row, host);
    QVERIFY(!rig.serving() && !isChecked(row, session.state()));
    QTRY_COMPARE_WITH_TIMEOUT(client.state(), QAbstractSocket::UnconnectedState, 2000);

    // A port someone else holds: said in a box over the window, no server.
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    host.port = holder.serverPort();
    triggerControl(row, host);
    QVERIFY(!rig.serving());
    QCOMPARE(window.findChildren<QMessageBox*>().size(), 1);
  }

  // Hamlib's own client, rig model 2 (NET rigctl), against the server.
  void hamlibsRigctlSetsAndReadsFrequencyAndMode() {
    const QString rigctl = QStandardPaths::findExecutable(QStringLiteral("rigctl"));
    if (rigctl.isEmpty()) QSKIP("rigctl (libhamlib-utils) is not installed");
    StandInRig rig;
    RigctlServer server(rig);
    QVERIFY(server.listen(0));
    // Runs rigctl with these commands while this thread's loop serves it.
    auto run = [&](const QString& commands, QString& output) {
      QProcess p;
      p.start(rigctl, QStringList{QStringLiteral("-m"), QStringLiteral("2"), QStringLiteral("-r"),
                                  QStringLiteral("127.0.0.1:%1").arg(server.port())} +
                          commands.split(QLatin1Char(' ')));
      QElapsedTimer t;
      t.start();
      while (p.state() != QProcess::NotRunning && t.elapsed() < 15000) QTest::qWait(20);
      output = QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
      return p.exitCode();
    };
    QString out;
    // A mode read back by a client of its own: within one run the client
    // answers "m" from its cache.
    for (const auto& [set, got] :
         {std::pair{"M AMS 0", "AMS\n9000\n"}, {"M CW 200", "CW\n200\n"}, {"M AMS 6000", "AMS\n6000\n"},
          {"M AMS -1", "AMS\n6000\n"}, {"M FM 11000", "FM\n11000\n"}}) {
      QCOMPARE(run(QLatin1String(set), out) + run(QStringLiteral("m"), out), 0);
      QCOMPARE(out, QLatin1String(got));
    }
    QCOMPARE(run(QStringLiteral("F 14076000 M LSB 1800 f m t v"), out), 0);
    QCOMPARE(out, QStringLiteral("14076000\nLSB\n1800\n0\nVFOA\n"));
    QCOMPARE(rig.current.tuneOffsetHz, 2000);
    QCOMPARE(rig.current.mode, ReceiveMode::Lsb);

    // Out of range: the client reports the refusal, the receiver stays.
    run(QStringLiteral("F 7074000"), out);
    QVERIFY2(out.contains(QLatin1String("set_freq")) && out.contains(QLatin1String("error")),
             qPrintable(out));
    QCOMPARE(rig.current.tuneOffsetHz, 2000);
  }
};

QTEST_MAIN(RigctlTest)
#include "rigctl_test.moc"
