#include "Stars.h"
#include "TestFixture.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// Plays the STARS server on a loopback port the OS picks.
class FakeServer : public QObject
{
public:
    FakeServer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, this, [this] {
            ++connections;
            peer = server.nextPendingConnection();
            QObject::connect(peer, &QTcpSocket::readyRead, this, [this] { received.append(peer->readAll()); });
        });
    }
    bool waitPeer()
    {
        return TestWait::until([this] { return peer != nullptr; }, 5000);
    }
    // Waits until n lines arrived; returns them (and keeps the rest).
    QList<QByteArray> lines(int n, int timeoutMs = 5000)
    {
        QList<QByteArray> out;
        TestWait::until(
            [&] {
                while (out.size() < n && received.hasLine()) {
                    QByteArray line = received.takeLine();
                    line.chop(1);
                    out << line;
                }
                return out.size() >= n;
            },
            timeoutMs);
        return out;
    }
    void send(const QByteArray& bytes)
    {
        peer->write(bytes);
        peer->flush();
    }
    quint16 port() const { return server.serverPort(); }

    QTcpServer server;
    QTcpSocket* peer = nullptr;
    LineReader received{LineReader::ObserverMaxLineBytes};
    int connections = 0;
};

// Loads cam1's keys and starts the client's attempt to reach the server.
static void connectClient(Stars& stars, const FakeServer& server)
{
    stars.ReadStarsKeys("cam1", "cam1");
    stars.SetNewSVAddress("127.0.0.1");
    stars.SetNewSVPort(QString::number(server.port()));
    stars.ConnectToServer();
}

class tst_Stars : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void keyWordsSplitAtAnyWhiteSpace();
    void answersKeyChallenge_data();
    void answersKeyChallenge();
    void refusesLogInWithoutUsableKey_data();
    void refusesLogInWithoutUsableKey();
    void requestWithVerdictIsServed();
    void requestWithoutVerdictIsServed();
    void dispatchesLinesInOrder();
    void answersWhatItCannotServe_data();
    void answersWhatItCannotServe();
    void repliesAddressedAndEncoded();
    void repliesOfOneReadKeepTheirOrder();
    void overlongLineIsCutIntoPieces();
    void serverSettings();
    void lossOfConnectionIsSignalled();
    void writingWithoutConnectionIsHarmless();
    void serverThatDoesNotReadIsDropped();
    void livenessOptionsOnTheSocket_data();
    void livenessOptionsOnTheSocket();
    void logInVerdict_data();
    void logInVerdict();

private:
    // Logs a client in as cam1 with the given keys; returns it ready.
    Stars* loggedIn(FakeServer& server, const QStringList& keys = {"k0"});
    void writeKeys(const QString& name, const QByteArray& text);

    std::unique_ptr<WorkDir> workDir;
};

void tst_Stars::init()
{
    workDir = std::make_unique<WorkDir>();
    QVERIFY(workDir->isValid());
}

void tst_Stars::cleanup()
{
    workDir.reset();
}

