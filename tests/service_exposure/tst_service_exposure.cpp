// The exposure commands and the busy event, seen from the bus.
#include "ServiceRig.h"

#include <QtTest>

#include <memory>

class tst_ServiceExposure : public ServiceRig
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void eventPrecedesReplyAndSequenceWritesFiles();
    void exposureCommandsRefusedWhileBusy();
    void rbiFlushWithoutFlushesIsRefusedWithoutEvent();
    void downloadBeforeExposureEndsIsBusy();
    void neverReadyCameraIsGivenUpAfterGrace();
    void commandsServedWhileSequenceRuns();
    void sequenceNumberChangedDuringSequence();
    void downloadToTakenNameKeepsBothFiles();
    void zeroBinIsRefused();
    void connectionLostDuringExposureEndsProcess();

private:
    bool waitFor(const QString& line, int timeoutMs = 20000)
    {
        return !term->waitForLine([&](const QString& l) { return l == line; }, timeoutMs).isNull();
    }
};

void tst_ServiceExposure::init()
{
    QVERIFY(startServer());
}

void tst_ServiceExposure::cleanup()
{
    stopRig();
}

void tst_ServiceExposure::eventPrecedesReplyAndSequenceWritesFiles()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetBin 2 2 4"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    QCOMPARE(ask("SetImages 2"), QStringLiteral("cam1>term1 @SetImages Ok:"));
    QCOMPARE(ask("SetRBIFlushes 2"), QStringLiteral("cam1>term1 @SetRBIFlushes Ok:"));
    QCOMPARE(ask("SetRBIExpTime 5"), QStringLiteral("cam1>term1 @SetRBIExpTime Ok:"));
    QCOMPARE(ask("SetExpTime 20"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetFileName run.raw"), QStringLiteral("cam1>term1 @SetFileName Ok:"));
    term->send("term1>cam1 Exposure 5"); // parameters are ignored
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @Exposure Ok:"));
    QCOMPARE(term->nextLine(20000), busy0);
    QCOMPARE(service->files().filter(QRegularExpression("\\.raw$")),
             (QStringList{"run0000-0000.raw", "run0001-0001.raw"}));
    for (const QString& f : service->files().filter(QRegularExpression("\\.raw$")))
        QCOMPARE(QFileInfo(service->filePath(f)).size(), qint64(768 * 512 * 2));
    QCOMPARE(ask("IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"));
    QCOMPARE(ask("GetSeqFileNo"), QStringLiteral("cam1>term1 @GetSeqFileNo 2"));
}

void tst_ServiceExposure::exposureCommandsRefusedWhileBusy()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetExpTime 1500"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetRBIFlushes 1"), QStringLiteral("cam1>term1 @SetRBIFlushes Ok:"));
    term->send("term1>cam1 StartExposure");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @StartExposure Ok:"));
    for (const char* command : {"Exposure", "StartExposure", "RBIFlush", "DownLoadImage"})
        QCOMPARE(ask(command), QStringLiteral("cam1>term1 @%1 Err: Busy").arg(command));
    QVERIFY(term->pendingLines().isEmpty()); // no event for a refusal
    QVERIFY(waitFor(busy0));
}

void tst_ServiceExposure::rbiFlushWithoutFlushesIsRefusedWithoutEvent()
{
    QVERIFY(startService());
    QCOMPARE(ask("RBIFlush"), QStringLiteral("cam1>term1 @RBIFlush Err: Busy"));
    QVERIFY(term->receivesNothing(200));
    QCOMPARE(ask("IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"));
    QCOMPARE(ask("SetRBIFlushes 2"), QStringLiteral("cam1>term1 @SetRBIFlushes Ok:"));
    QCOMPARE(ask("SetRBIExpTime 10"), QStringLiteral("cam1>term1 @SetRBIExpTime Ok:"));
    term->send("term1>cam1 RBIFlush");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @RBIFlush Ok:"));
    QCOMPARE(term->nextLine(20000), busy0);
    QVERIFY(service->files().filter(QRegularExpression("\\.dat$")).isEmpty());
}

void tst_ServiceExposure::downloadBeforeExposureEndsIsBusy()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetExpTime 800"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetBin 4 4 1"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    term->send("term1>cam1 StartExposure");
    term->send("term1>cam1 DownLoadImage");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @StartExposure Ok:"));
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @DownLoadImage Err: Busy"));
    QVERIFY(waitFor(busy0));
    QCOMPARE(ask("DownLoadImage"), QStringLiteral("cam1>term1 @DownLoadImage Ok:"));
    QCOMPARE(service->files().filter(QRegularExpression("\\.dat$")), QStringList{"DefaultFileName0000-0000.dat"});
    QCOMPARE(QFileInfo(service->filePath("DefaultFileName0000-0000.dat")).size(), qint64(384 * 256 * 2));
    // The image was read: a second download has nothing to read.
    QCOMPARE(ask("DownLoadImage"), QStringLiteral("cam1>term1 @DownLoadImage Err: Busy"));
}

