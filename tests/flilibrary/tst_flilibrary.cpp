#include "FliLibrary.h"
#include "TarnDriver.h"
#include "TestFixture.h"
#include "tarn.h"

#include <QtTest>

#include <cstring>
#include <functional>
#include <memory>

using namespace camlib;

namespace {

bool sdkInstalled()
{
    QLibrary sdk{QLatin1String(FliLibrary::DefaultFileName)};
    return sdk.load();
}

// What the stand-in SDK last recorded, "FLISetHBin(77,2)".
QString lastFakeCall()
{
    using LastCallFn = const char* (*)();
    static const auto lastCall = reinterpret_cast<LastCallFn>(QLibrary::resolve(FAKEFLI_PATH, "fakefli_lastCall"));
    return lastCall ? QString::fromLatin1(lastCall()) : QStringLiteral("<fake not loaded>");
}

using Operation = std::function<long(CameraLibrary&)>;

// Every operation once, with distinct arguments and the call the SDK should
// see for them on the stand-in's handle 77.
struct OperationCase
{
    const char* name;
    Operation run;
    const char* sdkCall;
};

const std::vector<OperationCase>& operations()
{
    static char text[64];
    static long l1, l2, l3, l4;
    static double d1, d2;
    static unsigned long status;
    static std::uint16_t row[8];
    static const std::vector<OperationCase> cases = {
        {"listCreate", [](CameraLibrary& c) { return c.listCreate(DeviceClassCamera); }, "FLICreateList(258)"},
        {"listFirst", [](CameraLibrary& c) { return c.listFirst(l1, text, 64, text, 32); }, "FLIListFirst(64,32)"},
        {"listNext", [](CameraLibrary& c) { return c.listNext(l1, text, 48, text, 16); }, "FLIListNext(48,16)"},
        {"listDelete", [](CameraLibrary& c) { return c.listDelete(); }, "FLIDeleteList()"},
        {"open",
         [](CameraLibrary& c) {
             l1 = 5;
             return c.open(l1, "fake0", 0x102);
         },
         "FLIOpen(258,fake0)"},
        {"getLibVersion", [](CameraLibrary& c) { return c.getLibVersion(text, 40); }, "FLIGetLibVersion(40)"},
        {"getModel", [](CameraLibrary& c) { return c.getModel(77, text, 41); }, "FLIGetModel(77,41)"},
        {"getSerialString", [](CameraLibrary& c) { return c.getSerialString(77, text, 42); },
         "FLIGetSerialString(77,42)"},
        {"getHWRevision", [](CameraLibrary& c) { return c.getHWRevision(77, l1); }, "FLIGetHWRevision(77)"},
        {"getPixelSize", [](CameraLibrary& c) { return c.getPixelSize(77, d1, d2); }, "FLIGetPixelSize(77)"},
        {"getArrayArea", [](CameraLibrary& c) { return c.getArrayArea(77, l1, l2, l3, l4); }, "FLIGetArrayArea(77)"},
        {"getVisibleArea", [](CameraLibrary& c) { return c.getVisibleArea(77, l1, l2, l3, l4); },
         "FLIGetVisibleArea(77)"},
        {"setTemperature", [](CameraLibrary& c) { return c.setTemperature(77, -12.5); }, "FLISetTemperature(77,-12.5)"},
        {"readTemperature", [](CameraLibrary& c) { return c.readTemperature(77, ChannelBase, d1); },
         "FLIReadTemperature(77,1)"},
        {"getCoolerPower", [](CameraLibrary& c) { return c.getCoolerPower(77, d1); }, "FLIGetCoolerPower(77)"},
        {"setExposureTime", [](CameraLibrary& c) { return c.setExposureTime(77, 2500); },
         "FLISetExposureTime(77,2500)"},
        {"setFrameType", [](CameraLibrary& c) { return c.setFrameType(77, FrameRbiFlood); }, "FLISetFrameType(77,3)"},
        {"setHBin", [](CameraLibrary& c) { return c.setHBin(77, 2); }, "FLISetHBin(77,2)"},
        {"setVBin", [](CameraLibrary& c) { return c.setVBin(77, 3); }, "FLISetVBin(77,3)"},
        {"setImageArea", [](CameraLibrary& c) { return c.setImageArea(77, 1, 2, 300, 400); },
         "FLISetImageArea(77,1,2,300,400)"},
        {"setTDI", [](CameraLibrary& c) { return c.setTDI(77, 6, 0); }, "FLISetTDI(77,6,0)"},
        {"exposeFrame", [](CameraLibrary& c) { return c.exposeFrame(77); }, "FLIExposeFrame(77)"},
        {"getDeviceStatus", [](CameraLibrary& c) { return c.getDeviceStatus(77, status); }, "FLIGetDeviceStatus(77)"},
        {"getExposureStatus", [](CameraLibrary& c) { return c.getExposureStatus(77, l1); }, "FLIGetExposureStatus(77)"},
        {"grabRow", [](CameraLibrary& c) { return c.grabRow(77, row, 8); }, "FLIGrabRow(77,8)"},
        {"cancelExposure", [](CameraLibrary& c) { return c.cancelExposure(77); }, "FLICancelExposure(77)"},
        {"close", [](CameraLibrary& c) { return c.close(77); }, "FLIClose(77)"},
    };
    return cases;
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class tst_FliLibrary : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void sdkLoadsAndAnswersWithoutCamera();
    void unusableLibrary_data();
    void unusableLibrary();
    void operationsReachTheirSdkFunction_data();
    void operationsReachTheirSdkFunction();
    void resultsComeBackUnchanged();
    void failedOpenLeavesHandle();
    void tarnWithoutCamera_data();
    void tarnWithoutCamera();
    void tarnExposesThroughBackend();

private:
    std::unique_ptr<TestFixture> fixture;
};

void tst_FliLibrary::init()
{
    fixture = std::make_unique<TestFixture>();
    QVERIFY(fixture->workDir.isValid());
}

void tst_FliLibrary::cleanup()
{
    fixture.reset();
}

void tst_FliLibrary::sdkLoadsAndAnswersWithoutCamera()
{
    if (!sdkInstalled())
        QSKIP("libfli.so.2 is not installed (Debian package libfli2)");
    FliLibrary lib;
    QVERIFY2(lib.isLoaded(), qPrintable(lib.errorString()));
    QVERIFY(lib.missingSymbols().isEmpty());
    QCOMPARE(fixture->log.lines().size(), 1);
    QVERIFY2(fixture->log.lines().at(0).contains(QLatin1String("loaded from")), qPrintable(fixture->log.lines().at(0)));

    // A call that needs no device goes all the way through.
    char version[256] = {};
    QCOMPARE(lib.getLibVersion(version, sizeof version), 0L);
    QVERIFY(std::strlen(version) > 0);

    // No camera on this machine: the list is empty, and a made-up name opens
    // nothing while the SDK's scribbling stays out of our handle.
    QCOMPARE(lib.listCreate(DeviceClassCamera), 0L);
    long domain = 0;
    char name[256] = {}, description[256] = {};
    QVERIFY(lib.listFirst(domain, name, sizeof name, description, sizeof description) != 0);
    lib.listDelete();
    long handle = 1234;
    QVERIFY(lib.open(handle, "no-such-camera", DeviceClassCamera) != 0);
    QCOMPARE(handle, 1234L);
    char model[64] = {};
    QVERIFY(lib.getModel(handle, model, sizeof model) != 0);
}

void tst_FliLibrary::unusableLibrary_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QStringList>("logNames");
    QTest::addColumn<QStringList>("logOmits");

