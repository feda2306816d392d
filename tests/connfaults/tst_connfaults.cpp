// Faults of the bus connection: the server closing it during the log-in,
// during a read-out and during a sequence, never answering the key, sending
// its verdict twice, refusing the log-in, coming up late or going away for a
// while; and the stop signals. The service ends with status 0 when the
// connection goes (2 when its configuration is refused), never hangs or
// crashes, and otherwise keeps serving. Every case runs several times: a race
// shows up only now and then.
#include "ServiceRig.h"
#include "TestWait.h"

#include <QTcpServer>
#include <QtTest>

namespace {

// The image files in the service's directory, without their metadata files.
QStringList imageFiles(const ServiceProcess& service)
{
    return service.files().filter(QRegularExpression("^DefaultFileName.*\\.dat$"));
}

constexpr int Runs = 3;
const QStringList quickSequence{"SetImages 20", "SetExpTime 200", "SetBin 4 4 4"};
constexpr qint64 quickImageBytes = 384 * 256 * 2;

void addRuns()
{
    QTest::addColumn<int>("run");
    for (int run = 1; run <= Runs; ++run)
        QTest::newRow(qPrintable(QStringLiteral("run %1").arg(run))) << run;
}

} // namespace

class tst_ConnFaults : public ServiceRig
{
    Q_OBJECT

private slots:
    void init() { withTerm = true; }
    void cleanup() { stopRig(); }
    void closedBeforeKeyNumber_data() { addRuns(); }
    void closedBeforeKeyNumber();
    void closedWhenKeyArrives_data() { addRuns(); }
    void closedWhenKeyArrives();
    void serverEnds_data() { addRuns(); }
    void serverEnds();
    void closedDuringReadOut_data() { addRuns(); }
    void closedDuringReadOut();
    void closedDuringSequence_data() { addRuns(); }
    void closedDuringSequence();
    void resetWhileAnswering_data() { addRuns(); }
    void resetWhileAnswering();
    void noVerdict_data();
    void noVerdict();
    void doubleVerdict_data() { addRuns(); }
    void doubleVerdict();
    void refusedLogIn_data();
    void refusedLogIn();
    void serverComesUpLater();
    void stopSignal_data();
    void stopSignal();
    void stayUpLogsInAgain();
    void stalledServerIsDropped();

private:
    // Waits for the end of the service and checks it is the orderly one.
    void verifyEndedWithStatusZero();
    // Applies the settings and starts an Exposure sequence.
    void startSequence(const QStringList& settings);
    // The images written so far, each checked to be whole.
    void verifyWholeImages(qint64 bytes, QStringList& images);
};

void tst_ConnFaults::startSequence(const QStringList& settings)
{
    for (const QString& setting : settings)
        QVERIFY2(askOk(setting), qPrintable(setting));
    term->send("term1>cam1 Exposure");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @Exposure Ok:"));
}

void tst_ConnFaults::verifyWholeImages(qint64 bytes, QStringList& images)
{
    images = imageFiles(*service);
    for (const QString& f : images)
        QVERIFY2(QFileInfo(service->filePath(f)).size() == bytes, qPrintable(f));
}

void tst_ConnFaults::verifyEndedWithStatusZero()
{
    QVERIFY2(service->waitForExit(20000), "the service did not end");
    QVERIFY2(service->exitStatus() == QProcess::NormalExit, qPrintable(service->log().right(3000)));
    QCOMPARE(service->exitCode(), 0);
}

void tst_ConnFaults::closedBeforeKeyNumber()
{
    // A server that takes the connection and closes it without a word.
    QVERIFY(startPeer(RawStarsPeer::Conduct::CloseAtOnce));
    QVERIFY(newService().start());
    verifyEndedWithStatusZero();
    QCOMPARE(peer->connectionCount(), 1);
}

void tst_ConnFaults::closedWhenKeyArrives()
{
    newServer(StarsTestServer::DropAfterKey);
    QVERIFY(startServer());
    QVERIFY(newService().start());
    verifyEndedWithStatusZero();
    QVERIFY2(service->log().contains("closed by the server"), qPrintable(service->log()));
}