void tst_ServiceExposure::neverReadyCameraIsGivenUpAfterGrace()
{
    QVERIFY(startService({{"CAMERA_LIBRARY", "sim"}, {"SIM_FORCE_STATUS", "2"}, {"EXPOSURE_GRACE_MS", "100"}}));
    QCOMPARE(ask("SetExpTime 10"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    term->send("term1>cam1 StartExposure");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @StartExposure Ok:"));
    QCOMPARE(term->nextLine(20000), busy0);
    // The cancelled exposure left nothing to read.
    QCOMPARE(ask("DownLoadImage"), QStringLiteral("cam1>term1 @DownLoadImage Err: Busy"));
    QVERIFY(service->files().filter(QRegularExpression("\\.dat$")).isEmpty());
    QVERIFY2(service->log().contains("Single exposure: not ready"), qPrintable(service->log()));
}

void tst_ServiceExposure::commandsServedWhileSequenceRuns()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetImages 3"), QStringLiteral("cam1>term1 @SetImages Ok:"));
    QCOMPARE(ask("SetExpTime 400"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetBin 8 8 1"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    term->send("term1>cam1 Exposure");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @Exposure Ok:"));
    QCOMPARE(ask("IsBusy"), QStringLiteral("cam1>term1 @IsBusy 1"));
    QVERIFY(ask("GetTemp").startsWith("cam1>term1 @GetTemp "));
    QVERIFY(!ask("GetTemp").contains("Err"));
    QCOMPARE(ask("SetExpTime 2000"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("GetExpTime"), QStringLiteral("cam1>term1 @GetExpTime 2000"));
    QVERIFY(waitFor(busy0));
    QCOMPARE(service->files().filter(QRegularExpression("\\.dat$")).size(), 3);
    // The running sequence kept the exposure time it started with.
    QCOMPARE(service->log().count("Setting ExpTime to  400"), 3);
    QVERIFY(!service->log().contains("Setting ExpTime to  2000"));
}

void tst_ServiceExposure::sequenceNumberChangedDuringSequence()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetImages 2"), QStringLiteral("cam1>term1 @SetImages Ok:"));
    QCOMPARE(ask("SetExpTime 600"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetBin 8 8 1"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    term->send("term1>cam1 Exposure");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @Exposure Ok:"));
    QCOMPARE(ask("SetSeqFileNo 17"), QStringLiteral("cam1>term1 @SetSeqFileNo Ok:"));
    QVERIFY(waitFor(busy0));
    QCOMPARE(service->files().filter(QRegularExpression("\\.dat$")),
             (QStringList{"DefaultFileName0017-0000.dat", "DefaultFileName0018-0001.dat"}));
}

void tst_ServiceExposure::downloadToTakenNameKeepsBothFiles()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetUseSeqFNo 0"), QStringLiteral("cam1>term1 @SetUseSeqFNo Ok:"));
    QCOMPARE(ask("SetExpTime 0"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    QCOMPARE(ask("SetBin 8 8 1"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    QVERIFY(service->writeFile("DefaultFileName-0000.dat", "precious"));
    term->send("term1>cam1 StartExposure");
    QVERIFY(waitFor(busy0));
    QCOMPARE(ask("DownLoadImage"), QStringLiteral("cam1>term1 @DownLoadImage Ok:"));
    QFile old(service->filePath("DefaultFileName-0000.dat"));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("precious"));
    QCOMPARE(QFileInfo(service->filePath("DefaultFileName-0000_1.dat")).size(), qint64(192 * 128 * 2));
    QVERIFY(service->log().contains("File exists, image written as \"DefaultFileName-0000_1.dat\""));
}

void tst_ServiceExposure::zeroBinIsRefused()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetBin 0 1 1"), QStringLiteral("cam1>term1 @SetBin Ok:"));
    QCOMPARE(ask("Exposure"), QStringLiteral("cam1>term1 @Exposure Err: Busy"));
    QCOMPARE(ask("StartExposure"), QStringLiteral("cam1>term1 @StartExposure Err: Busy"));
    QVERIFY(term->receivesNothing(100));
    QVERIFY(service->isRunning());
}

void tst_ServiceExposure::connectionLostDuringExposureEndsProcess()
{
    QVERIFY(startService());
    QCOMPARE(ask("SetExpTime 5000"), QStringLiteral("cam1>term1 @SetExpTime Ok:"));
    term->send("term1>cam1 Exposure");
    QCOMPARE(term->nextLine(), busy1);
    QCOMPARE(term->nextLine(), QStringLiteral("cam1>term1 @Exposure Ok:"));
    QCOMPARE(term->request("System", "disconnect cam1"), QStringLiteral("System>term1 @disconnect Ok:"));
    QVERIFY(service->waitForExit());
    QCOMPARE(service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(service->exitCode(), 0);
    QVERIFY(term->receivesNothing(200)); // no reply, no event
}

QTEST_GUILESS_MAIN(tst_ServiceExposure)
#include "tst_service_exposure.moc"
