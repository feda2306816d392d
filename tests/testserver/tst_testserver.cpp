// The test STARS server and starsctl, driven through the shared fixture.

#include "KeyFile.h"
#include "NodeRunner.h"
#include "ServiceRig.h"
#include "TestWait.h"

#include <QFile>
#include <QTcpServer>
#include <QtTest>
#include <memory>

namespace {

const QStringList Keys{QStringLiteral("k0"), QStringLiteral("k1"), QStringLiteral("k2")};
const int LongWait = 10000;

} // namespace

Q_DECLARE_METATYPE(StarsTestServer::Faults)

// The rig's server, restarted for each test, with nodes of the test's own.
class TestServerTest : public ServiceRig
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void logIn_data();
    void logIn();
    void rejectsBadOptions_data();
    void rejectsBadOptions();
    void routesToLoggedInNode_data();
    void routesToLoggedInNode();
    void answersWhenNotRoutable_data();
    void answersWhenNotRoutable();
    void systemCommands_data();
    void systemCommands();
    void forwardsEventsToSubscribers();
    void disconnectClosesTheNode();
    void cutsLinesFromTheByteStream_data();
    void cutsLinesFromTheByteStream();
    void discardsOverlongLines_data();
    void discardsOverlongLines();
    void faultSwitches_data();
    void faultSwitches();
    void tracesLinesWhenVerbose();
    void endsCleanlyOnTerminate();

    void starsctlRunsSteps_data();
    void starsctlRunsSteps();
    void starsctlReadsStepsFromStandardInput();
    void starsctlFailsWithoutServer();
    void serviceProcessPreparesItsDirectory();
    void serviceProcessReportsAnEarlyExit();

private:
    std::unique_ptr<BusNode> logIn(const QString& node) { return logInNode(node, Keys); }
    // term1 sends the line with cam1 logged in; checks that term1 gets
    // `answer` (nothing, when empty) and cam1 nothing.
    void verifyAnswer(const QByteArray& sent, const QString& answer);
    // starsctl in a directory of its own with term1's key file, to the
    // server's port unless another is given.
    bool startCtl(NodeRunner& ctl, const QStringList& arguments, quint16 port = 0);
};

void TestServerTest::init()
{
    QVERIFY(startServer());
}

void TestServerTest::cleanup()
{
    stopRig();
}

bool TestServerTest::startCtl(NodeRunner& ctl, const QStringList& arguments, quint16 port)
{
    const QString portText = QString::number(port != 0 ? port : server->port());
    QString why;
    if (server->addKeys("term1", Keys) && ctl.writeKeyFile("term1")
        && ctl.start(QStringList{"--port", portText} + arguments, LongWait, &why))
        return true;
    qWarning().noquote() << "starsctl did not start:" << why;
    return false;
}

void TestServerTest::logIn_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QByteArray>("keyFile"); // null: no key file at all
    QTest::addColumn<int>("keyOffset");      // 0 answers with the right word
    QTest::addColumn<bool>("alreadyLoggedIn");
    QTest::addColumn<QString>("allowHost"); // --allow-host rule, if any
    QTest::addColumn<QString>("verdict");   // after "System>node "

    const QString bad = "Er: Bad node name or key";
    const QByteArray keys = "k0\nk1\nk2\n";
    QTest::newRow("right key") << "term1" << keys << 0 << false << ""
                               << "Ok:";
    QTest::newRow("one key per line, trimmed, empty lines skipped")
        << "term1" << QByteArray("\tk0\n\n  k1 \r\nk2") << 0 << false << ""
        << "Ok:";
    QTest::newRow("all keys on one line are one key") << "term1" << QByteArray("k0 k1 k2\n") << 0 << false << "" << bad;
    QTest::newRow("single key") << "term1" << QByteArray("only\n") << 0 << false << ""
                                << "Ok:";
    QTest::newRow("wrong key") << "term1" << keys << 1 << false << "" << bad;
    QTest::newRow("unknown node") << "term1" << QByteArray() << 0 << false << "" << bad;
    QTest::newRow("empty key file") << "term1" << QByteArray(" \n") << 0 << false << "" << bad;
    QTest::newRow("node already logged in") << "term1" << keys << 0 << true << ""
                                            << "Er: term1 already exists.";
    QTest::newRow("System is the server") << "System" << keys << 0 << false << "" << bad;
    QTest::newRow("sub-name") << "term1.ui" << keys << 0 << false << "" << bad;
    QTest::newRow("allowed host") << "term1" << keys << 0 << false << "term1=127.0.0.1"
                                  << "Ok:";
    QTest::newRow("host not allowed") << "term1" << keys << 0 << false << "term1=192.0.2.7"
                                      << "Er: Bad host for term1";
    QTest::newRow("rule for another node") << "term1" << keys << 0 << false << "cam1=192.0.2.7"
                                           << "Ok:";
    QTest::newRow("wrong key from a host not allowed") << "term1" << keys << 1 << false << "term1=192.0.2.7" << bad;
}

