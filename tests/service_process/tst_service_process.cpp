// The service as a process: start-up from its configuration, log-in, and
// how it ends.
#include "ServiceRig.h"
#include "Version.h"

#include <QFileInfo>
#include <QtTest>

#include <algorithm>
#include <sys/stat.h>

// term1 is not subscribed: these cases watch the process, not the camera.
class tst_ServiceProcess : public ServiceRig
{
    Q_OBJECT

private slots:
    void initTestCase() { subscribeTerm = false; }
    void cleanup() { stopRig(); }
    void withoutConfigIdlesAndStaysOffTheBus();
    void withoutKeyFileExitsWithStatusOne();
    void defaultNamesAreQtTarn();
    void emptyNodeNameIsNotReplacedByDefault();
    void connectionLossEndsWithStatusZero();
    void logInRefusedByServerEndsWithStatusTwo();
    void unreachableServerIsLoggedAndTriedAgain();
    void answersToAnswersSettleAfterOneRound_data();
    void answersToAnswersSettleAfterOneRound();
    void onlyAddressAndPortConfiguredStillConnects();
    void commandLine_data();
    void commandLine();
    void oneOwnerPerNodeAndDirectory_data();
    void oneOwnerPerNodeAndDirectory();
    void configurationMistakes_data();
    void configurationMistakes();
    void refusedHost_data();
    void refusedHost();
    void shippedExamplesLogIn();
    void numberingContinuesAcrossRestart();
};

void tst_ServiceProcess::withoutConfigIdlesAndStaysOffTheBus()
{
    QVERIFY(startServer());
    newService();
    service->setWithoutConfigFile();
    QVERIFY(service->start());
    QVERIFY(!service->waitForLogin(1500));
    QVERIFY(service->isRunning());
    QVERIFY2(service->log().contains("Can not open [config.cfg]"), qPrintable(service->log()));
    QVERIFY(!service->log().contains("Stars Server"));
    QVERIFY(!service->log().contains("Lib Version"));
}