    QTest::newRow("absent file") << QStringLiteral("/nonexistent/dir/libfli.so.2")
                                 << QStringList{"/nonexistent/dir/libfli.so.2", "cannot be loaded"} << QStringList();
    QTest::newRow("not the SDK") << QStringLiteral("libc.so.6")
                                 << QStringList{"libc.so.6", "FLICreateList", "FLIOpen", "FLIGrabRow"} << QStringList();
    QTest::newRow("one function missing")
        << QStringLiteral(FAKEFLI_NOGRAB_PATH) << QStringList{FAKEFLI_NOGRAB_PATH, "lacks FLIGrabRow"}
        << QStringList{"FLIOpen", "FLIListFirst"};
}

void tst_FliLibrary::unusableLibrary()
{
    QFETCH(QString, fileName);
    QFETCH(QStringList, logNames);
    QFETCH(QStringList, logOmits);

    FliLibrary lib(fileName);
    QVERIFY(!lib.isLoaded());
    QCOMPARE(fixture->log.lines().size(), 1);
    for (const QString& name : logNames)
        QVERIFY2(fixture->log.lines().at(0).contains(name), qPrintable(fixture->log.lines().at(0)));
    for (const QString& name : logOmits)
        QVERIFY2(!fixture->log.lines().at(0).contains(name), qPrintable(fixture->log.lines().at(0)));

    // Nothing reaches a library whose table is incomplete, even the functions
    // it does have.
    for (const OperationCase& op : operations())
        QVERIFY2(op.run(lib) != 0, op.name);
    long handle = 1234;
    QVERIFY(lib.open(handle, "fake0", DeviceClassCamera) != 0);
    QCOMPARE(handle, 1234L);
    char model[16] = "stale";
    QVERIFY(lib.getModel(handle, model, sizeof model) != 0);
    QCOMPARE(model, "");
}

void tst_FliLibrary::operationsReachTheirSdkFunction_data()
{
    QTest::addColumn<Operation>("run");
    QTest::addColumn<QString>("sdkCall");
    for (const OperationCase& op : operations())
        QTest::newRow(op.name) << op.run << QString::fromLatin1(op.sdkCall);
}

void tst_FliLibrary::operationsReachTheirSdkFunction()
{
    QFETCH(Operation, run);
    QFETCH(QString, sdkCall);
    FliLibrary lib(QStringLiteral(FAKEFLI_PATH));
    QVERIFY2(lib.isLoaded(), qPrintable(lib.errorString()));
    const long expectedStatus = sdkCall.startsWith(QLatin1String("FLIListNext")) ? -9 : 0;
    QCOMPARE(run(lib), expectedStatus);
    QCOMPARE(lastFakeCall(), sdkCall);
}