void TestServerTest::logIn()
{
    QFETCH(QString, node);
    QFETCH(QByteArray, keyFile);
    QFETCH(int, keyOffset);
    QFETCH(bool, alreadyLoggedIn);
    QFETCH(QString, allowHost);
    QFETCH(QString, verdict);
    const bool accepted = verdict == "Ok:";

    if (!allowHost.isEmpty()) {
        newServer().setExtraArguments({"--allow-host", allowHost});
        QVERIFY(startServer());
    }
    if (!keyFile.isNull()) {
        QFile file(server->keyDir() + QLatin1Char('/') + node + QStringLiteral(".key"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(keyFile);
    }
    std::unique_ptr<BusNode> first;
    if (alreadyLoggedIn) {
        first = std::make_unique<BusNode>();
        QVERIFY(first->login(server->port(), node, QString::fromLatin1(keyFile).simplified().split(' '), LongWait));
    }

    BusNode bus;
    QVERIFY(bus.connectTo(server->port()));
    bool ok = false;
    const int number = bus.nextLine(LongWait).toInt(&ok);
    QVERIFY(ok);
    QVERIFY(number >= 0 && number <= 9999);
    QStringList keys = QString::fromLatin1(keyFile).simplified().split(' ', Qt::SkipEmptyParts);
    if (keys.isEmpty())
        keys << QStringLiteral("k0");
    QString key;
    QString why;
    QVERIFY2(chooseKey(keys, number + keyOffset, key, why), qPrintable(why));
    bus.send(node + ' ' + key);

    QCOMPARE(bus.nextLine(LongWait), QStringLiteral("System>%1 %2").arg(node, verdict));
    if (!accepted)
        QVERIFY(bus.waitForDisconnected(LongWait));

    auto checker = logIn(QStringLiteral("checker"));
    QVERIFY(checker);
    const QString nodes = checker->request("System", "listnodes");
    QStringList expected;
    if (alreadyLoggedIn || accepted)
        expected << node;
    expected << QStringLiteral("checker");
    QCOMPARE(nodes, QStringLiteral("System>checker @listnodes ") + expected.join(' '));
}

void TestServerTest::rejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("address on a network") << QStringList{"--host", "192.0.2.1"} << "loopback";
    QTest::newRow("no address") << QStringList{"--host", "nowhere"} << "loopback";
    QTest::newRow("port out of range") << QStringList{"--port", "70000"} << "bad port";
    QTest::newRow("port not a number") << QStringList{"--port", "x"} << "bad port";
    QTest::newRow("missing key directory") << QStringList{"--keydir", "/nonexistent/keys"} << "does not exist";
    QTest::newRow("host rule without a host") << QStringList{"--allow-host", "term1"} << "NODE=HOST";
}

void TestServerTest::rejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, complaint);

    // The bare program: StarsTestServer passes a port and key directory of
    // its own and expects the server to come up.
    NodeRunner program(QStringLiteral(STARS_TESTSERVER_BIN), {});
    QString why;
    QVERIFY2(program.start(arguments, LongWait, &why), qPrintable(why));
    QVERIFY(program.process().waitForFinished(LongWait));
    QCOMPARE(program.process().exitCode(), 2);
    QVERIFY2(program.process().readAllStandardError().contains(complaint.toLatin1()), qPrintable(complaint));
    QCOMPARE(program.process().readAllStandardOutput(), QByteArray());
}

void TestServerTest::routesToLoggedInNode_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QByteArray>("delivered");

    QTest::newRow("command") << QByteArray("term1>cam1 GetTemp\n") << QByteArray("term1>cam1 GetTemp");
    QTest::newRow("sub-names on both sides")
        << QByteArray("term1.ui>cam1.ccd SetBin 2 2 1\n") << QByteArray("term1.ui>cam1.ccd SetBin 2 2 1");
    QTest::newRow("sender added when missing") << QByteArray("cam1 GetTemp\n") << QByteArray("term1>cam1 GetTemp");
    QTest::newRow("sender kept as written") << QByteArray("other>cam1 GetTemp\n") << QByteArray("other>cam1 GetTemp");
    QTest::newRow("carriage return dropped")
        << QByteArray("term1>cam1 GetTemp\r\n") << QByteArray("term1>cam1 GetTemp");
    QTest::newRow("reply") << QByteArray("term1>cam1 @GetTemp 20 20\n") << QByteArray("term1>cam1 @GetTemp 20 20");
    QTest::newRow("event to a node") << QByteArray("term1>cam1 _ChangedIsBusy 1\n")
                                     << QByteArray("term1>cam1 _ChangedIsBusy 1");
    QTest::newRow("bytes passed unchanged")
        << QByteArray("term1>cam1 SetName \xe9t\xc3\xa9 \x01\n") << QByteArray("term1>cam1 SetName \xe9t\xc3\xa9 \x01");
    QTest::newRow("blanks kept") << QByteArray("term1>cam1 SetBin  2 2 \n") << QByteArray("term1>cam1 SetBin  2 2 ");
}

