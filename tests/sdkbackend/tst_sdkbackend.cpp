// The service on the SDK backend (CAMERA_LIBRARY fli) over the SDK-level
// simulated camera, beside the same service on the simulator backend: the
// same requests leave the same image files, byte for byte; the camera is
// chosen by serial number through the SDK's listing; and the device is closed
// through the SDK whichever way the service ends.
#include "ServiceRig.h"
#include "tarn.h"

#include <QtTest>

#include <memory>
#include <type_traits>

namespace {

const QString sdkPath = QStringLiteral(FLISIM_PATH);

// The service closes its device on the way out once the camera object can.
template <typename T, typename = void> struct CanCloseDevice : std::false_type
{
};
template <typename T> struct CanCloseDevice<T, std::void_t<decltype(std::declval<T&>().closeDevice())>> : std::true_type
{
};

// A bus, the service on the named backend and a subscribed terminal.
bool startOn(ServiceRig& rig, const QString& backend, QMap<QString, QString> config)
{
    config.insert("CAMERA_LIBRARY", backend);
    config.insert("FLI_LIBRARY", sdkPath);
    return rig.startServer() && rig.startService(config);
}

} // namespace

class tst_SdkBackend : public QObject
{
    Q_OBJECT

private slots:
    void sameImageFilesOnBothBackends();
    void serialChosenThroughSdkListing();
    void deviceClosedThroughSdkWhenServiceEnds_data();
    void deviceClosedThroughSdkWhenServiceEnds();

private:
    // The image files a short run leaves: a sequence with RBI frames, then a
    // single exposure and its download.
    QMap<QString, QByteArray> imagesOf(const QString& backend);
};

QMap<QString, QByteArray> tst_SdkBackend::imagesOf(const QString& backend)
{
    QMap<QString, QByteArray> images;
    ServiceRig rig;
    if (!startOn(rig, backend, {{"SIM_WIDTH", "96"}, {"SIM_HEIGHT", "64"}}))
        return images;
    for (const char* setting : {"SetBin 2 2 4", "SetImages 2", "SetRBIFlushes 2", "SetRBIExpTime 5", "SetExpTime 10",
                                "SetFileName seq.dat"}) {
        if (!rig.askOk(setting))
            return images;
    }
    if (!rig.expose("Exposure") || !rig.askOk("SetBin 1 1 1") || !rig.askOk("SetFileName one.dat")
        || !rig.expose("StartExposure") || !rig.askOk("DownLoadImage"))
        return images;
    for (const QString& name : rig.service->files().filter(QRegularExpression("\\.dat$"))) {
        QFile file(rig.service->filePath(name));
        if (file.open(QIODevice::ReadOnly))
            images.insert(name, file.readAll());
    }
    if (backend == QLatin1String("fli") && !rig.service->log().contains("loaded from " + sdkPath))
        images.clear(); // not the library asked for
    return images;
}

void tst_SdkBackend::sameImageFilesOnBothBackends()
{
    const QMap<QString, QByteArray> sim = imagesOf("sim");
    const QMap<QString, QByteArray> sdk = imagesOf("fli");
    QCOMPARE(sim.keys().join(" "), QStringLiteral("one0002-0002.dat seq0000-0000.dat seq0001-0001.dat"));
    QCOMPARE(sim.value("seq0000-0000.dat").size(), 48 * 32 * 2);
    QCOMPARE(sim.value("one0002-0002.dat").size(), 96 * 64 * 2);
    QCOMPARE(sdk.keys(), sim.keys());
    for (const QString& name : sim.keys())
        QVERIFY2(sdk.value(name) == sim.value(name), qPrintable(name));
}

void tst_SdkBackend::serialChosenThroughSdkListing()
{
    ServiceRig rig;
    QVERIFY(startOn(rig, "fli", {{"SIM_CAMERAS", "3"}, {"CAMERA_SERIAL", "SIM00003"}}));
    QCOMPARE(rig.term->request("cam1", "GetSerialSTR"), QStringLiteral("cam1>term1 @GetSerialSTR SIM00003"));
    QVERIFY(rig.service->log().contains("Camera serial SIM00003: sim2, number 2 of 3 listed"));
}

void tst_SdkBackend::deviceClosedThroughSdkWhenServiceEnds_data()
{
    QTest::addColumn<bool>("busLost"); // or terminated by a signal
    QTest::newRow("bus connection lost") << true;
    QTest::newRow("terminated") << false;
}

void tst_SdkBackend::deviceClosedThroughSdkWhenServiceEnds()
{
    if (!CanCloseDevice<Tarn>::value)
        QSKIP("the camera object cannot close its device yet");
    QFETCH(bool, busLost);
    ServiceRig rig;
    QVERIFY(startOn(rig, "fli", {}));
    if (busLost)
        QCOMPARE(rig.term->request("System", "disconnect cam1"), QStringLiteral("System>term1 @disconnect Ok:"));
    else
        rig.service->terminate();
    QVERIFY(rig.service->waitForExit());
    QVERIFY2(rig.service->log().contains("SDK-level camera simulator: FLIClose(1) = 0"),
             qPrintable(rig.service->log().right(2000)));
}

QTEST_GUILESS_MAIN(tst_SdkBackend)
#include "tst_sdkbackend.moc"