void tst_Stars::writeKeys(const QString& name, const QByteArray& text)
{
    QFile f(name + ".key");
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

Stars* tst_Stars::loggedIn(FakeServer& server, const QStringList& keys)
{
    writeKeys("cam1", keys.join('\n').toLatin1());
    auto* stars = new Stars;
    connectClient(*stars, server);
    if (!server.waitPeer())
        return stars;
    server.send("0\n");
    server.lines(1);
    server.send("System>cam1 Ok:\n");
    TestWait::until([&] { return stars->getConnectState() == Stars::Ready; }, 5000);
    return stars;
}

void tst_Stars::keyWordsSplitAtAnyWhiteSpace()
{
    writeKeys("spread", "  alpha\tbeta\n\n gamma  \r\n\tdelta \t");
    Stars stars;
    stars.ReadStarsKeys("spread", "node");
    QCOMPARE(stars.getKeys(), (QStringList{"alpha", "beta", "gamma", "delta"}));
    QCOMPARE(stars.getNodeName(), QStringLiteral("node"));
}

void tst_Stars::answersKeyChallenge_data()
{
    QTest::addColumn<QList<QByteArray>>("challenge"); // as the server sends it, in pieces
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("7 modulo 3 keys") << QList<QByteArray>{"7\n"} << QByteArray("cam1 k1");
    QTest::newRow("not a number selects the first") << QList<QByteArray>{"abc\n"} << QByteArray("cam1 k0");
    QTest::newRow("blanks and CR") << QList<QByteArray>{"  5 \r\n"} << QByteArray("cam1 k2");
    QTest::newRow("number in pieces") << QList<QByteArray>{"1", "1\n"} << QByteArray("cam1 k2");
}

void tst_Stars::answersKeyChallenge()
{
    QFETCH(QList<QByteArray>, challenge);
    QFETCH(QByteArray, answer);
    writeKeys("cam1", "k0 k1\nk2");
    FakeServer server;
    Stars stars;
    connectClient(stars, server);
    QVERIFY(server.waitPeer());
    for (const QByteArray& piece : challenge) {
        server.send(piece);
        QTest::qWait(30);
    }
    QCOMPARE(server.lines(1), QList<QByteArray>{answer});
    QSignalSpy ready(&stars, &Stars::ConnectionIsReady);
    server.send("System>cam1 Ok:\n");
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 5000);
    QCOMPARE(stars.getConnectState(), int(Stars::Ready));
}

void tst_Stars::refusesLogInWithoutUsableKey_data()
{
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<QByteArray>("challenge");
    QTest::addColumn<bool>("configError"); // refused for good rather than a lost connection
    QTest::newRow("no key in the file") << QByteArray(" \n\t") << QByteArray("3\n") << true;
    QTest::newRow("negative key number") << QByteArray("a b") << QByteArray("-1\n") << false;
}

void tst_Stars::refusesLogInWithoutUsableKey()
{
    QFETCH(QByteArray, keys);
    QFETCH(QByteArray, challenge);
    QFETCH(bool, configError);
    writeKeys("cam1", keys);
    FakeServer server;
    Stars stars;
    connectClient(stars, server);
    QVERIFY(server.waitPeer());
    QSignalSpy gone(&stars, &Stars::Disconnected);
    QSignalSpy refused(&stars, &Stars::logInRefused);
    server.send(challenge);
    QTRY_COMPARE_WITH_TIMEOUT(gone.size() + refused.size(), 1, 5000);
    QCOMPARE(refused.size(), configError ? 1 : 0);
    QVERIFY(server.received.pending() == 0); // no key was sent
    QTRY_COMPARE_WITH_TIMEOUT(server.peer->state(), QAbstractSocket::UnconnectedState, 5000);
}

void tst_Stars::requestWithVerdictIsServed()
{
    writeKeys("cam1", "k0");
    FakeServer server;
    Stars stars;
    connectClient(stars, server);
    QVERIFY(server.waitPeer());
    QSignalSpy asks(&stars, &Stars::receivedCommand);
    server.send("0\n");
    server.lines(1);
    server.send("System>cam1 Ok:\nterm1>cam1 GetBin\n");
    QTRY_COMPARE_WITH_TIMEOUT(asks.size(), 1, 5000);
}

void tst_Stars::requestWithoutVerdictIsServed()
{
    writeKeys("cam1", "k0");
    FakeServer server;
    Stars stars;
    connectClient(stars, server);
    QVERIFY(server.waitPeer());
    QSignalSpy asks(&stars, &Stars::receivedCommand);
    QSignalSpy ready(&stars, &Stars::ConnectionIsReady);
    server.send("0\n");
    server.lines(1);
    server.send("term1>cam1 GetBin\n");
    QTRY_COMPARE_WITH_TIMEOUT(asks.size(), 1, 5000);
    QCOMPARE(ready.size(), 1);
}