void TestServerTest::routesToLoggedInNode()
{
    QFETCH(QByteArray, sent);
    QFETCH(QByteArray, delivered);

    auto term1 = logIn("term1");
    auto cam1 = logIn("cam1");
    QVERIFY(term1 && cam1);
    term1->sendRaw(sent);
    QCOMPARE(cam1->nextLine(LongWait), QString::fromLatin1(delivered));
    QVERIFY(term1->syncWithServer());
    QCOMPARE(term1->pendingLines(), QStringList());
}

void TestServerTest::answersWhenNotRoutable_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("answer"); // empty: none

    QTest::newRow("command") << QByteArray("term1>x GetTemp") << "System>term1 @GetTemp Er: x is down.";
    QTest::newRow("sub-names") << QByteArray("term1.ui>x.ccd SetBin 2 2 1")
                               << "System>term1.ui @SetBin 2 2 1 Er: x is down.";
    QTest::newRow("error answer") << QByteArray("term1>x Er: Undefined Command")
                                  << "System>term1 @Er: Undefined Command Er: x is down.";
    QTest::newRow("no sender written") << QByteArray("x GetTemp") << "System>term1 @GetTemp Er: x is down.";
    QTest::newRow("names are case-sensitive")
        << QByteArray("term1>Cam1 GetTemp") << "System>term1 @GetTemp Er: Cam1 is down.";
    QTest::newRow("prefix of a logged-in name")
        << QByteArray("term1>cam GetTemp") << "System>term1 @GetTemp Er: cam is down.";
    QTest::newRow("reply") << QByteArray("term1>x @GetTemp 20 20") << "";
    QTest::newRow("event") << QByteArray("term1>x _ChangedIsBusy 1") << "";
    QTest::newRow("empty line") << QByteArray("") << "";
    QTest::newRow("empty sender") << QByteArray(">x GetTemp") << "System>term1> @";
    QTest::newRow("empty receiver") << QByteArray("term1> GetTemp") << "System>term1> @";
    QTest::newRow("no command") << QByteArray("term1>cam1") << "System>term1> @";
    QTest::newRow("single word") << QByteArray("GetTemp") << "System>term1> @";
}

void TestServerTest::answersWhenNotRoutable()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, answer);

    verifyAnswer(sent, answer);
}

void TestServerTest::verifyAnswer(const QByteArray& sent, const QString& answer)
{
    auto term1 = logIn("term1");
    auto cam1 = logIn("cam1");
    QVERIFY(term1 && cam1);
    term1->sendRaw(sent + '\n');
    // The server handles a node's lines in order: whatever it answers comes
    // before the reply to the round trip.
    QVERIFY(term1->syncWithServer());
    QCOMPARE(term1->pendingLines(), answer.isEmpty() ? QStringList() : QStringList{answer});
    QVERIFY(cam1->syncWithServer());
    QCOMPARE(cam1->pendingLines(), QStringList());
}

void TestServerTest::systemCommands_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("answer"); // empty: none

    QTest::newRow("listnodes in log-in order")
        << QByteArray("term1>System listnodes") << "System>term1 @listnodes term1 cam1";
    QTest::newRow("sender written with sub-name")
        << QByteArray("term1.ui>System listnodes") << "System>term1.ui @listnodes term1 cam1";
    QTest::newRow("System with sub-name")
        << QByteArray("term1>System.x listnodes") << "System>term1 @listnodes term1 cam1";
    QTest::newRow("unknown command") << QByteArray("term1>System bogus 1 2")
                                     << "System>term1 @bogus Er: Command is not found or not available.";
    QTest::newRow("System is case-sensitive")
        << QByteArray("term1>system listnodes") << "System>term1 @listnodes Er: system is down.";
    QTest::newRow("flgon") << QByteArray("term1>System flgon cam1") << "System>term1 @flgon Ok:";
    QTest::newRow("flgoff") << QByteArray("term1>System flgoff cam1") << "System>term1 @flgoff Ok:";
    QTest::newRow("flgon without node") << QByteArray("term1>System flgon")
                                        << "System>term1 @flgon Er: Node name is missing or not single.";
    QTest::newRow("disconnect absent node")
        << QByteArray("term1>System disconnect x") << "System>term1 @disconnect Er: x is down.";
    QTest::newRow("reply to System") << QByteArray("term1>System @listnodes a b") << "";
    QTest::newRow("event nobody subscribed to") << QByteArray("term1>System _ChangedIsBusy 1") << "";
}