void tst_ConnFaults::serverEnds()
{
    withTerm = false;
    QVERIFY(startServer());
    QVERIFY(startService());
    QVERIFY(server->terminate());
    verifyEndedWithStatusZero();
}

void tst_ConnFaults::closedDuringReadOut()
{
    // A full frame read at 2 ms a row takes about 2 s, during which the
    // service does nothing else; the server drops it meanwhile.
    QVERIFY(startServer());
    QVERIFY(startService({{"SIM_ROW_US", "2000"}}));
    QVERIFY(askOk("SetExpTime 0"));
    term->send("term1>cam1 Exposure");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @Exposure Ok:"));
    // The state trace says when the read-out begins.
    QVERIFY(TestWait::until([&] { return service->log().contains("Exp DownLoad"); }, 20000));
    QCOMPARE(term->request("System", "disconnect cam1"), QStringLiteral("System>term1 @disconnect Ok:"));
    verifyEndedWithStatusZero();

    // The image read before the loss was noticed is stored whole.
    QCOMPARE(imageFiles(*service), QStringList{"DefaultFileName0000-0000.dat"});
    QCOMPARE(QFileInfo(service->filePath("DefaultFileName0000-0000.dat")).size(), qint64(1536 * 1024 * 2));
    QVERIFY(term->receivesNothing(200)); // neither a reply nor the end of the sequence
}

void tst_ConnFaults::closedDuringSequence()
{
    QVERIFY(startServer());
    QVERIFY(startService());
    startSequence(quickSequence);
    // Between pictures: after the first one is stored.
    QVERIFY(TestWait::until([&] { return !imageFiles(*service).isEmpty(); }, 20000));
    QCOMPARE(term->request("System", "disconnect cam1"), QStringLiteral("System>term1 @disconnect Ok:"));
    verifyEndedWithStatusZero();
    QStringList images;
    verifyWholeImages(quickImageBytes, images);
    QVERIFY(!images.isEmpty() && images.size() < 20);
    // The picture under way was finished; the rest were counted, not taken.
    const QString log = service->log();
    const QRegularExpressionMatch left =
        QRegularExpression("finishing the picture in progress; (\\d+) picture\\(s\\)").match(log);
    QVERIFY2(left.hasMatch(), qPrintable(log.right(3000)));
    QCOMPARE(left.captured(1).toInt() + images.size(), 20);
    QVERIFY2(log.contains("line(s) could not be sent while not connected"), qPrintable(log.right(3000)));
}

void tst_ConnFaults::resetWhileAnswering()
{
    // A server that logs the node in, routes it thousands of requests at once
    // and resets the connection while the answers flow: writing to the dead
    // connection must not kill the service (SIGPIPE) or make it hang.
    QVERIFY(startPeer());
    int answers = 0;
    connect(peer.get(), &RawStarsPeer::loggedInNode, this, [&] {
        QByteArray flood;
        for (int i = 0; i < 20000; ++i)
            flood += "term1>cam1 GetTemp\n";
        peer->write(flood);
    });
    connect(peer.get(), &RawStarsPeer::lineReceived, this, [&] {
        if (++answers == 1000)
            peer->abort();
    });
    newService();
    QVERIFY(launchServiceOnPeer());
    QVERIFY2(TestWait::until([&] { return answers >= 1000 || !service->isRunning(); }, 20000),
             qPrintable(QStringLiteral("%1 answers").arg(answers)));
    QVERIFY(answers >= 1000);
    verifyEndedWithStatusZero();
}

void tst_ConnFaults::noVerdict_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QStringList>("answers"); // to the first line
    for (int run = 1; run <= Runs; ++run) {
        QTest::newRow(qPrintable(QStringLiteral("query, run %1").arg(run)))
            << "GetBin" << QStringList{"cam1>term1 @GetBin 1 1 1"};
    }
    QTest::newRow("exposure start") << "StartExposure" << QStringList{busy1, "cam1>term1 @StartExposure Ok:"};
    QTest::newRow("unknown command") << "Hello" << QStringList{"cam1>term1 Er: Undefined Command"};
}

