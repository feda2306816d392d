// The service on the hardware backend (CAMERA_LIBRARY fli) on a machine with
// no camera attached, reached over the bus: with the SDK installed and with a
// library path that does not exist, it must start, list nothing, answer every
// query with its error and let exposures end without writing anything.

#include "ServiceRig.h"

#include <QLibrary>
#include <QRegularExpression>
#include <QtTest>

namespace {

const QStringList TermKeys{QStringLiteral("t1"), QStringLiteral("t2"), QStringLiteral("t3")};
const int LongWait = 10000;
const QString AbsentLibrary = QStringLiteral("/nonexistent/dir/libfli.so.2");

bool sdkInstalled()
{
    QLibrary sdk(QStringLiteral("libfli.so.2"));
    return sdk.load();
}

} // namespace

class tst_HardwareE2e : public ServiceRig
{
    Q_OBJECT

private slots:
    void cleanup();

    void startUpFindsNoCamera_data();
    void startUpFindsNoCamera();
    void queriesAnswerTheirErrors_data();
    void queriesAnswerTheirErrors();
    void sequencesEndWithoutFile_data();
    void sequencesEndWithoutFile();

private:
    // Server, service on the FLI backend and a logged-in node "term1", not
    // subscribed yet.
    bool startOnSdk(const QString& fliLibrary);
};

void tst_HardwareE2e::cleanup()
{
    stopRig();
}

bool tst_HardwareE2e::startOnSdk(const QString& fliLibrary)
{
    termKeys = TermKeys;
    subscribeTerm = false;
    if (!startServer())
        return false;
    ServiceProcess& fli = newService();
    fli.setConfigValue(QStringLiteral("CAMERA_LIBRARY"), QStringLiteral("fli"));
    if (!fliLibrary.isEmpty())
        fli.setConfigValue(QStringLiteral("FLI_LIBRARY"), fliLibrary);
    return launchService();
}

void tst_HardwareE2e::startUpFindsNoCamera_data()
{
    QTest::addColumn<QString>("fliLibrary");
    QTest::addColumn<QStringList>("libraryLine");
    QTest::newRow("SDK") << QString() << QStringList{"libfli.so.2", "loaded from"};
    QTest::newRow("absent library") << AbsentLibrary << QStringList{AbsentLibrary, "cannot be loaded"};
}

void tst_HardwareE2e::startUpFindsNoCamera()
{
    QFETCH(QString, fliLibrary);
    QFETCH(QStringList, libraryLine);
    if (fliLibrary.isEmpty() && !sdkInstalled())
        QSKIP("libfli.so.2 is not installed (Debian package libfli2)");
    QVERIFY(startOnSdk(fliLibrary));
    const QString log = service->log();

    const QStringList libraryLines = log.split(QLatin1Char('\n')).filter(QStringLiteral("camera library: FLI SDK"));
    QVERIFY2(libraryLines.size() == 1, qPrintable(log));
    for (const QString& part : libraryLine)
        QVERIFY2(libraryLines.at(0).contains(part), qPrintable(libraryLines.at(0)));

    // The camera object logs the number of devices listed on a line of its own
    // (a compiler launcher may give the source path as "../../camera/...").
    const QRegularExpression deviceCount(
        QStringLiteral(R"(^\[(?:\.\./)*camera/tarn\.cpp:\d+ [^\]]*Tarn::Tarn[^\]]*\] (\d+)$)"),
        QRegularExpression::MultilineOption);
    const QRegularExpressionMatch count = deviceCount.match(log);
    QVERIFY2(count.hasMatch(), qPrintable(log));
    QCOMPARE(count.captured(1), QStringLiteral("0"));
    QVERIFY2(!log.contains(QLatin1String("opening FLI")) && !log.contains(QLatin1String("Model:")), qPrintable(log));
}

void tst_HardwareE2e::queriesAnswerTheirErrors_data()
{
    QTest::addColumn<QString>("fliLibrary");
    QTest::newRow("SDK") << QString();
    QTest::newRow("absent library") << AbsentLibrary;
}