void TestServerTest::systemCommands()
{
    QFETCH(QByteArray, sent);
    QFETCH(QString, answer);

    verifyAnswer(sent, answer);
}

void TestServerTest::forwardsEventsToSubscribers()
{
    auto term1 = logIn("term1");
    auto term2 = logIn("term2");
    auto cam1 = logIn("cam1");
    QVERIFY(term1 && term2 && cam1);
    QCOMPARE(term1->request("System", "flgon cam1"), QStringLiteral("System>term1 @flgon Ok:"));
    QCOMPARE(term2->request("System", "flgon term1"), QStringLiteral("System>term2 @flgon Ok:"));

    // Events of cam1 reach its subscriber only; other lines to System are not events.
    cam1->send("cam1>System _ChangedIsBusy 1");
    cam1->send("cam1.ccd>System _ChangedTemp -10");
    cam1->send("cam1>System listnodes");
    QCOMPARE(cam1->nextLine(LongWait), QStringLiteral("System>cam1 @listnodes term1 term2 cam1"));
    QVERIFY(term1->syncWithServer());
    QCOMPARE(term1->pendingLines(), (QStringList{"cam1>System _ChangedIsBusy 1", "cam1.ccd>System _ChangedTemp -10"}));
    term1->clearPending();
    QVERIFY(term2->syncWithServer());
    QCOMPARE(term2->pendingLines(), QStringList());

    // The subscription outlives a restart of the watched node.
    cam1.reset();
    QVERIFY(TestWait::until([&] { return !term1->request("System", "listnodes").contains("cam1"); }, LongWait));
    cam1 = logIn("cam1");
    QVERIFY(cam1);
    cam1->send("cam1>System _ChangedIsBusy 0");
    QCOMPARE(term1->nextLine(LongWait), QStringLiteral("cam1>System _ChangedIsBusy 0"));

    // A subscriber that leaves gets nothing more and its name is free again.
    term1.reset();
    QVERIFY(TestWait::until([&] { return !cam1->request("System", "listnodes").contains("term1"); }, LongWait));
    term1 = logIn("term1");
    QVERIFY(term1);
    cam1->send("cam1>System _ChangedIsBusy 1");
    QVERIFY(cam1->syncWithServer());
    QVERIFY(term1->syncWithServer());
    QCOMPARE(term1->pendingLines(), QStringList());

    // flgoff ends it.
    QCOMPARE(term1->request("System", "flgon cam1"), QStringLiteral("System>term1 @flgon Ok:"));
    QCOMPARE(term1->request("System", "flgoff cam1"), QStringLiteral("System>term1 @flgoff Ok:"));
    cam1->send("cam1>System _ChangedIsBusy 0");
    QVERIFY(cam1->syncWithServer());
    QVERIFY(term1->syncWithServer());
    QCOMPARE(term1->pendingLines(), QStringList());
}

void TestServerTest::disconnectClosesTheNode()
{
    auto term1 = logIn("term1");
    auto cam1 = logIn("cam1");
    QVERIFY(term1 && cam1);
    QCOMPARE(term1->request("System", "disconnect cam1"), QStringLiteral("System>term1 @disconnect Ok:"));
    QVERIFY(cam1->waitForDisconnected(LongWait));
    QCOMPARE(term1->request("System", "listnodes"), QStringLiteral("System>term1 @listnodes term1"));
    QCOMPARE(term1->request("cam1", "GetTemp"), QStringLiteral("System>term1 @GetTemp Er: cam1 is down."));

    cam1 = logIn("cam1");
    QVERIFY(cam1);
    QCOMPARE(term1->request("System", "listnodes"), QStringLiteral("System>term1 @listnodes term1 cam1"));

    // A node may throw itself out; the answer still reaches it first.
    cam1->send("cam1>System disconnect cam1");
    QCOMPARE(cam1->nextLine(LongWait), QStringLiteral("System>cam1 @disconnect Ok:"));
    QVERIFY(cam1->waitForDisconnected(LongWait));
}