void tst_FliLibrary::resultsComeBackUnchanged()
{
    FliLibrary lib(QStringLiteral(FAKEFLI_PATH));
    QVERIFY(lib.isLoaded());

    long domain = 0;
    char name[32] = {}, description[32] = {};
    QCOMPARE(lib.listFirst(domain, name, sizeof name, description, sizeof description), 0L);
    QCOMPARE(domain, 0x102L);
    QCOMPARE(name, "fake0");
    QCOMPARE(description, "Fake camera");

    long ulX = 0, ulY = 0, lrX = 0, lrY = 0;
    QCOMPARE(lib.getVisibleArea(77, ulX, ulY, lrX, lrY), 0L);
    QCOMPARE((QList<long>{ulX, ulY, lrX, lrY}), (QList<long>{5, 6, 9, 9}));
    double ccd = 0, base = 0;
    QCOMPARE(lib.readTemperature(77, ChannelCcd, ccd), 0L);
    QCOMPARE(lib.readTemperature(77, ChannelBase, base), 0L);
    QCOMPARE(ccd, -20.5);
    QCOMPARE(base, 12.25);
    double w = 0, h = 0;
    QCOMPARE(lib.getPixelSize(77, w, h), 0L);
    QCOMPARE(w, 9e-6);
    QCOMPARE(h, 12e-6);

    // The whole status word, bits above 31 included: trimming is the camera
    // object's business.
    unsigned long status = 0;
    QCOMPARE(lib.getDeviceStatus(77, status), 0L);
    QCOMPARE(status, 0x180000002ul);
    long left = 0;
    QCOMPARE(lib.getExposureStatus(77, left), 0L);
    QCOMPARE(left, 1500L);

    std::uint16_t row[5] = {0, 0, 0, 0, 7};
    QCOMPARE(lib.grabRow(77, row, 4), 0L);
    QCOMPARE((std::vector<std::uint16_t>(row, row + 5)), (std::vector<std::uint16_t>{100, 101, 102, 103, 7}));
}

void tst_FliLibrary::failedOpenLeavesHandle()
{
    FliLibrary lib(QStringLiteral(FAKEFLI_PATH));
    QVERIFY(lib.isLoaded());
    long handle = 1234;
    QVERIFY(lib.open(handle, "unknown", 0x102) != 0); // the stand-in writes 0 here
    QCOMPARE(handle, 1234L);
    QCOMPARE(lib.open(handle, "fake0", 0x102), 0L);
    QCOMPARE(handle, 77L);
}

void tst_FliLibrary::tarnWithoutCamera_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::newRow("SDK, no camera attached") << QString();
    QTest::newRow("absent library") << QStringLiteral("/nonexistent/dir/libfli.so.2");
}

void tst_FliLibrary::tarnWithoutCamera()
{
    QFETCH(QString, fileName);
    if (fileName.isEmpty() && !sdkInstalled())
        QSKIP("libfli.so.2 is not installed (Debian package libfli2)");
    FliLibrary lib(fileName);
    Tarn tarn(0, lib);
    QCOMPARE(tarn.getDevCount(), 0);
    QVERIFY(!tarn.isDeviceOpen());
    QCOMPARE(tarn.getModel(), QStringLiteral("Err: Get Model"));
    double ccd = 0, base = 0;
    QVERIFY(!tarn.getTemperatures(ccd, base));

    QSignalSpy busy(&tarn, &Tarn::changedIsBusy);
    QVERIFY(startSingle(tarn, 1, 1, 100, QStringLiteral("image.dat"), 0));
    QTRY_VERIFY_WITH_TIMEOUT(!tarn.isBusy(), 10000);
    QCOMPARE(busy.size(), 2);
    QCOMPARE(busy.at(1).at(0).toBool(), false);
    QCOMPARE(QDir::current().entryList(QDir::Files), QStringList());
}

void tst_FliLibrary::tarnExposesThroughBackend()
{
    FliLibrary lib(QStringLiteral(FAKEFLI_PATH));
    Tarn tarn(0, lib);
    QVERIFY(tarn.isDeviceOpen());
    QCOMPARE(tarn.getDevHandle(), 77L);
    QCOMPARE(tarn.getModel(), QStringLiteral("Fake model"));

    QVERIFY(startSingle(tarn, 1, 1, 100, QStringLiteral("image.dat"), 0));
    QTRY_VERIFY_WITH_TIMEOUT(!tarn.isBusy(), 10000);
    // Data ready in the low 32 bits ends the exposure; the bit above is dropped.
    QCOMPARE(tarn.getDeviceStatus(), 0x80000002u);
    QCOMPARE(tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
    QFile file(tarn.lastFileWritten());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.size(), qint64(4 * 3 * 2)); // the 4 x 3 visible area, 16 bits a pixel
}

QTEST_GUILESS_MAIN(tst_FliLibrary)
#include "tst_flilibrary.moc"