void tst_ConnFaults::noVerdict()
{
    QFETCH(QString, first);
    QFETCH(QStringList, answers);
    newServer(StarsTestServer::NoVerdict);
    QVERIFY(startServer());
    QVERIFY(newService().start());

    // Logged in the server's way: no verdict comes, to us either.
    QVERIFY(server->addKeys("term1", termKeys));
    term = std::make_unique<BusNode>();
    QVERIFY(term->connectTo(server->port()));
    bool isNumber = false;
    term->nextLine().toInt(&isNumber);
    QVERIFY(isNumber);
    term->send("term1 " + termKeys.first());
    QVERIFY2(TestWait::until(
                 [&] {
                     term->send("term1>System listnodes");
                     const QString nodes = term->nextLine(2000);
                     return nodes.split(' ').contains("cam1") || !service->isRunning();
                 },
                 15000),
             qPrintable(service->log()));
    QVERIFY(service->isRunning());
    term->send("term1>System flgon cam1");
    QCOMPARE(term->nextLine(), QStringLiteral("System>term1 @flgon Ok:"));

    term->send("term1>cam1 " + first);
    for (const QString& answer : answers)
        QCOMPARE(term->nextLine(), answer);
    QVERIFY2(service->log().contains("No log-in answer from the server; serving its first line"),
             qPrintable(service->log()));
    term->send("term1>cam1 GetImages");
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @GetImages 1"));
    term->send("term1>cam1 IsBusy");
    QVERIFY(term->nextLine().startsWith("cam1>term1 @IsBusy "));
    QVERIFY(service->isRunning());
}

void tst_ConnFaults::doubleVerdict()
{
    newServer(StarsTestServer::DoubleVerdict).setVerbose(true);
    QVERIFY(startServer());
    withTerm = false;
    QVERIFY(startService());
    // The tester gets two verdicts as well: the second is its first line.
    term = logInNode("term1", termKeys);
    QVERIFY(term);
    QCOMPARE(term->nextLine(), QStringLiteral("System>term1 Ok:"));

    QCOMPARE(term->request("cam1", "GetBin"), QStringLiteral("cam1>term1 @GetBin 1 1 1"));
    QCOMPARE(term->request("cam1", "GetImages"), QStringLiteral("cam1>term1 @GetImages 1"));
    QVERIFY(term->syncWithServer());
    // Give a storm, if any, time to build up; then count what cam1 sent.
    QTest::qWait(300);
    QVERIFY(term->pendingLines().isEmpty());
    QStringList fromCam1;
    for (const QString& line : server->output().split('\n')) {
        if (line.startsWith("cam1 -> ") && !line.contains("listnodes"))
            fromCam1 << line.mid(8);
    }
    QCOMPARE(fromCam1,
             (QStringList{"cam1>System Er: Undefined Command", "cam1>term1 @GetBin 1 1 1", "cam1>term1 @GetImages 1"}));
    QVERIFY(service->isRunning());
}

void tst_ConnFaults::refusedLogIn_data()
{
    QTest::addColumn<QByteArray>("keyFile");
    QTest::newRow("wrong key") << QByteArray("notTheKey\n");
    QTest::newRow("no key in the file") << QByteArray(" \n");
}