void TestServerTest::cutsLinesFromTheByteStream_data()
{
    QTest::addColumn<QByteArrayList>("writes");
    QTest::addColumn<QStringList>("delivered");

    QTest::newRow("one line in three writes")
        << QByteArrayList{"term1>ca", "m1 Get", "Temp\n"} << QStringList{"term1>cam1 GetTemp"};
    QTest::newRow("one byte a write") << QByteArrayList{"t", "e", "r", "m", "1", ">",  "c",
                                                        "a", "m", "1", " ", "X", "\r", "\n"}
                                      << QStringList{"term1>cam1 X"};
    QTest::newRow("two lines in one write")
        << QByteArrayList{"term1>cam1 A\nterm1>cam1 B\n"} << QStringList{"term1>cam1 A", "term1>cam1 B"};
    QTest::newRow("end of one line with the start of the next")
        << QByteArrayList{"term1>cam1 A", "\nterm1>cam1 B", "\n"} << QStringList{"term1>cam1 A", "term1>cam1 B"};
    QTest::newRow("carriage return and line feed apart")
        << QByteArrayList{"term1>cam1 A\r", "\n"} << QStringList{"term1>cam1 A"};
}

void TestServerTest::cutsLinesFromTheByteStream()
{
    QFETCH(QByteArrayList, writes);
    QFETCH(QStringList, delivered);

    auto term1 = logIn("term1");
    auto cam1 = logIn("cam1");
    QVERIFY(term1 && cam1);
    for (const QByteArray& bytes : writes) {
        term1->sendRaw(bytes);
        // Give each write the chance to arrive on its own.
        QTest::qWait(10);
    }
    QVERIFY(term1->syncWithServer());
    QVERIFY(cam1->syncWithServer());
    QCOMPARE(cam1->pendingLines(), delivered);
}

void TestServerTest::discardsOverlongLines_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("writes");
    QTest::addColumn<bool>("delivered");

    QTest::newRow("just under the limit, one write") << 64 * 1024 - 100 << 1 << true;
    QTest::newRow("just under the limit, many writes") << 64 * 1024 - 100 << 16 << true;
    QTest::newRow("over the limit, one write") << 64 * 1024 + 100 << 1 << false;
    QTest::newRow("far over the limit, many writes") << 1024 * 1024 << 64 << false;
}

void TestServerTest::discardsOverlongLines()
{
    QFETCH(int, length);
    QFETCH(int, writes);
    QFETCH(bool, delivered);

    auto term1 = logIn("term1");
    auto cam1 = logIn("cam1");
    QVERIFY(term1 && cam1);
    const QByteArray head = "term1>cam1 Set ";
    const QByteArray line = head + QByteArray(length - head.size(), 'x');
    const int chunk = (line.size() + writes - 1) / writes;
    for (int at = 0; at < line.size(); at += chunk) {
        term1->sendRaw(line.mid(at, chunk));
        QTest::qWait(5);
    }
    term1->sendRaw("\nterm1>cam1 After\n");
    QVERIFY(term1->syncWithServer());
    QVERIFY(cam1->syncWithServer());
    QStringList expected{"term1>cam1 After"};
    if (delivered)
        expected.prepend(QString::fromLatin1(line));
    QCOMPARE(cam1->pendingLines(), expected);
    QCOMPARE(term1->pendingLines(), QStringList());
}

void TestServerTest::faultSwitches_data()
{
    QTest::addColumn<StarsTestServer::Faults>("faults");
    QTest::addColumn<bool>("rightKey");
    QTest::addColumn<QStringList>("verdicts");
    QTest::addColumn<bool>("loggedIn");

    const QString ok = QStringLiteral("System>term1 Ok:");
    const QString refused = QStringLiteral("System>term1 Er: Bad node name or key");
    using F = StarsTestServer;
    QTest::newRow("none") << F::Faults(F::NoFault) << true << QStringList{ok} << true;
    QTest::newRow("no verdict") << F::Faults(F::NoVerdict) << true << QStringList{} << true;
    QTest::newRow("no verdict, wrong key") << F::Faults(F::NoVerdict) << false << QStringList{} << false;
    QTest::newRow("double verdict") << F::Faults(F::DoubleVerdict) << true << QStringList{ok, ok} << true;
    QTest::newRow("double verdict, wrong key")
        << F::Faults(F::DoubleVerdict) << false << QStringList{refused, refused} << false;
    QTest::newRow("drop after key") << F::Faults(F::DropAfterKey) << true << QStringList{} << false;
}

