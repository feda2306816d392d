#include "CameraBackend.h"
#include "FaultInjectingLibrary.h"
#include "NoCameraLibrary.h"
#include "RecordingLibrary.h"
#include "SimCamera.h"
#include "SimImage.h"
#include "SimSettings.h"
#include "TestFixture.h"

#include <QtTest>
#include <algorithm>
#include <cmath>
#include <vector>

using namespace camlib;

namespace {

// Calls one operation by name with arguments that succeed on an open camera.
long callOp(CameraLibrary& lib, const QString& op, long handle)
{
    char text[64];
    long a = 0, b = 0, c = 0, d = 0;
    double x = 0, y = 0;
    unsigned long status = 0;
    std::uint16_t row[64];
    if (op == "listCreate")
        return lib.listCreate(DeviceClassCamera);
    if (op == "listFirst")
        return lib.listFirst(a, text, sizeof text, text, sizeof text);
    if (op == "listNext")
        return lib.listNext(a, text, sizeof text, text, sizeof text);
    if (op == "listDelete")
        return lib.listDelete();
    if (op == "open")
        return lib.open(a, "sim0", DeviceClassCamera);
    if (op == "getLibVersion")
        return lib.getLibVersion(text, sizeof text);
    if (op == "getModel")
        return lib.getModel(handle, text, sizeof text);
    if (op == "getSerialString")
        return lib.getSerialString(handle, text, sizeof text);
    if (op == "getHWRevision")
        return lib.getHWRevision(handle, a);
    if (op == "getPixelSize")
        return lib.getPixelSize(handle, x, y);
    if (op == "getArrayArea")
        return lib.getArrayArea(handle, a, b, c, d);
    if (op == "getVisibleArea")
        return lib.getVisibleArea(handle, a, b, c, d);
    if (op == "setTemperature")
        return lib.setTemperature(handle, -10.0);
    if (op == "readTemperature")
        return lib.readTemperature(handle, ChannelCcd, x);
    if (op == "getCoolerPower")
        return lib.getCoolerPower(handle, x);
    if (op == "setExposureTime")
        return lib.setExposureTime(handle, 0);
    if (op == "setFrameType")
        return lib.setFrameType(handle, FrameNormal);
    if (op == "setHBin")
        return lib.setHBin(handle, 1);
    if (op == "setVBin")
        return lib.setVBin(handle, 1);
    if (op == "setImageArea")
        return lib.setImageArea(handle, 14, 4, 46, 24);
    if (op == "setTDI")
        return lib.setTDI(handle, 0, 0);
    if (op == "exposeFrame")
        return lib.exposeFrame(handle);
    if (op == "getDeviceStatus")
        return lib.getDeviceStatus(handle, status);
    if (op == "getExposureStatus")
        return lib.getExposureStatus(handle, a);
    if (op == "grabRow")
        return lib.grabRow(handle, row, 32);
    if (op == "cancelExposure")
        return lib.cancelExposure(handle);
    if (op == "close")
        return lib.close(handle);
    qFatal("unknown operation %s", qPrintable(op));
    return -1;
}

long openSim(CameraLibrary& lib)
{
    long handle = 0;
    return lib.open(handle, "sim0", DeviceClassCamera) == 0 ? handle : 0;
}

std::vector<std::uint16_t> grab(CameraLibrary& lib, long handle, int width)
{
    std::vector<std::uint16_t> row(std::size_t(width), 0xABCD);
    if (lib.grabRow(handle, row.data(), row.size()) != 0)
        row.clear();
    return row;
}

} // namespace