void tst_Stars::dispatchesLinesInOrder()
{
    FakeServer server;
    std::unique_ptr<Stars> stars(loggedIn(server));
    QStringList order;
    connect(stars.get(), &Stars::receivedCommand, this, [&](SMsg m) {
        order << QStringList{m.command, m.from, m.to, m.params}.join('/');
    });
    server.send("a>cam1 GetTemp\na>cam1 GetBin x\n");
    server.send("a>cam1 Get");
    QTest::qWait(30);
    server.send("Bin y\r\na>cam1 RBIFlush\na>cam1 DownLoadImage\n");
    QTRY_COMPARE_WITH_TIMEOUT(order.size(), 5, 5000);
    QCOMPARE(order, (QStringList{"GetTemp/a/cam1/", "GetBin/a/cam1/x", "GetBin/a/cam1/y", "RBIFlush/a/cam1/",
                                 "DownLoadImage/a/cam1/"}));
    QVERIFY(server.received.pending() == 0); // the client answers none of these itself
}

void tst_Stars::answersWhatItCannotServe_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("answer"); // empty: no answer from the client
    QTest::addColumn<bool>("handedOn");     // given to whoever serves the commands
    // The client knows no command words: whether a word is served is decided
    // by whoever answers receivedCommand.
    QTest::newRow("unknown command") << QByteArray("a>cam1 Foo 1") << QByteArray() << true;
    QTest::newRow("wrong case") << QByteArray("a>cam1 gettemp") << QByteArray() << true;
    QTest::newRow("event") << QByteArray("a>cam1 _Tick 1") << QByteArray("cam1>a Er: Undefined Event") << false;
    QTest::newRow("garbage") << QByteArray("garbage") << QByteArray("> Er: Undefined Command") << false;
    QTest::newRow("no command word") << QByteArray("a>cam1") << QByteArray(">a Er: Undefined Command") << false;
    QTest::newRow("sub-names kept") << QByteArray("a.ui>cam1.ccd _Foo")
                                    << QByteArray("cam1.ccd>a.ui Er: Undefined Event") << false;
    QTest::newRow("reply from another node") << QByteArray("a>cam1 @GetTemp 20") << QByteArray() << false;
    QTest::newRow("error answer") << QByteArray("cam2>cam1 Er: Undefined Command") << QByteArray() << false;
    QTest::newRow("server bounce") << QByteArray("System>cam1 @Er: Undefined Command Er: a is down.") << QByteArray()
                                   << false;
    QTest::newRow("unroutable bounce") << QByteArray("System>cam1> @") << QByteArray() << false;
}

void tst_Stars::answersWhatItCannotServe()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, answer);
    QFETCH(bool, handedOn);
    FakeServer server;
    std::unique_ptr<Stars> stars(loggedIn(server));
    QSignalSpy requests(stars.get(), &Stars::receivedCommand);
    server.send(line + "\n");
    if (answer.isEmpty()) {
        QTest::qWait(100);
        QVERIFY(server.received.pending() == 0);
    } else {
        QCOMPARE(server.lines(1), QList<QByteArray>{answer});
    }
    QCOMPARE(requests.size(), handedOn ? 1 : 0);
}

void tst_Stars::repliesAddressedAndEncoded()
{
    FakeServer server;
    std::unique_ptr<Stars> stars(loggedIn(server));
    SMsg msg;
    msg.Parse("term1>cam1.ccd GetTemp");
    stars->SendReply(msg, QStringLiteral("@GetTemp -10"));
    stars->SendReply(msg, QString::fromUtf8("@GetModel caf\u00e9 \u20ac"));
    stars->SendEvent("cam1", "_Ping 1");
    QCOMPARE(server.lines(3), (QList<QByteArray>{"cam1.ccd>term1 @GetTemp -10", "cam1.ccd>term1 @GetModel caf\xe9 ?",
                                                 "cam1>System _Ping 1"}));
}