void TestServerTest::faultSwitches()
{
    QFETCH(StarsTestServer::Faults, faults);
    QFETCH(bool, rightKey);
    QFETCH(QStringList, verdicts);
    QFETCH(bool, loggedIn);

    newServer(faults);
    QVERIFY(startServer());
    QVERIFY(server->addKeys("term1", Keys));
    BusNode bus;
    QVERIFY(bus.connectTo(server->port()));
    bool ok = false;
    const int number = bus.nextLine(LongWait).toInt(&ok);
    QVERIFY(ok);
    // The key and a question in one go: whatever comes before the answer is the verdict.
    bus.send("term1 " + Keys.at((number + (rightKey ? 0 : 1)) % Keys.size()) + "\nterm1>System listnodes");
    if (loggedIn) {
        QVERIFY(!bus.waitForLine([](const QString& line) { return line.contains("@listnodes"); }, LongWait).isNull());
        QCOMPARE(bus.pendingLines(), verdicts);
    } else {
        QVERIFY(bus.waitForDisconnected(LongWait));
        QTRY_COMPARE_WITH_TIMEOUT(bus.pendingLines(), verdicts, LongWait);
    }
}

void TestServerTest::tracesLinesWhenVerbose()
{
    newServer().setVerbose(true);
    QVERIFY(startServer());
    auto term1 = logIn("term1");
    auto cam1 = logIn("cam1");
    QVERIFY(term1 && cam1);
    term1->send("term1>cam1 GetTemp");
    QCOMPARE(cam1->nextLine(LongWait), QStringLiteral("term1>cam1 GetTemp"));
    term1->sendRaw(QByteArray(70 * 1024, 'x') + '\n');
    QVERIFY(term1->syncWithServer());
    QTRY_VERIFY_WITH_TIMEOUT(server->output().contains("-> term1: System>term1 @Sync"), LongWait);
    const QString output = server->output();
    QVERIFY2(output.startsWith("listening 127.0.0.1 "), qPrintable(output));
    QVERIFY2(output.contains("\nterm1 -> term1>cam1 GetTemp\n"), qPrintable(output));
    QVERIFY2(output.contains("\n-> cam1: term1>cam1 GetTemp\n"), qPrintable(output));
    QVERIFY2(output.contains("discard"), qPrintable(output));
}

void TestServerTest::endsCleanlyOnTerminate()
{
    auto term1 = logIn("term1");
    QVERIFY(term1);
    QVERIFY(server->terminate());
    QVERIFY(term1->waitForDisconnected(LongWait));
}

