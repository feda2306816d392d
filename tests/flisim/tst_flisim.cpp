// The SDK-level simulated camera keeps the SDK's documented behaviour where
// the service relies on it: negative errno values, the status word's bits,
// the time left in milliseconds, rows of the binned width, enumeration by
// serial number, cancel and close. Loaded by path as the service loads it.
#include "TestFixture.h"

#include <QtTest>

#include <cerrno>
#include <cstdint>
#include <functional>

#include <libfli.h>

namespace {

// The library's functions used here, typed from the SDK's header.
// clang-format off
#define STARSCAM_SDK_FUNCTIONS(X) \
    X(FLICreateList) \
    X(FLIListFirst) \
    X(FLIListNext) \
    X(FLIDeleteList) \
    X(FLIOpen) \
    X(FLIClose) \
    X(FLIGetModel) \
    X(FLISetExposureTime) \
    X(FLISetFrameType) \
    X(FLISetHBin) \
    X(FLISetVBin) \
    X(FLISetImageArea) \
    X(FLIExposeFrame) \
    X(FLIGetDeviceStatus) \
    X(FLIGetExposureStatus) \
    X(FLIGrabRow) \
    X(FLICancelExposure)
// clang-format on

struct Sdk
{
#define STARSCAM_SDK_MEMBER(name) decltype(&::name) name = nullptr;
    STARSCAM_SDK_FUNCTIONS(STARSCAM_SDK_MEMBER)
#undef STARSCAM_SDK_MEMBER
};

// A 32 x 16 sensor, two cameras; the visible area starts at (14, 4).
constexpr long UlX = 14;
constexpr long UlY = 4;
const char* const Config = "SIM_CAMERAS 2\nSIM_WIDTH 32\nSIM_HEIGHT 16\n";

using SdkCall = std::function<long(const Sdk&, long)>;

} // namespace

Q_DECLARE_METATYPE(SdkCall)

class tst_FliSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void listing_data();
    void listing();
    void failuresAreNegativeErrno_data();
    void failuresAreNegativeErrno();
    void exposureStatusAndBinnedRows();
    void cancelDiscardsTheImage();
    void closeInvalidatesTheHandle();

private:
    // Opens sim0 and sets up a frame binned by 2, `ms` long.
    long openAndExpose(long ms);

    const WorkDir dir; // the current directory while the test runs
    QLibrary library{QStringLiteral(FLISIM_PATH)};
    Sdk sdk;
    long dev = FLI_INVALID_DEVICE;
};