void tst_HardwareE2e::queriesAnswerTheirErrors()
{
    QFETCH(QString, fliLibrary);
    if (fliLibrary.isEmpty() && !sdkInstalled())
        QSKIP("libfli.so.2 is not installed (Debian package libfli2)");
    QVERIFY(startOnSdk(fliLibrary));

    const QList<QPair<QString, QString>> queries = {
        {"GetModel", "cam1>term1 @GetModel Err: Get Model"},
        {"GetTemp", "cam1>term1 @GetTemp Err: Get Temperature"},
        {"GetSerialSTR", "cam1>term1 @GetSerialSTR Err: Get Serial String"},
        {"GetVisArea", "cam1>term1 @GetVisArea Err: Get Visible Area"},
        {"SetTemp -20", "cam1>term1 @SetTemp Err: Set Temperature"},
    };
    for (const auto& query : queries)
        QCOMPARE(term->request(QStringLiteral("cam1"), query.first, LongWait), query.second);
}

void tst_HardwareE2e::sequencesEndWithoutFile_data()
{
    QTest::addColumn<QString>("fliLibrary");
    QTest::addColumn<QStringList>("setUp");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("afterwards");
    QTest::addColumn<QString>("afterwardsReply");

    for (const QString& library : {QString(), AbsentLibrary}) {
        const QString prefix = library.isEmpty() ? QStringLiteral("SDK, ") : QStringLiteral("absent library, ");
        QTest::newRow(qPrintable(prefix + QStringLiteral("Exposure"))) << library << QStringList() << "Exposure"
                                                                       << "IsBusy"
                                                                       << "cam1>term1 @IsBusy 0";
        // The read-out of the frame that never started fails.
        QTest::newRow(qPrintable(prefix + QStringLiteral("StartExposure")))
            << library << QStringList() << "StartExposure"
            << "DownLoadImage"
            << "cam1>term1 @DownLoadImage Err: Busy";
        QTest::newRow(qPrintable(prefix + QStringLiteral("RBIFlush")))
            << library << QStringList{"SetRBIFlushes 1"} << "RBIFlush"
            << "IsBusy"
            << "cam1>term1 @IsBusy 0";
    }
}

void tst_HardwareE2e::sequencesEndWithoutFile()
{
    QFETCH(QString, fliLibrary);
    QFETCH(QStringList, setUp);
    QFETCH(QString, command);
    QFETCH(QString, afterwards);
    QFETCH(QString, afterwardsReply);
    if (fliLibrary.isEmpty() && !sdkInstalled())
        QSKIP("libfli.so.2 is not installed (Debian package libfli2)");
    QVERIFY(startOnSdk(fliLibrary));

    QCOMPARE(term->request(QStringLiteral("System"), QStringLiteral("flgon cam1"), LongWait),
             QStringLiteral("System>term1 @flgon Ok:"));
    for (const QString& step : setUp) {
        const QString name = step.section(QLatin1Char(' '), 0, 0);
        QCOMPARE(term->request(QStringLiteral("cam1"), step, LongWait), QStringLiteral("cam1>term1 @%1 Ok:").arg(name));
    }
    const QStringList filesBefore = service->files();

    // Busy is announced, the command accepted, and busy ends by itself.
    term->send(QStringLiteral("term1>cam1 ") + command);
    QStringList lines;
    for (int i = 0; i < 3; ++i)
        lines << term->nextLine(LongWait);
    QCOMPARE(lines, (QStringList{QStringLiteral("cam1>System _ChangedIsBusy 1"),
                                 QStringLiteral("cam1>term1 @%1 Ok:").arg(command),
                                 QStringLiteral("cam1>System _ChangedIsBusy 0")}));

    QCOMPARE(term->request(QStringLiteral("cam1"), afterwards, LongWait), afterwardsReply);
    QVERIFY(term->syncWithServer(LongWait));
    QCOMPARE(term->pendingLines(), QStringList());
    QCOMPARE(service->files(), filesBefore);
    QVERIFY(service->isRunning());
}

QTEST_GUILESS_MAIN(tst_HardwareE2e)
#include "tst_hardware_e2e.moc"