class TestSimCamera : public QObject
{
    Q_OBJECT

private slots:
    void deviceList_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("expected");
        QTest::newRow("none") << 0 << 0x102 << 0;
        QTest::newRow("one") << 1 << 0x102 << 1;
        QTest::newRow("many") << 25 << 0x102 << 25;
        QTest::newRow("not cameras") << 3 << 0x002 << 0;
    }
    void deviceList()
    {
        QFETCH(int, cameras);
        QFETCH(int, mask);
        QFETCH(int, expected);
        SimSettings settings;
        settings.cameras = cameras;
        SimCamera cam(settings);
        long domain = 0;
        char name[1024], description[1024];
        QVERIFY(cam.listFirst(domain, name, sizeof name, description, sizeof description) != 0);
        QCOMPARE(cam.listCreate(mask), 0L);
        QStringList names;
        for (long s = cam.listFirst(domain, name, sizeof name, description, sizeof description); s == 0;
             s = cam.listNext(domain, name, sizeof name, description, sizeof description)) {
            names << name;
            QCOMPARE(domain, DeviceClassCamera);
            QVERIFY(qstrlen(description) > 0);
        }
        QCOMPARE(names.size(), expected);
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(names[i], QStringLiteral("sim%1").arg(i));
        QVERIFY(cam.listNext(domain, name, sizeof name, description, sizeof description) != 0);
        QCOMPARE(cam.listDelete(), 0L);
        QVERIFY(cam.listFirst(domain, name, sizeof name, description, sizeof description) != 0);
    }

    void openDevice_data()
    {
        QTest::addColumn<int>("cameras");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("domain");
        QTest::addColumn<bool>("ok");
        QTest::newRow("first") << 1 << QByteArray("sim0") << 0x102 << true;
        QTest::newRow("last of 25") << 25 << QByteArray("sim24") << 0x102 << true;
        QTest::newRow("beyond the list") << 1 << QByteArray("sim1") << 0x102 << false;
        QTest::newRow("no cameras") << 0 << QByteArray("sim0") << 0x102 << false;
        QTest::newRow("wrong case") << 1 << QByteArray("SIM0") << 0x102 << false;
        QTest::newRow("prefix only") << 1 << QByteArray("sim") << 0x102 << false;
        QTest::newRow("empty") << 1 << QByteArray("") << 0x102 << false;
        QTest::newRow("wrong domain") << 1 << QByteArray("sim0") << 0x101 << false;
    }
    void openDevice()
    {
        QFETCH(int, cameras);
        QFETCH(QByteArray, name);
        QFETCH(int, domain);
        QFETCH(bool, ok);
        SimSettings settings;
        settings.cameras = cameras;
        SimCamera cam(settings);
        long handle = 12345;
        QCOMPARE(cam.open(handle, name.constData(), domain) == 0, ok);
        char model[64];
        if (ok) {
            QCOMPARE(cam.getModel(handle, model, sizeof model), 0L);
            QVERIFY(cam.getModel(handle + 1, model, sizeof model) != 0);
        } else {
            QCOMPARE(handle, -1L);
            QVERIFY(cam.getModel(1, model, sizeof model) != 0);
        }
    }

    void handleChecks_data()
    {
        QTest::addColumn<QString>("op");
        for (const QString& op : SimFault::operationNames().mid(6))
            QTest::newRow(qPrintable(op)) << op;
    }
    void handleChecks()
    {
        QFETCH(QString, op);
        SimCamera cam;
        QVERIFY(callOp(cam, op, 1) != 0);
        const long handle = openSim(cam);
        QVERIFY(handle != 0);
        QVERIFY(callOp(cam, op, handle + 7) != 0);
        if (op == "grabRow")
            QCOMPARE(cam.exposeFrame(handle), 0L);
        QCOMPARE(callOp(cam, op, handle), 0L);
        const long second = openSim(cam);
        QVERIFY(second != handle);
        QVERIFY(callOp(cam, op, handle) != 0);

        NoCameraLibrary none;
        QVERIFY(callOp(none, op, handle) != 0);
    }

    void listAndVersionWithoutOpen()
    {
        SimSettings settings;
        settings.cameras = 2; // so that listNext finds one
        SimCamera cam(settings);
        NoCameraLibrary none;
        for (const QString& op : SimFault::operationNames().mid(0, 6)) {
            QCOMPARE(callOp(cam, op, 0), 0L);
            QVERIFY2(callOp(none, op, 0) != 0, qPrintable(op));
        }
    }

    void geometry_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QList<long>>("array");
        QTest::addColumn<QList<long>>("visible");
        QTest::addColumn<QString>("model");
        QTest::newRow("default") << 1536 << 1024 << QList<long>{0, 0, 1564, 1032} << QList<long>{14, 4, 1550, 1028}
                                 << "Simulated KAF-1603 CCD";
        QTest::newRow("benchmark") << 4096 << 4096 << QList<long>{0, 0, 4124, 4104} << QList<long>{14, 4, 4110, 4100}
                                   << "Simulated 4096 x 4096 CCD";
    }
    void geometry()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QList<long>, array);
        QFETCH(QList<long>, visible);
        QFETCH(QString, model);
        SimSettings settings;
        settings.width = width;
        settings.height = height;
        SimCamera cam(settings);
        const long h = openSim(cam);
        long a[4];
        QCOMPARE(cam.getArrayArea(h, a[0], a[1], a[2], a[3]), 0L);
        QCOMPARE((QList<long>{a[0], a[1], a[2], a[3]}), array);
        QCOMPARE(cam.getVisibleArea(h, a[0], a[1], a[2], a[3]), 0L);
        QCOMPARE((QList<long>{a[0], a[1], a[2], a[3]}), visible);
        double pw = 0, ph = 0;
        QCOMPARE(cam.getPixelSize(h, pw, ph), 0L);
        QCOMPARE(pw, 9e-06);
        QCOMPARE(ph, 9e-06);
        char text[2047];
        QCOMPARE(cam.getModel(h, text, sizeof text), 0L);
        QCOMPARE(QString(text), model);
    }

    void textTruncation_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("text");
        QTest::newRow("version") << "getLibVersion" << 1024 << true << "starscam camera simulator 1.0";
        QTest::newRow("version cut") << "getLibVersion" << 9 << true << "starscam";
        QTest::newRow("terminator only") << "getLibVersion" << 1 << true << "";
        QTest::newRow("no room") << "getLibVersion" << 0 << false << "";
        QTest::newRow("model cut") << "getModel" << 10 << true << "Simulated";
        QTest::newRow("serial") << "getSerialString" << 2047 << true << "SIM00001";
        QTest::newRow("serial cut") << "getSerialString" << 4 << true << "SIM";
        QTest::newRow("list name cut") << "listFirst" << 3 << true << "si";
    }
    void textTruncation()
    {
        QFETCH(QString, op);
        QFETCH(int, size);
        QFETCH(bool, ok);
        QFETCH(QString, text);
        SimCamera cam;
        const long h = openSim(cam);
        cam.listCreate(DeviceClassCamera);
        QByteArray buffer(size + 8, 'X');
        long domain = 0, status = -1;
        char description[64];
        if (op == "getLibVersion")
            status = cam.getLibVersion(buffer.data(), std::size_t(size));
        if (op == "getModel")
            status = cam.getModel(h, buffer.data(), std::size_t(size));
        if (op == "getSerialString")
            status = cam.getSerialString(h, buffer.data(), std::size_t(size));
        if (op == "listFirst")
            status = cam.listFirst(domain, buffer.data(), std::size_t(size), description, sizeof description);
        QCOMPARE(status == 0, ok);
        if (ok)
            QCOMPARE(QString(buffer.constData()), text);
        QCOMPARE(buffer.mid(size), QByteArray(8, 'X')); // nothing written past the size
    }

    void cooler_data()
    {
        QTest::addColumn<double>("ambient");
        QTest::addColumn<double>("setPoint"); // NaN: never set
        QTest::addColumn<double>("final");
        QTest::addColumn<double>("power");
        QTest::newRow("never set") << 22.0 << qQNaN() << 22.0 << 0.0;
        QTest::newRow("start-up 20") << 22.0 << 20.0 << 20.0 << 100.0 * 2 / 45;
        QTest::newRow("cool to -10") << 22.0 << -10.0 << -10.0 << 100.0 * 32 / 45;
        QTest::newRow("deeper than it can") << 22.0 << -40.0 << -23.0 << 100.0;
        QTest::newRow("warm room") << 30.0 << -20.0 << -15.0 << 100.0;
        QTest::newRow("above ambient") << 22.0 << 30.0 << 22.0 << 0.0;
    }
    void cooler()
    {
        QFETCH(double, ambient);
        QFETCH(double, setPoint);
        QFETCH(double, final);
        QFETCH(double, power);
        qint64 now = 1000;
        SimSettings settings;
        settings.ambient = ambient;
        settings.coolerTauMs = 4000;
        SimCamera cam(settings, [&] { return now; });
        const long h = openSim(cam);
        double ccd = 0, base = 0, p = -1;
        QCOMPARE(cam.readTemperature(h, ChannelCcd, ccd), 0L);
        QCOMPARE(ccd, ambient);
        if (!std::isnan(setPoint))
            QCOMPARE(cam.setTemperature(h, setPoint), 0L);

        // One time constant covers 1 - 1/e of the way, without overshoot after.
        now += 4000;
        QCOMPARE(cam.readTemperature(h, ChannelCcd, ccd), 0L);
        QVERIFY(std::abs(ccd - (final + (ambient - final) / M_E)) < 0.01);
        double previous = ccd;
        for (int i = 0; i < 40; ++i) {
            now += 2000;
            QCOMPARE(cam.readTemperature(h, ChannelCcd, ccd), 0L);
            QVERIFY(std::abs(ccd - final) <= std::abs(previous - final));
            QVERIFY((ccd - final) * (ambient - final) >= 0);
            previous = ccd;
        }
        QVERIFY(std::abs(ccd - final) < 0.01);
        QCOMPARE(cam.getCoolerPower(h, p), 0L);
        QVERIFY(std::abs(p - power) < 0.1);
        QCOMPARE(cam.readTemperature(h, ChannelBase, base), 0L);
        QVERIFY(base >= ambient && base <= ambient + 5);
        QCOMPARE(base > ambient, power > 0);
        QVERIFY(cam.readTemperature(h, 2, ccd) != 0);
    }

    void setPointLimits()
    {
        SimCamera cam;
        const long h = openSim(cam);
        QCOMPARE(cam.setTemperature(h, -55.0), 0L);
        QCOMPARE(cam.setTemperature(h, 45.0), 0L);
        for (double bad : {-80.0, 60.0, qQNaN(), qInf()})
            QVERIFY(cam.setTemperature(h, bad) != 0);
    }

    void exposureTiming_data()
    {
        QTest::addColumn<int>("exposureMs");
        QTest::addColumn<int>("frameType");
        QTest::addColumn<bool>("statusUnknown");
        QTest::newRow("normal 1 s") << 1000 << 0 << false;
        QTest::newRow("status unknown") << 1000 << 0 << true;
        QTest::newRow("flood 300 ms") << 300 << 3 << false;
        QTest::newRow("dark 50 ms, unknown") << 50 << 1 << true;
        QTest::newRow("zero") << 0 << 0 << false;
    }
    void exposureTiming()
    {
        QFETCH(int, exposureMs);
        QFETCH(int, frameType);
        QFETCH(bool, statusUnknown);
        qint64 now = 5000;
        SimSettings settings;
        settings.statusUnknown = statusUnknown;
        SimCamera cam(settings, [&] { return now; });
        const long h = openSim(cam);
        const unsigned long exposing = statusUnknown ? StatusUnknown : SimCamera::ExposingStatus;
        const unsigned long ready = statusUnknown ? StatusUnknown : StatusDataReady;
        const unsigned long idle = statusUnknown ? StatusUnknown : SimCamera::IdleStatus;
        unsigned long status = 0;
        long left = -1;
        QCOMPARE(cam.getDeviceStatus(h, status), 0L);
        QCOMPARE(status, idle);
        QCOMPARE(cam.setImageArea(h, 14, 4, 64, 14), 0L);
        QCOMPARE(cam.setFrameType(h, frameType), 0L);
        QCOMPARE(cam.setExposureTime(h, exposureMs), 0L);
        QCOMPARE(cam.exposeFrame(h), 0L);
        if (exposureMs > 0) {
            QCOMPARE(cam.getDeviceStatus(h, status), 0L);
            QCOMPARE(status, exposing);
            QCOMPARE(cam.getExposureStatus(h, left), 0L);
            QCOMPARE(left, long(exposureMs));
            now += exposureMs - 1;
            QCOMPARE(cam.getExposureStatus(h, left), 0L);
            QCOMPARE(left, 1L);
            QVERIFY(grab(cam, h, 50).empty());
            now += 1;
        }
        QCOMPARE(cam.getDeviceStatus(h, status), 0L);
        QCOMPARE(status, ready);
        QCOMPARE(cam.getExposureStatus(h, left), 0L);
        QCOMPARE(left, 0L);
        for (int row = 0; row < 10; ++row)
            QCOMPARE(grab(cam, h, 50).size(), std::size_t(50));
        QCOMPARE(cam.getDeviceStatus(h, status), 0L);
        QCOMPARE(status, idle);
        QVERIFY(grab(cam, h, 50).empty());
    }

    void exposeRestarts()
    {
        qint64 now = 0;
        SimCamera cam(SimSettings(), [&] { return now; });
        const long h = openSim(cam);
        cam.setImageArea(h, 14, 4, 30, 8);
        cam.setExposureTime(h, 1000);
        cam.exposeFrame(h);
        now = 600;
        QCOMPARE(cam.exposeFrame(h), 0L);
        cam.setExposureTime(h, 5); // latched at exposeFrame: no effect on this one
        long left = 0;
        cam.getExposureStatus(h, left);
        QCOMPARE(left, 1000L);
        now = 1599;
        QVERIFY(grab(cam, h, 16).empty());
        now = 1600;
        QCOMPARE(grab(cam, h, 16).size(), std::size_t(16));
        QCOMPARE(cam.frameNumber(), quint64(2));
    }

    // A cancelled frame is gone, whether it was exposing or being read out;
    // a closed device answers nothing until it is opened again.
    void cancelAndClose()
    {
        qint64 now = 0;
        SimCamera cam(SimSettings(), [&] { return now; });
        const long h = openSim(cam);
        cam.setImageArea(h, 14, 4, 30, 8);
        cam.setExposureTime(h, 1000);
        for (bool reading : {false, true}) {
            QCOMPARE(cam.exposeFrame(h), 0L);
            now += reading ? 1000 : 500;
            if (reading)
                QCOMPARE(grab(cam, h, 16).size(), std::size_t(16));
            QCOMPARE(cam.cancelExposure(h), 0L);
            unsigned long status = 0;
            QCOMPARE(cam.getDeviceStatus(h, status), 0L);
            QCOMPARE(status, (unsigned long)SimCamera::IdleStatus);
            now += 1000;
            QVERIFY(grab(cam, h, 16).empty());
        }
        QCOMPARE(cam.cancelExposure(h), 0L); // nothing exposing: harmless
        QCOMPARE(cam.close(h), 0L);
        QVERIFY(cam.exposeFrame(h) != 0);
        QVERIFY(cam.close(h) != 0);
        QVERIFY(openSim(cam) != 0);
    }

    void rows_data()
    {
        QTest::addColumn<QList<long>>("area"); // ulX, ulY, lrX, lrY
        QTest::addColumn<int>("hbin");
        QTest::addColumn<int>("vbin");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("rowUs");
        QTest::newRow("full") << QList<long>{14, 4, 1550, 1028} << 1 << 1 << 1536 << 0;
        QTest::newRow("binned 2x2") << QList<long>{14, 4, 782, 516} << 2 << 2 << 768 << 0;
        QTest::newRow("binned 3x1") << QList<long>{14, 4, 526, 1028} << 3 << 1 << 512 << 0;
        QTest::newRow("subframe") << QList<long>{300, 200, 364, 232} << 1 << 1 << 64 << 0;
        QTest::newRow("wider buffer") << QList<long>{300, 200, 364, 232} << 1 << 1 << 80 << 0;
        QTest::newRow("narrower buffer") << QList<long>{300, 200, 364, 232} << 1 << 1 << 40 << 0;
        QTest::newRow("paced read-out") << QList<long>{14, 4, 46, 24} << 1 << 1 << 32 << 200;
    }
    void rows()
    {
        QFETCH(QList<long>, area);
        QFETCH(int, hbin);
        QFETCH(int, vbin);
        QFETCH(int, width);
        QFETCH(int, rowUs);
        SimSettings settings;
        settings.rowMicroseconds = rowUs;
        SimCamera cam(settings);
        const long h = openSim(cam);
        QCOMPARE(cam.setImageArea(h, area[0], area[1], area[2], area[3]), 0L);
        QCOMPARE(cam.setHBin(h, hbin), 0L);
        QCOMPARE(cam.setVBin(h, vbin), 0L);
        QCOMPARE(cam.setExposureTime(h, 0), 0L);
        QCOMPARE(cam.exposeFrame(h), 0L);
        const int areaWidth = int(area[2] - area[0]);
        const int height = int(area[3] - area[1]);
        const SimImage::FrameParams frame = cam.lastFrame();
        std::vector<std::uint16_t> expected(static_cast<std::size_t>(width));
        for (int r = 0; r < height; ++r) {
            const auto row = grab(cam, h, width);
            QCOMPARE(row.size(), std::size_t(width));
            cam.image().renderRow(frame, r, expected.data(), width);
            QVERIFY2(row == expected, qPrintable(QString("row %1 out of order").arg(r)));
            for (int c = areaWidth; c < width; ++c)
                QCOMPARE(row[std::size_t(c)], SimImage::BiasLevel);
        }
        QVERIFY(grab(cam, h, width).empty());
    }

    void oversizedFrameRefused()
    {
        SimCamera cam;
        const long h = openSim(cam);
        QVERIFY(cam.setImageArea(h, 14, 4, 1565, 100) != 0); // past the array
        QVERIFY(cam.setImageArea(h, 20, 4, 20, 100) != 0);   // empty
        QCOMPARE(cam.setImageArea(h, 14, 4, 1550, 1028), 0L);
        QCOMPARE(cam.setHBin(h, 2), 0L); // unbinned size with binning on
        QVERIFY(cam.exposeFrame(h) != 0);
        QVERIFY(cam.setHBin(h, 0) != 0);
        QVERIFY(cam.setVBin(h, 17) != 0);
        QVERIFY(cam.setFrameType(h, 4) != 0);
        QVERIFY(cam.setExposureTime(h, -1) != 0);
    }

    void determinism()
    {
        SimImage image(14, 4, 1536, 1024);
        SimImage::FrameParams f{14, 4, 1536, 1024, 1, 1, FrameNormal, 2000, 7, 1};
        std::vector<std::uint16_t> a(1536), b(1536);
        image.renderRow(f, 512, a.data(), 1536);
        SimImage(14, 4, 1536, 1024).renderRow(f, 512, b.data(), 1536);
        QVERIFY(a == b);
        f.frameNumber = 2;
        image.renderRow(f, 512, b.data(), 1536);
        QVERIFY(a != b);
        f.frameNumber = 1;
        f.seed = 8;
        image.renderRow(f, 512, b.data(), 1536);
        QVERIFY(a != b);
        f.seed = 7;
        image.renderRow(f, 513, b.data(), 1536);
        QVERIFY(a != b);

        SimSettings settings;
        settings.seed = 7;
        SimCamera one(settings), two(settings);
        for (SimCamera* cam : {&one, &two}) {
            const long h = openSim(*cam);
            cam->setExposureTime(h, 2000);
            cam->exposeFrame(h);
            cam->setExposureTime(h, 0);
            cam->exposeFrame(h);
        }
        QVERIFY(grab(one, 1, 1536) == grab(two, 1, 1536));
    }

    void levels_data()
    {
        QTest::addColumn<int>("frameType");
        QTest::addColumn<int>("exposureMs");
        QTest::addColumn<int>("bin");
        QTest::newRow("bias") << 0 << 0 << 1;
        QTest::newRow("dark 100 s") << 1 << 100000 << 1;
        QTest::newRow("dark 100 s 2x2") << 1 << 100000 << 2;
        QTest::newRow("normal 30 s 4x4") << 0 << 30000 << 4;
    }
    void levels()
    {
        QFETCH(int, frameType);
        QFETCH(int, exposureMs);
        QFETCH(int, bin);
        // The first rows of the visible area hold no star.
        SimImage image(14, 4, 1536, 1024);
        const int width = 1536 / bin;
        const SimImage::FrameParams f{14, 4, width, 1024 / bin, bin, bin, frameType, exposureMs, 3, 1};
        std::vector<std::uint16_t> row(static_cast<std::size_t>(width));
        double sum = 0, squares = 0;
        const int rows = 80 / bin;
        for (int r = 0; r < rows; ++r) {
            image.renderRow(f, r, row.data(), width);
            for (std::uint16_t v : row) {
                sum += v;
                squares += double(v) * v;
            }
        }
        const double n = double(rows) * width;
        const double mean = sum / n;
        const double sigma = std::sqrt(squares / n - mean * mean);
        const double level = SimImage::BiasLevel + SimImage::DarkPerSecond * exposureMs / 1000.0 * bin * bin;
        QVERIFY2(std::abs(mean - level) < 0.5, qPrintable(QString::number(mean)));
        QVERIFY2(std::abs(sigma - SimImage::ReadNoise) < 0.5, qPrintable(QString::number(sigma)));
    }

    void stars_data()
    {
        QTest::addColumn<int>("star");
        for (int i = 0; i < 8; ++i)
            QTest::newRow(qPrintable(QString("star %1").arg(i))) << i;
    }
    void stars()
    {
        QFETCH(int, star);
        SimImage image(14, 4, 1536, 1024);
        QCOMPARE(image.stars().size(), std::size_t(8));
        const SimImage::Star s = image.stars()[std::size_t(star)];
        struct Light
        {
            double total; // summed over a box around the star, above bias and dark
            double peak;  // brightest pixel as read
        };
        const auto light = [&](int type, int ms, int bin) {
            const long left = long(s.x) - 16, top = long(s.y) - 16;
            const SimImage::FrameParams f{left, top, 32 / bin, 32 / bin, bin, bin, type, ms, 5, 1};
            const double level = SimImage::BiasLevel + SimImage::DarkPerSecond * ms / 1000.0 * bin * bin;
            std::vector<std::uint16_t> row(std::size_t(32 / bin));
            Light result{0, 0};
            for (int r = 0; r < 32 / bin; ++r) {
                image.renderRow(f, r, row.data(), 32 / bin);
                for (std::uint16_t v : row) {
                    result.total += v - level;
                    result.peak = std::max(result.peak, double(v));
                }
            }
            return result;
        };
        // Half of full scale at the peak: nothing clips, so sums are exact but for noise.
        const int ms = int(10000.0 / s.peakPerSecond * 1000);
        const double level = SimImage::BiasLevel + SimImage::DarkPerSecond * ms / 1000.0;
        const Light one = light(FrameNormal, ms, 1);
        const double expected = 2 * M_PI * s.sigma * s.sigma * s.peakPerSecond * ms / 1000.0;
        QVERIFY2(std::abs(one.total - expected) < 0.03 * expected, qPrintable(QString::number(one.total)));
        QVERIFY(one.peak > level + 0.5 * s.peakPerSecond * ms / 1000.0);
        QVERIFY(std::abs(light(FrameNormal, 2 * ms, 1).total - 2 * one.total) < 0.03 * one.total);
        const Light binned = light(FrameNormal, ms, 2);
        QVERIFY(std::abs(binned.total - one.total) < 0.03 * one.total);
        QVERIFY(binned.peak > one.peak);
        QVERIFY(light(FrameRbiFlush, ms, 1).peak < level + 60);
        QCOMPARE(light(FrameNormal, ms * 10, 1).peak, 65535.0);
    }

    void starThroughCamera_data()
    {
        QTest::addColumn<int>("hbin");
        QTest::addColumn<int>("vbin");
        QTest::newRow("1x1") << 1 << 1;
        QTest::newRow("2x2") << 2 << 2;
        QTest::newRow("1x3") << 1 << 3;
        QTest::newRow("4x2") << 4 << 2;
    }
    void starThroughCamera()
    {
        QFETCH(int, hbin);
        QFETCH(int, vbin);
        qint64 now = 0;
        SimCamera cam(SimSettings(), [&] { return now; });
        const long h = openSim(cam);
        const SimImage::Star s = cam.image().stars()[0];
        const long left = long(s.x) - 24, top = long(s.y) - 24;
        const int width = 48 / hbin, height = 48 / vbin;
        QCOMPARE(cam.setImageArea(h, left, top, left + width, top + height), 0L);
        cam.setHBin(h, hbin);
        cam.setVBin(h, vbin);
        cam.setExposureTime(h, 200); // short enough that even 4x2 sums do not clip
        QCOMPARE(cam.exposeFrame(h), 0L);
        now = 200;

        // The light's centroid, in sensor coordinates, is the star's whatever the binning.
        const double level = SimImage::BiasLevel + SimImage::DarkPerSecond * 0.2 * hbin * vbin;
        double sum = 0, sx = 0, sy = 0;
        for (int r = 0; r < height; ++r) {
            const auto row = grab(cam, h, width);
            QCOMPARE(row.size(), std::size_t(width));
            for (int c = 0; c < width; ++c) {
                const double w = row[std::size_t(c)] - level;
                sum += w;
                sx += w * (left + (c + 0.5) * hbin);
                sy += w * (top + (r + 0.5) * vbin);
            }
        }
        QVERIFY2(std::abs(sx / sum - s.x) < 0.5, qPrintable(QString::number(sx / sum - s.x)));
        QVERIFY2(std::abs(sy / sum - s.y) < 0.5, qPrintable(QString::number(sy / sum - s.y)));
    }

    void frameTypes_data()
    {
        QTest::addColumn<int>("frameType");
        QTest::addColumn<bool>("saturated");
        QTest::newRow("flood") << 3 << true;
        QTest::newRow("flood bit only") << 2 << true;
        QTest::newRow("flush is a dark") << 1 << false;
    }
    void frameTypes()
    {
        QFETCH(int, frameType);
        QFETCH(bool, saturated);
        SimImage image(14, 4, 1536, 1024);
        const SimImage::FrameParams f{14, 4, 1536, 1024, 1, 1, frameType, 10, 1, 1};
        std::vector<std::uint16_t> row(1600);
        image.renderRow(f, int(image.stars()[0].y) - 4, row.data(), 1600);
        const auto maxIt = std::max_element(row.begin(), row.begin() + 1536);
        QCOMPARE(*maxIt == 65535, saturated);
        QCOMPARE(*std::min_element(row.begin(), row.begin() + 1536) == 65535, saturated);
        QCOMPARE(row[1599], SimImage::BiasLevel);
    }

    void faults_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<int>("atCall");
        QTest::addColumn<bool>("once");
        QTest::addColumn<long>("status");
        QTest::addColumn<bool>("fromConfig");
        QTest::newRow("open from 1st") << "open" << 1 << false << -5L << false;
        QTest::newRow("open via config") << "open" << 1 << false << -5L << true;
        QTest::newRow("grabRow from 5th") << "grabRow" << 5 << false << -5L << true;
        QTest::newRow("exposeFrame once at 2nd") << "exposeFrame" << 2 << true << -5L << true;
        QTest::newRow("listNext from 3rd") << "listNext" << 3 << false << -7L << false;
        QTest::newRow("readTemperature once, -19") << "readTemperature" << 3 << true << -19L << true;
        QTest::newRow("getDeviceStatus from 2nd") << "getDeviceStatus" << 2 << false << -5L << false;
        QTest::newRow("getLibVersion once") << "getLibVersion" << 1 << true << -5L << false;
    }
    void faults()
    {
        QFETCH(QString, op);
        QFETCH(int, atCall);
        QFETCH(bool, once);
        QFETCH(long, status);
        QFETCH(bool, fromConfig);
        FaultSettings faultSettings;
        if (fromConfig) {
            const QString item = QString("%1@%2%3=%4").arg(op).arg(atCall).arg(once ? "once" : "").arg(status);
            faultSettings = *FaultSettings::fromConfig({{"SIM_FAIL", item}});
            QCOMPARE(faultSettings.faults.size(), 1);
        }
        SimSettings settings;
        settings.cameras = 25;
        SimCamera sim(settings);
        FaultInjectingLibrary cam(sim, faultSettings);
        if (!fromConfig)
            QVERIFY(once ? cam.failOnce(op, atCall, status) : cam.failFrom(op, atCall, status));
        long handle = 0;
        if (op != "open") {
            handle = openSim(cam);
            QVERIFY(handle != 0);
            cam.listCreate(DeviceClassCamera);
            cam.setImageArea(handle, 14, 4, 46, 24);
            cam.exposeFrame(handle);
        }
        cam.resetCallCounts();
        int passed = 0;
        for (int call = 1; call <= atCall + 2; ++call) {
            const bool fails = once ? call == atCall : call >= atCall;
            QCOMPARE(callOp(cam, op, handle), fails ? status : 0L);
            passed += fails ? 0 : 1;
        }
        // A failed call never reaches the camera.
        if (op == "exposeFrame")
            QCOMPARE(sim.frameNumber(), quint64(1 + passed));
        QCOMPARE(cam.callCount(op), atCall + 2);
        cam.clearFaults();
        QCOMPARE(callOp(cam, op, handle), 0L);
    }

    void faultSwitchesRefuseNonsense()
    {
        SimCamera sim;
        FaultInjectingLibrary cam(sim);
        QVERIFY(!cam.failFrom("grabrow", 1));
        QVERIFY(!cam.failFrom("grabRow", 0));
        QVERIFY(!cam.failOnce("grabRow", 1, 0));
        QCOMPARE(cam.callCount("nothing"), -1);
    }

    void forcedStatus_data()
    {
        QTest::addColumn<uint>("word");
        QTest::newRow("exposing forever") << 2u;
        QTest::newRow("always ready") << 0x80000000u;
        QTest::newRow("unknown") << 0xFFFFFFFFu;
    }
    void forcedStatus()
    {
        QFETCH(uint, word);
        qint64 now = 0;
        const auto faultSettings = FaultSettings::fromConfig({{"SIM_FORCE_STATUS", QString::number(word)}});
        QVERIFY(faultSettings);
        SimCamera sim(SimSettings(), [&] { return now; });
        FaultInjectingLibrary cam(sim, *faultSettings);
        const long h = openSim(cam);
        cam.setImageArea(h, 14, 4, 46, 5);
        cam.setExposureTime(h, 100);
        unsigned long status = 0;
        long left = 0;
        for (int step = 0; step < 3; ++step) {
            QCOMPARE(cam.getDeviceStatus(h, status), 0L);
            QCOMPARE(status, (unsigned long)word);
            if (step == 0)
                cam.exposeFrame(h);
            if (step == 1) {
                cam.getExposureStatus(h, left);
                QCOMPARE(left, 100L); // the time left still tells the truth
                now = 100;
            }
        }
        QCOMPARE(grab(cam, h, 32).size(), std::size_t(32));
        cam.setForcedStatus(std::nullopt);
        QCOMPARE(cam.getDeviceStatus(h, status), 0L);
        QCOMPARE(status, (unsigned long)SimCamera::IdleStatus);
    }

    void config_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("logged");
        QTest::newRow("cameras") << "SIM_CAMERAS"
                                 << "25"
                                 << "25" << false;
        QTest::newRow("no cameras") << "SIM_CAMERAS"
                                    << "0"
                                    << "0" << false;
        QTest::newRow("negative cameras") << "SIM_CAMERAS"
                                          << "-1"
                                          << "1" << true;
        QTest::newRow("cameras word") << "SIM_CAMERAS"
                                      << "two"
                                      << "1" << true;
        QTest::newRow("width") << "SIM_WIDTH"
                               << "4096"
                               << "4096" << false;
        QTest::newRow("width zero") << "SIM_WIDTH"
                                    << "0"
                                    << "1536" << true;
        QTest::newRow("width junk") << "SIM_WIDTH"
                                    << "4096x"
                                    << "1536" << true;
        QTest::newRow("height huge") << "SIM_HEIGHT"
                                     << "99999999999"
                                     << "1024" << true;
        QTest::newRow("unknown on") << "SIM_STATUS_UNKNOWN"
                                    << "1"
                                    << "1" << false;
        QTest::newRow("unknown yes") << "SIM_STATUS_UNKNOWN"
                                     << "yes"
                                     << "1" << false;
        QTest::newRow("unknown maybe") << "SIM_STATUS_UNKNOWN"
                                       << "maybe"
                                       << "0" << true;
        QTest::newRow("row us") << "SIM_ROW_US"
                                << "250"
                                << "250" << false;
        QTest::newRow("row us negative") << "SIM_ROW_US"
                                         << "-5"
                                         << "0" << true;
        QTest::newRow("seed hex") << "SIM_SEED"
                                  << "0x2a"
                                  << "42" << false;
        QTest::newRow("seed junk") << "SIM_SEED"
                                   << "random"
                                   << "1" << true;
        QTest::newRow("ambient") << "SIM_AMBIENT"
                                 << "-5.5"
                                 << "-5.5" << false;
        QTest::newRow("ambient nan") << "SIM_AMBIENT"
                                     << "nan"
                                     << "22" << true;
        QTest::newRow("ambient hot") << "SIM_AMBIENT"
                                     << "200"
                                     << "22" << true;
        QTest::newRow("tau") << "SIM_COOLER_TAU_MS"
                             << "1000"
                             << "1000" << false;
        QTest::newRow("tau zero") << "SIM_COOLER_TAU_MS"
                                  << "0"
                                  << "4000" << true;
        QTest::newRow("forced") << "SIM_FORCE_STATUS"
                                << "0x80000000"
                                << "2147483648" << false;
        QTest::newRow("forced junk") << "SIM_FORCE_STATUS"
                                     << "ready"
                                     << "none" << true;
    }
    void config()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, result);
        QFETCH(bool, logged);
        LogCapture log;
        const SimSettings s = SimSettings::fromConfig({{key, value}, {"UNRELATED", "x"}});
        const auto f = FaultSettings::fromConfig({{key, value}, {"UNRELATED", "x"}});
        const QString forced = f && f->forcedStatus ? QString::number(*f->forcedStatus) : QStringLiteral("none");
        const QMap<QString, QString> fields{
            {"SIM_CAMERAS", QString::number(s.cameras)},
            {"SIM_WIDTH", QString::number(s.width)},
            {"SIM_HEIGHT", QString::number(s.height)},
            {"SIM_STATUS_UNKNOWN", QString::number(int(s.statusUnknown))},
            {"SIM_ROW_US", QString::number(s.rowMicroseconds)},
            {"SIM_SEED", QString::number(s.seed)},
            {"SIM_AMBIENT", QString::number(s.ambient)},
            {"SIM_COOLER_TAU_MS", QString::number(s.coolerTauMs)},
            {"SIM_FORCE_STATUS", forced},
        };
        QCOMPARE(fields.value(key), result);
        QCOMPARE(log.contains(key), logged);
    }

    void failConfig_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("loggedItems");
        QTest::newRow("name only") << "open" << QStringList{"open@1=-5"} << 0;
        QTest::newRow("from k") << "grabRow@5" << QStringList{"grabRow@5=-5"} << 0;
        QTest::newRow("once") << "exposeFrame@2once" << QStringList{"exposeFrame@2once=-5"} << 0;
        QTest::newRow("status") << "readTemperature@3=-19" << QStringList{"readTemperature@3=-19"} << 0;
        QTest::newRow("list") << "open,grabRow@5" << QStringList{"open@1=-5", "grabRow@5=-5"} << 0;
        QTest::newRow("wrong case") << "grabrow@5" << QStringList{} << 1;
        QTest::newRow("call zero") << "open@0" << QStringList{} << 1;
        QTest::newRow("count junk") << "open@x" << QStringList{} << 1;
        QTest::newRow("success status") << "open=0" << QStringList{} << 1;
        QTest::newRow("mixed") << "open,bogus,setHBin@2once=-22,@3" << QStringList{"open@1=-5", "setHBin@2once=-22"}
                               << 2;
    }
    void failConfig()
    {
        QFETCH(QString, value);
        QFETCH(QStringList, faults);
        QFETCH(int, loggedItems);
        LogCapture log;
        const auto s = FaultSettings::fromConfig({{"SIM_FAIL", value}});
        QVERIFY(s);
        QStringList parsed;
        for (const SimFault& f : s->faults)
            parsed << QString("%1@%2%3=%4").arg(f.operation).arg(f.atCall).arg(f.once ? "once" : "").arg(f.status);
        QCOMPARE(parsed, faults);
        QCOMPARE(log.contains("SIM_FAIL"), loggedItems > 0);
    }

    void recording()
    {
        SimCamera sim;
        RecordingLibrary rec(sim);
        rec.setCaptureRows(true);
        long domain = 0, handle = 0, a, b, c, d;
        char name[1024], description[1024], text[2047];
        double t;
        unsigned long status;
        QCOMPARE(rec.open(handle, "nope", DeviceClassCamera), -19L);
        rec.listCreate(DeviceClassCamera);
        rec.listFirst(domain, name, sizeof name, description, sizeof description);
        rec.listNext(domain, name, sizeof name, description, sizeof description);
        rec.listDelete();
        rec.open(handle, name, domain);
        rec.getModel(handle, text, sizeof text);
        rec.setTemperature(handle, 20.0);
        rec.readTemperature(handle, ChannelBase, t);
        rec.getVisibleArea(handle, a, b, c, d);
        rec.setImageArea(handle, 14, 4, 782, 516);
        rec.setExposureTime(handle, 0);
        rec.setFrameType(handle, FrameNormal);
        rec.setHBin(handle, 2);
        rec.setVBin(handle, 2);
        rec.setTDI(handle, 0, 0);
        rec.exposeFrame(handle);
        rec.getDeviceStatus(handle, status);
        rec.getExposureStatus(handle, a);
        const auto first = grab(rec, handle, 768);
        const auto second = grab(rec, handle, 768);
        const QStringList expected{"open(nope,0x102)=-19",
                                   "listCreate(0x102)=0",
                                   "listFirst(1024,1024)=0",
                                   "listNext(1024,1024)=-19",
                                   "listDelete()=0",
                                   "open(sim0,0x102)=0",
                                   "getModel(1,2047)=0",
                                   "setTemperature(1,20)=0",
                                   "readTemperature(1,1)=0",
                                   "getVisibleArea(1)=0",
                                   "setImageArea(1,14,4,782,516)=0",
                                   "setExposureTime(1,0)=0",
                                   "setFrameType(1,0)=0",
                                   "setHBin(1,2)=0",
                                   "setVBin(1,2)=0",
                                   "setTDI(1,0,0)=0",
                                   "exposeFrame(1)=0",
                                   "getDeviceStatus(1)=0",
                                   "getExposureStatus(1)=0",
                                   "grabRow(1,768)=0",
                                   "grabRow(1,768)=0"};
        QCOMPARE(rec.calls(), expected);
        QCOMPARE(rec.callsNamed({"setTDI", "exposeFrame"}), (QStringList{"setTDI(1,0,0)=0", "exposeFrame(1)=0"}));
        QCOMPARE(rec.callsExcept({"getDeviceStatus", "getExposureStatus", "grabRow"}), expected.mid(0, 17));

        // The captured rows are the bytes the camera delivered.
        QCOMPARE(rec.capturedRows().size(), 2);
        QVERIFY(std::equal(first.begin(), first.end(), rec.capturedRows()[0].begin()));
        QVERIFY(std::equal(second.begin(), second.end(), rec.capturedRows()[1].begin()));
        const QByteArray bytes = rec.capturedBytes();
        QCOMPARE(bytes.size(), 2 * 768 * 2);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(second.data()), 768 * 2), bytes.mid(768 * 2));

        rec.clear();
        QVERIFY(rec.calls().isEmpty());
        QVERIFY(rec.capturedRows().isEmpty());
        rec.setCaptureRows(false);
        grab(rec, handle, 768);
        QVERIFY(rec.capturedRows().isEmpty());
    }

    void factory_data()
    {
        QTest::addColumn<QStringList>("config"); // key, value, key, value...
        QTest::addColumn<bool>("simulator");
        QTest::addColumn<bool>("wrapped"); // behind the fault injection
        QTest::addColumn<QString>("logLine");
        // No name is the default backend, whichever that is.
        const bool simDefault = defaultCameraLibrary() == QLatin1String("sim");
        const QString defaultLog = simDefault ? "simulator" : "camera library: FLI SDK";
        QTest::newRow("absent") << QStringList{"SIM_CAMERAS", "3"} << simDefault << false << defaultLog;
        QTest::newRow("empty") << QStringList{"CAMERA_LIBRARY", "", "SIM_CAMERAS", "3"} << simDefault << false
                               << defaultLog;
        QTest::newRow("sim") << QStringList{"CAMERA_LIBRARY", "sim", "SIM_CAMERAS", "3"} << true << false
                             << "simulator";
        QTest::newRow("sim, failures") << QStringList{"CAMERA_LIBRARY", "sim",     "SIM_CAMERAS", "3",
                                                      "SIM_FAIL",       "getModel"}
                                       << true << true << "simulator";
        QTest::newRow("sim, forced status")
            << QStringList{"CAMERA_LIBRARY", "sim", "SIM_CAMERAS", "3", "SIM_FORCE_STATUS", "0"} << true << true
            << "simulator";
        QTest::newRow("fli") << QStringList{"CAMERA_LIBRARY", "fli"} << false << false << "camera library: FLI SDK";
        QTest::newRow("typo") << QStringList{"CAMERA_LIBRARY", "flii", "SIM_CAMERAS", "3", "SIM_FAIL", "open"} << false
                              << false << "Unknown CAMERA_LIBRARY \"flii\": no camera";
    }
    void factory()
    {
        QFETCH(QStringList, config);
        QFETCH(bool, simulator);
        QFETCH(bool, wrapped);
        QFETCH(QString, logLine);
        QMap<QString, QString> map;
        for (int i = 0; i + 1 < config.size(); i += 2)
            map.insert(config[i], config[i + 1]);
        LogCapture log;
        const std::unique_ptr<CameraLibrary> lib = createCameraLibrary(map);
        QVERIFY(lib);
        QVERIFY(log.contains(logLine));
        QCOMPARE(dynamic_cast<SimCamera*>(lib.get()) != nullptr, simulator && !wrapped);
        QCOMPARE(dynamic_cast<FaultInjectingLibrary*>(lib.get()) != nullptr, wrapped);
        // The SDK backend has a class of its own; everything else is no camera.
        if (!logLine.contains("FLI SDK"))
            QCOMPARE(dynamic_cast<NoCameraLibrary*>(lib.get()) != nullptr, !simulator);
        long domain = 0;
        char name[64], description[64];
        int entries = 0;
        if (lib->listCreate(DeviceClassCamera) == 0) {
            for (long s = lib->listFirst(domain, name, 64, description, 64); s == 0;
                 s = lib->listNext(domain, name, 64, description, 64))
                ++entries;
        }
        QCOMPARE(entries, simulator ? 3 : 0);
        QCOMPARE(openSim(*lib) != 0, simulator);
    }
};

QTEST_GUILESS_MAIN(TestSimCamera)
#include "tst_simcamera.moc"