void tst_ServiceProcess::withoutKeyFileExitsWithStatusOne()
{
    QVERIFY(startServer());
    newService();
    service->setWithoutKeyFile();
    QVERIFY(service->start());
    QVERIFY(service->waitForExit());
    QCOMPARE(service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(service->exitCode(), 1);
    const QString log = service->log();
    // The line an operator acts on names the file on disk and comes first.
    const int hint = log.indexOf("No key file: " + QFileInfo(service->filePath("cam1.key")).absoluteFilePath());
    QVERIFY2(hint >= 0 && log.indexOf("KEY_FILE_NAME", hint) >= 0, qPrintable(log));
    QVERIFY2(log.indexOf("Cannot open both [cam1.key] and [:cam1.key]") > hint, qPrintable(log));
}

void tst_ServiceProcess::defaultNamesAreQtTarn()
{
    QVERIFY(startServer());
    newService();
    service->removeConfigValue("NAME_ON_STARS");
    service->removeConfigValue("KEY_FILE_NAME");
    QVERIFY(launchService());
    QCOMPARE(term->request("QtTarn", "GetBin"), QStringLiteral("QtTarn>term1 @GetBin 1 1 1"));
    QCOMPARE(term->request("System", "listnodes"), QStringLiteral("System>term1 @listnodes QtTarn term1"));
}

void tst_ServiceProcess::emptyNodeNameIsNotReplacedByDefault()
{
    QVERIFY(startServer());
    newService();
    service->setConfigValue("NAME_ON_STARS", "#unset");
    QVERIFY(service->start());
    // An empty node name cannot log in: the server refuses it, a configuration error.
    QVERIFY(service->waitForExit());
    QCOMPARE(service->exitCode(), 2);
    QVERIFY2(service->log().contains("key file names  \"cam1\" \"\""), qPrintable(service->log()));
}

void tst_ServiceProcess::connectionLossEndsWithStatusZero()
{
    QVERIFY(startServer());
    newService();
    QVERIFY(launchService());
    QCOMPARE(term->request("System", "disconnect cam1"), QStringLiteral("System>term1 @disconnect Ok:"));
    QVERIFY(service->waitForExit());
    QCOMPARE(service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(service->exitCode(), 0);
}

void tst_ServiceProcess::logInRefusedByServerEndsWithStatusTwo()
{
    QVERIFY(startServer());
    newService();
    QVERIFY(service->start());
    // The server knows other keys for cam1 than the service's file holds:
    // a configuration error, which trying again would not mend.
    QVERIFY(server->addKeys("cam1", {"other"}));
    QVERIFY(service->waitForExit());
    QCOMPARE(service->exitCode(), 2);
}

void tst_ServiceProcess::unreachableServerIsLoggedAndTriedAgain()
{
    QVERIFY(startServer());
    newService();
    service->setConfigValue("STARS_PORT", "1"); // nothing listens there
    QVERIFY(service->start());
    QTRY_VERIFY_WITH_TIMEOUT(service->log().contains("connection refused"), 5000);
    QTest::qWait(200);
    QVERIFY(service->isRunning());
    QVERIFY2(service->log().contains("Next attempt to reach \"127.0.0.1\" 1 in 1 s"), qPrintable(service->log()));
}

void tst_ServiceProcess::answersToAnswersSettleAfterOneRound_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("answer"); // what cam1 sends back to the server
    // The sender "ghost" is not on the bus: the server bounces the service's
    // answer, and the service must not answer the bounce.
    QTest::newRow("unknown command from absent node") << "ghost>cam1 Foo"
                                                      << "cam1>ghost Er: Undefined Command";
    QTest::newRow("event from absent node") << "ghost>cam1 _Tick"
                                            << "cam1>ghost Er: Undefined Event";
    QTest::newRow("reply is not answered") << "ghost>cam1 @GetTemp 1 2"
                                           << "";
    QTest::newRow("error answer is not answered") << "cam9>cam1 Er: Undefined Command"
                                                  << "";
}

void tst_ServiceProcess::answersToAnswersSettleAfterOneRound()
{
    QFETCH(QString, line);
    QFETCH(QString, answer);
    newServer().setVerbose(true);
    QVERIFY(startServer());
    newService();
    QVERIFY(launchService());
    term->send(line);
    QTest::qWait(500);
    // Let a storm, if any, build up; then count what cam1 sent.
    const QStringList trace = server->output().split('\n');
    const QStringList fromCam1 = trace.filter(QRegularExpression("^cam1 -> "));
    const QStringList sent = [&] {
        QStringList s;
        for (const QString& t : fromCam1)
            if (!t.contains(">System _") && !t.contains("listnodes"))
                s << t.mid(QStringLiteral("cam1 -> ").size());
        return s;
    }();
    if (answer.isEmpty())
        QVERIFY2(sent.isEmpty(), qPrintable(sent.join('\n')));
    else
        QCOMPARE(sent, QStringList{answer});
    QVERIFY(service->isRunning());
    QCOMPARE(term->request("cam1", "GetImages"), QStringLiteral("cam1>term1 @GetImages 1"));
}

void tst_ServiceProcess::onlyAddressAndPortConfiguredStillConnects()
{
    QVERIFY(startServer());
    newService();
    // Of the bus only its address and port; the backend is named as everywhere.
    service->setConfigText(
        QStringLiteral("STARS_IP 127.0.0.1\nSTARS_PORT %1\nCAMERA_LIBRARY sim\n").arg(server->port()));
    // Its key file and the server's copy are QtTarn's, the default name.
    service->setKeys({"q1", "q2"});
    QVERIFY(launchService());
    // No camera number: no camera, but a working node.
    QCOMPARE(term->request("QtTarn", "GetModel"), QStringLiteral("QtTarn>term1 @GetModel Err: Get Model"));
    QVERIFY(!service->log().contains("Lib Version"));
}

void tst_ServiceProcess::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QString usage = QStringLiteral("Usage: starscam [--help | --version]");
    QTest::newRow("version") << QStringList{"--version"} << 0 << "starscam " STARSCAM_VERSION "\n"
                             << "";
    QTest::newRow("help") << QStringList{"--help"} << 0 << usage << "";
    QTest::newRow("unknown option") << QStringList{"--config=x"} << 64 << ""
                                    << "unexpected argument \"--config=x\"";
    QTest::newRow("word") << QStringList{"cam1"} << 64 << "" << usage;
    QTest::newRow("two known options") << QStringList{"--version", "--help"} << 64 << ""
                                       << "\"--help\"";
}