// starsctl against the server, with a node in the test playing the target.
void TestServerTest::starsctlRunsSteps_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("script"); // "<line" cam1 expects, ">line" cam1 sends,
                                             // "=line" cam2 sends, "~" waits for term1 to log in
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("printed");
    QTest::addColumn<QString>("complaint");

    QTest::newRow("command and reply") << QStringList{"GetTemp"}
                                       << QStringList{"<term1>cam1 GetTemp", ">cam1>term1 @GetTemp 20 20"} << 0
                                       << QStringList{"> term1>cam1 GetTemp", "< cam1>term1 @GetTemp 20 20"} << "";
    QTest::newRow("other lines printed while waiting")
        << QStringList{"SetBin 2 2 1"}
        << QStringList{"<term1>cam1 SetBin 2 2 1", ">cam1>term1 _Hello 1", ">cam1>term1 @GetTemp 1",
                       ">cam1>term1 @SetBin Ok:"}
        << 0 << QStringList{"< cam1>term1 _Hello 1", "< cam1>term1 @GetTemp 1", "< cam1>term1 @SetBin Ok:"} << "";
    QTest::newRow("subscribe and wait for an event")
        << QStringList{"--subscribe", "StartExposure 1", "wait _ChangedIsBusy 0"}
        << QStringList{"<term1>cam1 StartExposure 1", ">cam1>System _ChangedIsBusy 1",
                       ">cam1>term1 @StartExposure Ok:", ">cam1>System _ChangedIsBusy 0"}
        << 0 << QStringList{"> term1>System flgon cam1", "< cam1>System _ChangedIsBusy 0"} << "";
    QTest::newRow("event overtaking the reply")
        << QStringList{"--subscribe", "StartExposure 0", "wait _ChangedIsBusy 0"}
        << QStringList{"<term1>cam1 StartExposure 0", ">cam1>System _ChangedIsBusy 0", ">cam1>term1 @StartExposure Ok:"}
        << 0 << QStringList{"< cam1>term1 @StartExposure Ok:"} << "";
    QTest::newRow("event before the last command does not count")
        << QStringList{"--subscribe", "--timeout", "2", "A", "B", "wait _Done"}
        << QStringList{"<term1>cam1 A", ">cam1>System _Done", ">cam1>term1 @A Ok:", "<term1>cam1 B",
                       ">cam1>term1 @B Ok:"}
        << 2 << QStringList{"< cam1>System _Done"} << "_Done";
    QTest::newRow("event with other parameters does not count")
        << QStringList{"--timeout", "2", "wait _Done"} << QStringList{"~", ">cam1>term1 _Done 1"} << 2
        << QStringList{"< cam1>term1 _Done 1"} << "_Done";
    QTest::newRow("event from another node does not count")
        << QStringList{"--timeout", "2", "wait _Done"} << QStringList{"~", "=cam2>term1 _Done", "=cam2>System _Done"}
        << 2 << QStringList{"< cam2>term1 _Done"} << "_Done";
    QTest::newRow("event from a sub-name of the target")
        << QStringList{"wait _Done  1"} << QStringList{"~", ">cam1.ccd>term1 _Done 1"} << 0
        << QStringList{"< cam1.ccd>term1 _Done 1"} << "";
    QTest::newRow("no reply") << QStringList{"--timeout", "1", "GetTemp"} << QStringList{"<term1>cam1 GetTemp"} << 2
                              << QStringList{"> term1>cam1 GetTemp"} << "@GetTemp";
    QTest::newRow("target down") << QStringList{"--to", "cam9", "GetTemp"} << QStringList{} << 1
                                 << QStringList{"< System>term1 @GetTemp Er: cam9 is down."} << "";
    // An error answer ends its step at once; the run goes on and ends with 1.
    QTest::newRow("unknown command answered with Er:")
        << QStringList{"--timeout", "30", "GetTmp", "GetTemp"}
        << QStringList{"<term1>cam1 GetTmp", ">cam1>term1 Er: Undefined Command", "<term1>cam1 GetTemp",
                       ">cam1>term1 @GetTemp 20 20"}
        << 1 << QStringList{"< cam1>term1 Er: Undefined Command", "< cam1>term1 @GetTemp 20 20"} << "";
    QTest::newRow("refusal with Err:") << QStringList{"SetTemp x"}
                                       << QStringList{"<term1>cam1 SetTemp x",
                                                      ">cam1>term1 @SetTemp Err: Set Temperature"}
                                       << 1 << QStringList{"< cam1>term1 @SetTemp Err: Set Temperature"} << "";
    QTest::newRow("unknown option") << QStringList{"--frob", "GetTemp"} << QStringList{} << 64 << QStringList{}
                                    << "frob";
    QTest::newRow("wait without an event")
        << QStringList{"wait"} << QStringList{} << 64 << QStringList{} << "needs the text of an event";
    QTest::newRow("quiet") << QStringList{"--quiet", "GetTemp", "GetBin"}
                           << QStringList{"<term1>cam1 GetTemp", ">cam1>term1 _Event", ">cam1>term1 @GetTemp 20 20",
                                          "<term1>cam1 GetBin", ">cam1>term1 @GetBin 1 1"}
                           << 0 << QStringList{"@GetTemp 20 20\n@GetBin 1 1\n"} << "";
    QTest::newRow("wrong key") << QStringList{"--keyfile", "wrong.key", "GetTemp"} << QStringList{} << 2
                               << QStringList{} << "refused";
    QTest::newRow("no key file") << QStringList{"--node", "term9", "GetTemp"} << QStringList{} << 2 << QStringList{}
                                 << "term9.key";
}

void TestServerTest::starsctlRunsSteps()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, script);
    QFETCH(int, exitCode);
    QFETCH(QStringList, printed);
    QFETCH(QString, complaint);

    auto cam1 = logIn("cam1");
    auto cam2 = logIn("cam2");
    QVERIFY(cam1 && cam2);
    NodeRunner ctl(QStringLiteral(STARSCTL_BIN), Keys);
    QVERIFY(ctl.writeFile("wrong.key", "not-a-key\n"));
    QVERIFY(startCtl(ctl, arguments));
    for (const QString& step : script) {
        if (step.startsWith('<'))
            QCOMPARE(cam1->nextLine(LongWait), step.mid(1));
        else if (step == "~")
            QVERIFY(TestWait::until([&] { return cam1->request("System", "listnodes").contains("term1"); }, LongWait));
        else if (step.startsWith('>'))
            cam1->send(step.mid(1));
        else
            cam2->send(step.mid(1));
    }
    QVERIFY(TestWait::until([&] { return !ctl.isRunning(); }, 3 * LongWait));
    const QString out = QString::fromUtf8(ctl.process().readAllStandardOutput());
    const QString err = QString::fromUtf8(ctl.process().readAllStandardError());
    QCOMPARE(ctl.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(ctl.process().exitCode() == exitCode, qPrintable(out + err));
    if (arguments.contains("--quiet")) {
        QCOMPARE(out, printed.join(QString()));
    } else {
        for (const QString& line : printed)
            QVERIFY2(out.contains(line + '\n'), qPrintable(out));
    }
    if (complaint.isEmpty())
        QCOMPARE(err, QString());
    else
        QVERIFY2(err.contains(complaint), qPrintable(err));
}