// The replies to the lines of one read leave together; an event and a
// flush() from a slot keep their place among them.
void tst_Stars::repliesOfOneReadKeepTheirOrder()
{
    FakeServer server;
    std::unique_ptr<Stars> stars(loggedIn(server));
    qint64 pendingInSlot = -1;
    connect(stars.get(), &Stars::receivedCommand, this, [&](const SMsg& m) {
        if (m.command == QLatin1String("GetBin")) {
            stars->SendReply(m, "@GetBin " + m.params);
            return;
        }
        stars->SendEvent("cam1", "_ChangedIsBusy 1");
        pendingInSlot = stars->pendingWriteBytes();
        stars->flush();
        stars->SendReply(m, "@RBIFlush Ok:");
    });
    server.send("a>cam1 GetBin 1\na>cam1 RBIFlush\nb>cam1 GetBin 2\n");
    QCOMPARE(server.lines(4), (QList<QByteArray>{"cam1>a @GetBin 1", "cam1>System _ChangedIsBusy 1",
                                                 "cam1>a @RBIFlush Ok:", "cam1>b @GetBin 2"}));
    QVERIFY(pendingInSlot >= qint64(sizeof("cam1>System _ChangedIsBusy 1\n") - 1));
}

void tst_Stars::overlongLineIsCutIntoPieces()
{
    FakeServer server;
    std::unique_ptr<Stars> stars(loggedIn(server));
    // 3999 bytes of "a>cam1 Foo xxx..." then the rest as a line of its own.
    const QByteArray head = "a>cam1 Foo ";
    QList<SMsg> requests;
    connect(stars.get(), &Stars::receivedCommand, this, [&](SMsg m) { requests << m; });
    server.send(head + QByteArray(5000, 'x') + "\n");
    QCOMPARE(server.lines(1), QList<QByteArray>{"> Er: Undefined Command"});
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).command, QStringLiteral("Foo"));
    QCOMPARE(requests.at(0).params.size(), 3999 - head.size());
}

void tst_Stars::serverSettings()
{
    Stars stars;
    QCOMPARE(stars.getServerAddress(), QStringLiteral("localhost"));
    QCOMPARE(stars.getServerPort(), quint16(6057));
    stars.SetNewSVPort("6058");
    QCOMPARE(stars.getServerPort(), quint16(6058));
    stars.SetNewSVPort("70000");
    QCOMPARE(stars.getServerPort(), quint16(4464));
    stars.SetNewSVPort("abc");
    QCOMPARE(stars.getServerPort(), quint16(0));
    stars.SetNewSVAddress("example.invalid"); // before any attempt: stored only
    QCOMPARE(stars.getServerAddress(), QStringLiteral("example.invalid"));
}

void tst_Stars::lossOfConnectionIsSignalled()
{
    FakeServer server;
    std::unique_ptr<Stars> stars(loggedIn(server));
    QSignalSpy gone(stars.get(), &Stars::Disconnected);
    server.peer->close();
    QTRY_COMPARE_WITH_TIMEOUT(gone.size(), 1, 5000);
}

void tst_Stars::writingWithoutConnectionIsHarmless()
{
    Stars stars;
    SMsg msg;
    msg.Parse("a>b GetTemp");
    stars.SendReply(msg, "@GetTemp 1 2");
    stars.SendEvent("b", "_ChangedIsBusy 1");
    stars.ReConnect(); // no socket yet: nothing to reset
}

void tst_Stars::serverThatDoesNotReadIsDropped()
{
    FakeServer server;
    std::unique_ptr<Stars> stars(loggedIn(server));
    QSignalSpy gone(stars.get(), &Stars::Disconnected);
    SMsg msg;
    msg.Parse("term1>cam1 GetModel");
    const QString text = QStringLiteral("@GetModel ") + QString(200, QLatin1Char('x'));
    // Without the event loop nothing leaves the process: 40 MB of replies.
    QTest::ignoreMessage(QtDebugMsg,
                         QRegularExpression("^The server reads nothing: 1677\\d{4} bytes, about 7\\d{4} lines, wait"));
    for (int i = 0; i < 200000; ++i)
        stars->SendReply(msg, text);
    // Dropped at the bound, never an open connection that lost lines.
    QCOMPARE(gone.size(), 1);
    QCOMPARE(stars->pendingWriteBytes(), qint64(0));
    QVERIFY(stars->droppedLineCount() > 100000);
    QTRY_COMPARE_WITH_TIMEOUT(server.peer->state(), QAbstractSocket::UnconnectedState, 5000);
}