void tst_ServiceProcess::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    newServer().setVerbose(true);
    QVERIFY(startServer());
    newService();
    service->setArguments(arguments);
    QVERIFY(service->start());
    QVERIFY(service->waitForExit());
    QCOMPARE(service->exitCode(), status);
    QVERIFY2(out.isEmpty() ? service->output().isEmpty() : service->output().startsWith(out),
             qPrintable(service->output()));
    QVERIFY2(err.isEmpty() ? service->log().isEmpty() : service->log().contains(err), qPrintable(service->log()));
    // Answered before config.cfg is read: no start-up line, no log-in.
    QVERIFY(!service->log().contains("sizeof"));
    QVERIFY(!server->output().contains("cam1"));
}

void tst_ServiceProcess::oneOwnerPerNodeAndDirectory_data()
{
    QTest::addColumn<QString>("first");    // "running", "killed" or "" (none)
    QTest::addColumn<QString>("node");     // of the second copy
    QTest::addColumn<bool>("lockBlocked"); // a directory under the lock file's name
    QTest::addColumn<int>("exitCode");     // of the second copy; -1: it runs
    QTest::addColumn<QString>("logged");
    QTest::addColumn<bool>("temporaryStays");

    QTest::newRow("same node") << "running"
                               << "cam1" << false << 2 << "another copy of node cam1 holds" << true;
    QTest::newRow("other node") << "running"
                                << "cam2" << false << -1 << "" << true;
    QTest::newRow("first one killed") << "killed"
                                      << "cam1" << false << -1 << "Removed the temporary" << false;
    QTest::newRow("no lock to be had") << ""
                                       << "cam1" << true << -1 << "Cannot lock" << true;
}

void tst_ServiceProcess::oneOwnerPerNodeAndDirectory()
{
    QFETCH(QString, first);
    QFETCH(QString, node);
    QFETCH(bool, lockBlocked);
    QFETCH(int, exitCode);
    QFETCH(QString, logged);
    QFETCH(bool, temporaryStays);

    QVERIFY(startServer());
    QTemporaryDir images;
    QVERIFY(images.isValid());
    ServiceProcess& firstCopy = newService();
    firstCopy.setConfigValue("IMAGE_DIR", images.path());
    if (!first.isEmpty()) {
        QVERIFY(firstCopy.start());
        QVERIFY(firstCopy.waitForLogin());
    }
    if (first == "killed") {
        firstCopy.kill();
        QVERIFY(firstCopy.waitForExit());
    }
    if (lockBlocked)
        QVERIFY(QDir(images.path()).mkdir(".cam1.lock"));
    // An image of the first copy's on its way.
    const QString temporary = images.filePath(".cam1.img0000-0000.dat.part");
    {
        QFile file(temporary);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("rows");
    }
    const QStringList before = QDir(images.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);

    const std::unique_ptr<ServiceProcess> second = makeService();
    second->setConfigValue("IMAGE_DIR", images.path());
    second->setConfigValue("NAME_ON_STARS", node);
    second->setConfigValue("KEY_FILE_NAME", node);
    QVERIFY(second->start());
    if (exitCode >= 0) {
        QVERIFY(second->waitForExit());
        QCOMPARE(second->exitCode(), exitCode);
        QVERIFY(!second->log().contains("Lib Version")); // the camera is not touched
        QCOMPARE(QDir(images.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), before);
    } else {
        QVERIFY2(second->waitForLogin(), qPrintable(second->log()));
    }
    QVERIFY2(second->log().contains(logged, Qt::CaseInsensitive), qPrintable(second->log()));
    QCOMPARE(QFile::exists(temporary), temporaryStays);
    if (first == "running")
        QVERIFY(firstCopy.isRunning());
}