void tst_FliSim::initTestCase()
{
    // The library reads config.cfg from the working directory at its first call.
    QVERIFY(dir.isValid());
    QFile config(dir.filePath("config.cfg"));
    QVERIFY(config.open(QIODevice::WriteOnly) && config.write(Config) > 0);
    config.close();
    QVERIFY2(library.load(), qPrintable(library.errorString()));
#define STARSCAM_SDK_RESOLVE(name)                                                                                     \
    sdk.name = reinterpret_cast<decltype(sdk.name)>(library.resolve(#name));                                           \
    QVERIFY(sdk.name);
    STARSCAM_SDK_FUNCTIONS(STARSCAM_SDK_RESOLVE)
#undef STARSCAM_SDK_RESOLVE
}

void tst_FliSim::cleanup()
{
    if (dev != FLI_INVALID_DEVICE)
        sdk.FLIClose(dev);
    dev = FLI_INVALID_DEVICE;
}

long tst_FliSim::openAndExpose(long ms)
{
    if (sdk.FLIOpen(&dev, const_cast<char*>("sim0"), FLIDOMAIN_USB | FLIDEVICE_CAMERA) != 0)
        return -1;
    // Upper-left in sensor pixels, lower-right as upper-left plus the binned size.
    long status = sdk.FLISetHBin(dev, 2);
    status = status ? status : sdk.FLISetVBin(dev, 2);
    status = status ? status : sdk.FLISetImageArea(dev, UlX, UlY, UlX + 16, UlY + 8);
    status = status ? status : sdk.FLISetExposureTime(dev, ms);
    return status ? status : sdk.FLIExposeFrame(dev);
}

void tst_FliSim::listing_data()
{
    QTest::addColumn<long>("domain");
    QTest::addColumn<QStringList>("listed"); // "file name|name" per device
    const long camera = FLIDOMAIN_USB | FLIDEVICE_CAMERA;
    QTest::newRow("models") << camera
                            << QStringList{"sim0|Simulated 32 x 16 CCD (SDK-level)",
                                           "sim1|Simulated 32 x 16 CCD (SDK-level)"};
    QTest::newRow("by serial") << (camera | FLIDEVICE_ENUMERATE_BY_SERIAL)
                               << QStringList{"sim0|SIM00001", "sim1|SIM00002"};
    QTest::newRow("other device type") << long(FLIDOMAIN_USB | FLIDEVICE_FOCUSER) << QStringList{};
}

void tst_FliSim::listing()
{
    QFETCH(long, domain);
    QFETCH(QStringList, listed);
    QCOMPARE(sdk.FLICreateList(domain), 0L);
    QStringList got;
    char file[64], name[64];
    long listedDomain = 0;
    for (long s = sdk.FLIListFirst(&listedDomain, file, sizeof file, name, sizeof name); s == 0;
         s = sdk.FLIListNext(&listedDomain, file, sizeof file, name, sizeof name)) {
        got << QStringLiteral("%1|%2").arg(file, name);
        QCOMPARE(listedDomain, long(FLIDOMAIN_USB | FLIDEVICE_CAMERA)); // what FLIOpen takes
    }
    QCOMPARE(sdk.FLIListNext(&listedDomain, file, sizeof file, name, sizeof name), long(-ENODEV));
    QCOMPARE(sdk.FLIDeleteList(), 0L);
    QCOMPARE(got, listed);
}

void tst_FliSim::failuresAreNegativeErrno_data()
{
    QTest::addColumn<SdkCall>("call"); // on the open device sim0
    QTest::addColumn<long>("status");
    static long d = 0;
    static char text[32];
    static std::uint16_t row[16];
    const auto camera = FLIDOMAIN_USB | FLIDEVICE_CAMERA;
    QTest::newRow("open of an unknown name")
        << SdkCall([=](const Sdk& s, long) { return s.FLIOpen(&d, const_cast<char*>("sim7"), camera); })
        << -long(ENODEV);
    QTest::newRow("no such device") << SdkCall([](const Sdk& s, long) {
        return s.FLIGetModel(12345, text, sizeof text);
    }) << -long(EBADF);
    QTest::newRow("frame type 4") << SdkCall([](const Sdk& s, long h) { return s.FLISetFrameType(h, 4); })
                                  << -long(EINVAL);
    QTest::newRow("status into nowhere") << SdkCall([](const Sdk& s, long h) {
        return s.FLIGetDeviceStatus(h, nullptr);
    }) << -long(EINVAL);
    QTest::newRow("row before any exposure")
        << SdkCall([](const Sdk& s, long h) { return s.FLIGrabRow(h, row, 16); }) << -long(ENODATA);
}

void tst_FliSim::failuresAreNegativeErrno()
{
    QFETCH(SdkCall, call);
    QFETCH(long, status);
    QCOMPARE(sdk.FLIOpen(&dev, const_cast<char*>("sim0"), FLIDOMAIN_USB | FLIDEVICE_CAMERA), 0L);
    QCOMPARE(call(sdk, dev), status);
}

void tst_FliSim::exposureStatusAndBinnedRows()
{
    QCOMPARE(openAndExpose(300), 0L);
    long status = 0, left = -1;
    QCOMPARE(sdk.FLIGetDeviceStatus(dev, &status), 0L);
    QCOMPARE(status & FLI_CAMERA_STATUS_MASK, long(FLI_CAMERA_STATUS_EXPOSING));
    QCOMPARE(status & long(FLI_CAMERA_DATA_READY), 0L);
    QCOMPARE(sdk.FLIGetExposureStatus(dev, &left), 0L);
    QVERIFY2(left > 100 && left <= 300, qPrintable(QString::number(left))); // milliseconds

    QTRY_VERIFY_WITH_TIMEOUT(sdk.FLIGetDeviceStatus(dev, &status) == 0 && (status & long(FLI_CAMERA_DATA_READY)), 5000);
    QCOMPARE(status, long(FLI_CAMERA_DATA_READY)); // all 32 bits in a positive long
    QCOMPARE(sdk.FLIGetExposureStatus(dev, &left), 0L);
    QCOMPARE(left, 0L);
    // 8 rows of 16 binned pixels, then nothing more.
    std::uint16_t row[16];
    for (int r = 0; r < 8; ++r)
        QCOMPARE(sdk.FLIGrabRow(dev, row, 16), 0L);
    QCOMPARE(sdk.FLIGrabRow(dev, row, 16), long(-ENODATA));
}

void tst_FliSim::cancelDiscardsTheImage()
{
    QCOMPARE(openAndExpose(60000), 0L);
    QCOMPARE(sdk.FLICancelExposure(dev), 0L);
    long status = -1, left = -1;
    QCOMPARE(sdk.FLIGetDeviceStatus(dev, &status), 0L);
    QCOMPARE(status, long(FLI_CAMERA_STATUS_IDLE));
    QCOMPARE(sdk.FLIGetExposureStatus(dev, &left), 0L);
    QCOMPARE(left, 0L);
    std::uint16_t row[16];
    QCOMPARE(sdk.FLIGrabRow(dev, row, 16), long(-ENODATA));
    QCOMPARE(sdk.FLICancelExposure(dev), 0L); // nothing exposing: harmless
}

void tst_FliSim::closeInvalidatesTheHandle()
{
    QCOMPARE(sdk.FLIOpen(&dev, const_cast<char*>("sim1"), FLIDOMAIN_USB | FLIDEVICE_CAMERA), 0L);
    char model[64];
    QCOMPARE(sdk.FLIGetModel(dev, model, sizeof model), 0L);
    QCOMPARE(sdk.FLIClose(dev), 0L);
    QCOMPARE(sdk.FLIGetModel(dev, model, sizeof model), long(-EBADF));
    QCOMPARE(sdk.FLIClose(dev), long(-EBADF));
    dev = FLI_INVALID_DEVICE;
}

QTEST_GUILESS_MAIN(tst_FliSim)
#include "tst_flisim.moc"