void TestServerTest::starsctlReadsStepsFromStandardInput()
{
    auto cam1 = logIn("cam1");
    QVERIFY(cam1);
    NodeRunner ctl(QStringLiteral(STARSCTL_BIN), Keys);
    QVERIFY(startCtl(ctl, {}));
    ctl.process().write("GetTemp\n\n# a comment\n");
    QCOMPARE(cam1->nextLine(LongWait), QStringLiteral("term1>cam1 GetTemp"));
    cam1->send("cam1>term1 @GetTemp 20 20");
    ctl.process().write("  wait _Done 1\nSetTemp -10");
    ctl.process().closeWriteChannel();
    cam1->send("cam1>term1 _Done 1");
    QCOMPARE(cam1->nextLine(LongWait), QStringLiteral("term1>cam1 SetTemp -10"));
    cam1->send("cam1>term1 @SetTemp Ok:");
    QVERIFY(TestWait::until([&] { return !ctl.isRunning(); }, LongWait));
    const QString out = QString::fromUtf8(ctl.process().readAllStandardOutput());
    QVERIFY2(ctl.process().exitCode() == 0, qPrintable(out + ctl.process().readAllStandardError()));
    QVERIFY2(out.endsWith("> term1>cam1 SetTemp -10\n< cam1>term1 @SetTemp Ok:\n"), qPrintable(out));
}

void TestServerTest::starsctlFailsWithoutServer()
{
    // A port that was free a moment ago.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();

    NodeRunner ctl(QStringLiteral(STARSCTL_BIN), Keys);
    QVERIFY(startCtl(ctl, {"GetTemp"}, port));
    QVERIFY(ctl.process().waitForFinished(LongWait));
    QCOMPARE(ctl.process().exitCode(), 2);
    QVERIFY(ctl.process().readAllStandardError().contains("cannot connect"));
}

// The service fixture, with starsctl standing in for the service: it logs in
// as cam1 with the key file the fixture wrote.
void TestServerTest::serviceProcessPreparesItsDirectory()
{
    ServiceProcess standIn(*server);
    standIn.setProgram(QStringLiteral(STARSCTL_BIN));
    standIn.setArguments({"--port", QString::number(server->port()), "--node", "cam1", "--to", "System", "--timeout",
                          "60", "wait _Never"});
    QVERIFY(standIn.start());
    QVERIFY(standIn.waitForLogin());
    QCOMPARE(standIn.files(), (QStringList{"cam1.key", "config.cfg"}));
    QFile config(standIn.filePath("config.cfg"));
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLatin1(config.readAll()),
             QStringLiteral("CAMERA_LIBRARY sim\nKEY_FILE_NAME cam1\nNAME_ON_STARS cam1\nSTARS_IP 127.0.0.1\n"
                            "STARS_PORT %1\n")
                 .arg(server->port()));

    auto term1 = logIn("term1");
    QVERIFY(term1);
    QCOMPARE(term1->request("System", "listnodes"), QStringLiteral("System>term1 @listnodes cam1 term1"));
    standIn.terminate();
    QVERIFY(standIn.waitForExit());
    QVERIFY(!standIn.isRunning());
}

void TestServerTest::serviceProcessReportsAnEarlyExit()
{
    ServiceProcess standIn(*server);
    standIn.setProgram(QStringLiteral(STARSCTL_BIN));
    standIn.setConfigText("# hand-written\nNAME_ON_STARS  cam7 extra\n");
    standIn.setWithoutKeyFile();
    standIn.setArguments({"--port", QString::number(server->port()), "--node", "cam7", "GetTemp"});
    QVERIFY(standIn.start());
    QVERIFY(!standIn.waitForLogin());
    QVERIFY(standIn.waitForExit());
    QCOMPARE(standIn.exitCode(), 2);
    QVERIFY2(standIn.log().contains("cam7.key"), qPrintable(standIn.log()));
    QCOMPARE(standIn.nodeName(), QStringLiteral("cam7"));
    QCOMPARE(standIn.files(), QStringList{"config.cfg"});
    // The node name from the hand-written text got the keys on the server.
    QVERIFY(QFile::exists(server->keyDir() + "/cam7.key"));
}

QTEST_GUILESS_MAIN(TestServerTest)
#include "tst_testserver.moc"