void tst_ServiceProcess::configurationMistakes_data()
{
    QTest::addColumn<QString>("setUp");     // how config.cfg is made
    QTest::addColumn<QString>("key");       // removed, or set to value
    QTest::addColumn<QString>("value");     // null: the key is removed
    QTest::addColumn<int>("status");        // -1: keeps running, logged in
    QTest::addColumn<QStringList>("words"); // in one line of the log
    const QStringList unreadable{"Configuration error:", "config.cfg cannot be read", "chmod 0644"};
    QTest::newRow("config.cfg a directory") << "dir"
                                            << "" << QString() << 2 << unreadable;
    QTest::newRow("config.cfg a FIFO") << "fifo"
                                       << "" << QString() << 2 << unreadable;
    QTest::newRow("config.cfg over 1 MiB") << "big"
                                           << "" << QString() << 2 << unreadable;
    QTest::newRow("no STARS_IP") << "map"
                                 << "STARS_IP" << QString() << 2
                                 << QStringList{"config.cfg names no STARS server", "\"STARS_IP <host>\""};
    QTest::newRow("empty STARS_IP") << "map"
                                    << "STARS_IP"
                                    << "#" << 2 << QStringList{"\"STARS_IP <host>\""};
    QTest::newRow("no STARS_PORT") << "map"
                                   << "STARS_PORT" << QString() << 2
                                   << QStringList{"config.cfg names no STARS server port", "\"STARS_PORT <port>\""};
    QTest::newRow("empty STARS_PORT") << "map"
                                      << "STARS_PORT"
                                      << "#x" << 2 << QStringList{"\"STARS_PORT <port>\""};
    QTest::newRow("STARS_PORT no number") << "map"
                                          << "STARS_PORT"
                                          << "abc" << 2 << QStringList{"STARS_PORT \"abc\"", "is no port number"};
    // No SDK where the configuration names none: a node without a camera
    // that says how to get one.
    QTest::newRow("no SDK") << "no sdk"
                            << "FLI_LIBRARY"
                            << "/nonexistent/libfli.so.2" << -1
                            << QStringList{"install the Debian package libfli2", "CAMERA_LIBRARY sim"};
}

void tst_ServiceProcess::configurationMistakes()
{
    QFETCH(QString, setUp);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(int, status);
    QFETCH(QStringList, words);
    QVERIFY(startServer());
    newService();
    const QString config = service->filePath("config.cfg");
    if (setUp == "dir" || setUp == "fifo")
        service->setWithoutConfigFile();
    if (setUp == "dir")
        QVERIFY(QDir().mkdir(config));
    if (setUp == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(config).constData(), 0600), 0);
    if (setUp == "big")
        service->setConfigText("CAMERA_NO 0\n" + QString(2 << 20, '#'));
    if (setUp == "no sdk")
        service->removeConfigValue("CAMERA_LIBRARY");
    if (!key.isEmpty() && value.isNull())
        service->removeConfigValue(key);
    else if (!key.isEmpty())
        service->setConfigValue(key, value);
    QVERIFY(service->start());
    if (status < 0) {
        QVERIFY2(service->waitForLogin(), qPrintable(service->log()));
    } else {
        QVERIFY(service->waitForExit());
        QCOMPARE(service->exitCode(), status);
    }
    const QStringList lines = service->log().split('\n');
    const auto holdsAll = [&](const QString& line) {
        return std::all_of(words.begin(), words.end(), [&](const QString& w) { return line.contains(w); });
    };
    QVERIFY2(std::any_of(lines.begin(), lines.end(), holdsAll), qPrintable(service->log()));
}