void tst_ConnFaults::refusedLogIn()
{
    // Not mended by trying again: a configuration error, status 2.
    QFETCH(QByteArray, keyFile);
    QVERIFY(startServer());
    newService().setWithoutKeyFile();
    QVERIFY(service->writeFile("cam1.key", keyFile));
    QVERIFY(service->start());
    QVERIFY2(service->waitForExit(), qPrintable(service->log()));
    QCOMPARE(service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(service->exitCode(), 2);
    QVERIFY2(service->log().contains("Configuration error, not logging in again:"), qPrintable(service->log()));
}

void tst_ConnFaults::serverComesUpLater()
{
    {
        QTcpServer probe; // a free port, closed again
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        busPort = probe.serverPort();
    }
    newServer().setPort(busPort);
    QVERIFY(newService().start());
    QVERIFY2(TestWait::until([&] { return service->log().contains("Next attempt to reach"); }, 10000),
             qPrintable(service->log()));
    QVERIFY(startServer());
    QVERIFY2(service->waitForLogin(), qPrintable(service->log()));
}

void tst_ConnFaults::stopSignal_data()
{
    QTest::addColumn<QStringList>("settings"); // empty: no sequence
    QTest::addColumn<int>("imagesFirst");      // stored before the signal
    QTest::addColumn<QString>("logged");
    QTest::newRow("idle") << QStringList{} << 0 << "Stopping on SIGTERM: nothing was running";
    for (int run = 1; run <= Runs; ++run)
        QTest::newRow(qPrintable(QStringLiteral("between pictures, run %1").arg(run)))
            << quickSequence << 1 << "Stopping on SIGTERM: Exposure sequence abandoned: done ";
    QTest::newRow("long exposure") << QStringList{"SetExpTime 60000"} << 0 << "(exposure cancelled)";
}

void tst_ConnFaults::stopSignal()
{
    QFETCH(QStringList, settings);
    QFETCH(int, imagesFirst);
    QFETCH(QString, logged);
    withTerm = !settings.isEmpty();
    QVERIFY(startServer());
    QVERIFY(startService());
    if (!settings.isEmpty()) {
        startSequence(settings);
        QVERIFY(TestWait::until([&] { return imageFiles(*service).size() >= imagesFirst; }, 20000));
        QTest::qWait(100); // into the exposure or read-out of the next picture
    }
    service->terminate();
    verifyEndedWithStatusZero();
    QStringList images;
    verifyWholeImages(quickImageBytes, images);
    QVERIFY(images.size() < 20);
    if (settings.size() == 1)
        QVERIFY(images.isEmpty()); // the cancelled exposure left nothing
    QVERIFY2(service->log().contains(logged), qPrintable(service->log().right(3000)));
    if (!settings.isEmpty())
        QVERIFY2(!service->log().contains("nothing was running"), qPrintable(service->log().right(3000)));
}

void tst_ConnFaults::stayUpLogsInAgain()
{
    QVERIFY(startServer());
    QVERIFY(startService({{"STARS_STAY_UP", "1"}}));
    startSequence({"SetImages 8", "SetExpTime 300", "SetBin 4 4 4"});

    // The server goes away for a while and comes back where it was.
    QVERIFY(server->terminate());
    server->setPort(server->port());
    server->setVerbose(true);
    QVERIFY(server->start());
    QVERIFY2(service->waitForLogin(), qPrintable(service->log()));
    QVERIFY(service->isRunning());
    // Subscribers resynchronise on the busy state sent after the log-in.
    QVERIFY2(TestWait::until([&] { return server->output().contains("cam1>System _ChangedIsBusy "); }, 5000),
             qPrintable(server->output()));
    QVERIFY(logInTerm());
    QCOMPARE(ask("GetImages"), QStringLiteral("cam1>term1 @GetImages 8"));
    // The sequence ran on through the outage.
    QVERIFY(TestWait::until([&] { return ask("IsBusy") == "cam1>term1 @IsBusy 0"; }, 30000));
    QStringList images;
    verifyWholeImages(quickImageBytes, images);
    QCOMPARE(images.size(), 8);
    QVERIFY(service->isRunning());
}

void tst_ConnFaults::stalledServerIsDropped()
{
    // A server that logs the node in, routes it requests and never reads the
    // answers: at the output bound the connection is dropped, a lost one.
    QVERIFY(startPeer(RawStarsPeer::Conduct::StallAfterLogIn));
    newService();
    QVERIFY(launchServiceOnPeer());
    // Long replies reach the bound in a few thousand requests, so the test
    // stays short under sanitizers and on a loaded machine.
    peer->write("term1>cam1 SetFileName " + QByteArray(3900, 'x') + "\n");
    QByteArray requests;
    for (int i = 0; i < 2000; ++i)
        requests += "term1>cam1 GetFileName\n";
    QVERIFY(TestWait::until(
        [&] {
            if (peer->isConnected() && peer->bytesToWrite() < (1 << 20))
                peer->write(requests);
            return !service->isRunning();
        },
        60000));
    verifyEndedWithStatusZero();
    QVERIFY2(service->log().contains(QRegularExpression("The server reads nothing: \\d+ bytes, about \\d+ lines")),
             qPrintable(service->log().right(2000)));
}

QTEST_GUILESS_MAIN(tst_ConnFaults)
#include "tst_connfaults.moc"