void tst_Stars::livenessOptionsOnTheSocket_data()
{
    QTest::addColumn<int>("idle"); // 0: not set, the defaults
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("defaults") << 0 << 0 << true;
    QTest::newRow("chosen") << 5 << 30 << true;
    QTest::newRow("out of range: defaults kept") << 5 << 3601 << false;
}

void tst_Stars::livenessOptionsOnTheSocket()
{
    QFETCH(int, idle);
    QFETCH(int, timeout);
    QFETCH(bool, accepted);
    writeKeys("cam1", "k0");
    FakeServer server;
    Stars stars;
    if (idle || timeout)
        QCOMPARE(stars.setLiveness(idle, timeout), accepted);
    if (!accepted || (!idle && !timeout)) {
        idle = 20;
        timeout = 60;
    }
    connectClient(stars, server);
    QVERIFY(server.waitPeer());
    QTRY_VERIFY_WITH_TIMEOUT(stars.socketDescriptor() >= 0, 5000);
    const int fd = int(stars.socketDescriptor());
    auto option = [fd](int level, int name) {
        int value = -1;
        socklen_t size = sizeof(value);
        return getsockopt(fd, level, name, &value, &size) == 0 ? value : -1;
    };
    // Set once the client sees the connection made.
    QTRY_COMPARE_WITH_TIMEOUT(option(SOL_SOCKET, SO_KEEPALIVE), 1, 5000);
    QCOMPARE(option(IPPROTO_TCP, TCP_KEEPIDLE), idle);
    QCOMPARE(option(IPPROTO_TCP, TCP_KEEPINTVL), Stars::KeepAliveIntervalS);
    QCOMPARE(option(IPPROTO_TCP, TCP_KEEPCNT), Stars::KeepAliveProbes);
    QCOMPARE(option(IPPROTO_TCP, TCP_USER_TIMEOUT), timeout * 1000);
}

void tst_Stars::logInVerdict_data()
{
    QTest::addColumn<QByteArray>("verdict");
    QTest::addColumn<int>("refusals");    // logInRefused signals
    QTest::addColumn<int>("connections"); // made to the server in all
    QTest::newRow("accepted") << QByteArray("System>cam1 Ok:") << 0 << 1;
    QTest::newRow("wrong key") << QByteArray("System>cam1 Er: Bad node name or key") << 1 << 1;
    QTest::newRow("host not allowed") << QByteArray("System>cam1 Er: Bad host for cam1") << 1 << 1;
    QTest::newRow("host refused in plain text") << QByteArray("Bad host. 127.0.0.1") << 1 << 1;
    QTest::newRow("old connection still known") << QByteArray("System>cam1 Er: cam1 already exists.") << 0 << 2;
}

void tst_Stars::logInVerdict()
{
    QFETCH(QByteArray, verdict);
    QFETCH(int, refusals);
    QFETCH(int, connections);
    writeKeys("cam1", "k0");
    FakeServer server;
    Stars stars;
    QSignalSpy refused(&stars, &Stars::logInRefused);
    QSignalSpy ready(&stars, &Stars::ConnectionIsReady);
    QSignalSpy gone(&stars, &Stars::Disconnected);
    connectClient(stars, server);
    QVERIFY(server.waitPeer());
    server.send("0\n");
    QCOMPARE(server.lines(1), QList<QByteArray>{"cam1 k0"});
    server.send(verdict + "\n");
    // A retry comes after a second; a refusal stays one.
    QTRY_COMPARE_WITH_TIMEOUT(server.connections, connections, 5000);
    QTest::qWait(connections > 1 ? 100 : 1500);
    QCOMPARE(server.connections, connections);
    QCOMPARE(refused.size(), refusals);
    QCOMPARE(ready.size(), connections == 1 && refusals == 0 ? 1 : 0);
    QCOMPARE(gone.size(), 0);
}

QTEST_GUILESS_MAIN(tst_Stars)
#include "tst_stars.moc"