void tst_ServiceProcess::refusedHost_data()
{
    QTest::addColumn<QStringList>("serverArguments");
    QTest::addColumn<QString>("answer");
    // The reference server refuses a host it does not know before the key
    // number; a node rule may refuse it after the key.
    QTest::newRow("before the key number") << QStringList{"--refuse-hosts"} << "\"Bad host. 127.0.0.1\"";
    QTest::newRow("after the key number") << QStringList{"--allow-host", "cam1=10.9.9.9"} << "\"Bad host for cam1\"";
}

void tst_ServiceProcess::refusedHost()
{
    QFETCH(QStringList, serverArguments);
    QFETCH(QString, answer);
    newServer().setExtraArguments(serverArguments);
    QVERIFY(startServer());
    newService();
    QVERIFY(service->start());
    QVERIFY(service->waitForExit());
    QCOMPARE(service->exitCode(), 2);
    const QStringList refused = service->log().split('\n').filter("Configuration error, not logging in again:");
    QCOMPARE(refused.size(), 1);
    QVERIFY2(refused.first().contains(answer), qPrintable(refused.first()));
    QVERIFY2(refused.first().contains("add this host to the server's host list for node \"cam1\""),
             qPrintable(refused.first()));
}

void tst_ServiceProcess::shippedExamplesLogIn()
{
    // The example files as the package ships them, with only the bus address
    // pointed at the test server->
    QFile exampleConfig(QStringLiteral(STARSCAM_SOURCE_DIR "/packaging/config.cfg"));
    QFile exampleKeys(QStringLiteral(STARSCAM_SOURCE_DIR "/packaging/starscam.key"));
    QVERIFY(exampleConfig.open(QIODevice::ReadOnly));
    QVERIFY(exampleKeys.open(QIODevice::ReadOnly));
    QString config = QString::fromUtf8(exampleConfig.readAll());
    const QByteArray keys = exampleKeys.readAll();
    QVERIFY(startServer());
    const QRegularExpression ip(QStringLiteral("^STARS_IP .*$"), QRegularExpression::MultilineOption);
    const QRegularExpression port(QStringLiteral("^STARS_PORT .*$"), QRegularExpression::MultilineOption);
    QCOMPARE(config.count(ip), 1);
    QCOMPARE(config.count(port), 1);
    config.replace(ip, QStringLiteral("STARS_IP 127.0.0.1"))
        .replace(port, QStringLiteral("STARS_PORT %1").arg(server->port()));
    newService();
    service->setConfigText(config);
    service->setWithoutKeyFile();
    QVERIFY(service->writeFile(service->keyFileName() + ".key", keys));
    service->setKeys(QString::fromLatin1(keys).split('\n', Qt::SkipEmptyParts)); // the server's copy
    QVERIFY(service->start());
    QVERIFY2(service->waitForLogin(), qPrintable(service->log()));
}

void tst_ServiceProcess::numberingContinuesAcrossRestart()
{
    QVERIFY(startServer());
    QTemporaryDir images;
    // Neither a metadata file nor another suffix counts.
    for (const char* other : {"run0041-0000.dat.json", "run0007-0000.fits", "run7-0000.dat"})
        QVERIFY(QFile(images.filePath(other)).open(QIODevice::WriteOnly));
    for (const char* expected : {"run0000-0000.dat", "run0001-0000.dat"}) {
        newService();
        service->setConfigValue("IMAGE_DIR", images.path());
        service->setConfigValue("SEQ_FILE_NO_CONTINUE", "1");
        QVERIFY(launchService());
        QCOMPARE(term->request("cam1", "SetExpTime 10"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
        QCOMPARE(term->request("cam1", "SetFileName run.dat"), QStringLiteral("cam1>term1 @SetFileName Ok:"));
        QCOMPARE(term->request("cam1", "Exposure"), QStringLiteral("cam1>term1 @Exposure Ok:"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(images.filePath(expected)), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(term->request("cam1", "IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"), 20000);
        service->terminate();
        QVERIFY(service->waitForExit());
    }
}

QTEST_GUILESS_MAIN(tst_ServiceProcess)
#include "tst_service_process.moc"
