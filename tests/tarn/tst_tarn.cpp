#include "CameraRig.h"
#include "ExpSequence.h"
#include "FaultInjectingLibrary.h"
#include "ImageSink.h"
#include "RecordingLibrary.h"
#include "SimCamera.h"
#include "TarnDriver.h"
#include "TestFixture.h"
#include "tarn.h"

#include <QtTest>

using namespace camlib;

namespace {

// The frame steps alone over a recorded simulator, device 0 open.
struct StepRig
{
    explicit StepRig(SimSettings settings = SimSettings()) : sim(settings), faults(sim), rec(faults), device(rec)
    {
        device.list(DeviceClassCamera);
        device.open(0);
        device.setVisible(device.visibleArea().value_or(Area()));
        rec.clear();
    }
    SimCamera sim;
    FaultInjectingLibrary faults;
    RecordingLibrary rec;
    CameraDevice device;
    FrameSteps steps{device};
};

// A frame of the whole visible area (1536 x 1024 at (14, 4)) binned so.
FrameRecord frameOf(FrameRecord::Kind kind, int hbin, int vbin, int expTimeMs, int tdiRate)
{
    FrameRecord r;
    r.id = 1;
    r.kind = kind;
    r.hbin = hbin, r.vbin = vbin;
    r.areaUlX = 14, r.areaUlY = 4;
    r.width = 1536 / hbin, r.height = 1024 / vbin;
    r.expTimeMs = expTimeMs;
    r.tdiRate = tdiRate;
    return r;
}

bool waitIdle(Tarn& tarn)
{
    return TestWait::until([&] { return !tarn.isBusy(); }, 20000);
}

QStringList filesHere()
{
    return QDir::current().entryList(QDir::Files, QDir::Name);
}

// Arguments of the calls of one operation, "(...)" stripped to the values.
QStringList argsOf(const RecordingLibrary& rec, const QString& op)
{
    QStringList out;
    for (const QString& call : rec.callsNamed({op}))
        out << call.mid(op.size() + 1, call.lastIndexOf(')') - op.size() - 1);
    return out;
}

// Runs the machine's steps by hand, without the event loop, until it has
// entered `state` for the `occurrence`th time: that step is then pending.
bool stepTo(const Tarn& tarn, TimerLog& timers, int which, int state, int occurrence)
{
    int prev = stateOf(tarn, which), seen = prev == state;
    for (int i = 0; i < 100000 && seen < occurrence && prev != ExpSequence::None; ++i) {
        timers.tick(which);
        const int now = stateOf(tarn, which);
        seen += now == state && now != prev;
        prev = now;
    }
    return seen == occurrence;
}

// Two 8x8-binned pictures of `flushes` RBI frames and a main frame, `flushes`
// RBI frames alone, or one single exposure.
bool start(Tarn& tarn, int which, int flushes = 2, int tdi = 0)
{
    if (which == 0)
        return startExp(tarn, 8, 8, 8, flushes, 0, 2, 0, 0, "p.dat", tdi);
    return which == 1 ? startRbi(tarn, 8, flushes, 0) : startSingle(tarn, 8, 8, 0, "p.dat", tdi);
}

bool onlyWholeFiles()
{
    const QStringList files = filesHere();
    return std::all_of(files.begin(), files.end(),
                       [](const QString& f) { return QFileInfo(f).size() == (1536 / 8) * (1024 / 8) * 2; });
}

} // namespace

class tst_Tarn : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void negativeCameraNumberCallsNothing();
    void opensListedCameraAndSetsCooler();
    void startUpSetPointOrKeep_data();
    void startUpSetPointOrKeep();
    void cameraNumberBeyondListOpensNothing_data();
    void cameraNumberBeyondListOpensNothing();
    void keepsAtMostTwentyDevices();
    void serialChoosesCamera_data();
    void serialChoosesCamera();
    void failedOpenIsLoggedAndLeavesDeviceClosed();
    void queriesPresetOutputsWhenClosed();
    void secondTemperatureReadMadeWhenFirstFails();

    void startSizesFramesFromVisibleArea();
    void startRefusals_data();
    void startRefusals();
    void rbiBufferFollowsFlushCount();

    void frameSetUpCallOrder_data();
    void frameSetUpCallOrder();
    void checkExposingOutcomes_data();
    void checkExposingOutcomes();
    void readFailureAtRowStopsDownload();
    void downloadBeforeAnyStartTouchesNothing();

    void sequenceTakesRbiFramesThenImage_data();
    void sequenceTakesRbiFramesThenImage();
    void zeroImagesEndsAtOnce();
    void failedPictureLeavesGapInNumbers();
    void writtenFileHoldsDeliveredRows();
    void singleExposureThenDownload();
    void rbiSequenceCountsFrames();
    void takenNameKeepsOldFileAndNewImage();

    void imageBufferReshapes();

    void stopWithStepPending_data();
    void stopWithStepPending();
    void stopWhenIdleAndClose();

    void failuresInSequencesAreLogged_data();
    void failuresInSequencesAreLogged();
    void stepLinesCanBeSilenced();

    void singleExposureFates_data();
    void singleExposureFates();
    void progressIsThePictureOfTheRunningSequence();

private:
    std::unique_ptr<TestFixture> fixture;
};

void tst_Tarn::init()
{
    fixture = std::make_unique<TestFixture>();
    QVERIFY(fixture->workDir.isValid());
}

void tst_Tarn::cleanup()
{
    fixture.reset();
}

void tst_Tarn::negativeCameraNumberCallsNothing()
{
    CameraRig rig(-1);
    QVERIFY(rig.rec.calls().isEmpty());
    QVERIFY(fixture->log.lines().isEmpty());
    QVERIFY(!rig.tarn.isDeviceOpen());
    QCOMPARE(rig.tarn.getDevHandle(), -1L);
    QCOMPARE(rig.tarn.getModel(), QStringLiteral("Err: Get Model"));
    // Still usable: a start runs and its first camera step fails harmlessly.
    QCOMPARE(rig.tarn.settings().useSeqFileNo, true);
    QVERIFY(startSingle(rig.tarn, 1, 1, 0, "x.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
}

void tst_Tarn::startUpSetPointOrKeep_data()
{
    QTest::addColumn<QVariant>("setPoint"); // null: keep the camera's
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QString>("log");
    QTest::newRow("set") << QVariant(-10.0) << QStringList{"1,-10"} << "Set Temp.:  ";
    QTest::newRow("keep") << QVariant() << QStringList{} << "Set Temp.:  kept";
}

void tst_Tarn::startUpSetPointOrKeep()
{
    QFETCH(QVariant, setPoint);
    QFETCH(QStringList, calls);
    QFETCH(QString, log);
    TarnOptions options;
    options.startUpSetPoint.reset();
    if (!setPoint.isNull())
        options.startUpSetPoint = setPoint.toDouble();
    SimCamera sim{SimSettings()};
    RecordingLibrary rec(sim);
    Tarn tarn(0, rec, options);
    QCOMPARE(argsOf(rec, "setTemperature"), calls);
    QVERIFY2(fixture->log.lines().contains(log), qPrintable(fixture->log.lines().join('\n')));
}

void tst_Tarn::opensListedCameraAndSetsCooler()
{
    CameraRig rig(0);
    QVERIFY(rig.tarn.isDeviceOpen());
    QCOMPARE(rig.tarn.getDevCount(), 1);
    QCOMPARE(rig.tarn.getDevName(0), QStringLiteral("sim0"));
    QCOMPARE(argsOf(rig.rec, "setTemperature"), QStringList{"1,20"});
    // The list is read in order before the open; the library version is
    // asked only once the device is open.
    const QStringList ops = [&] {
        QStringList o;
        for (const QString& c : rig.rec.calls())
            o << RecordingLibrary::operationOf(c);
        return o;
    }();
    QCOMPARE(ops.mid(0, 5), (QStringList{"listCreate", "listFirst", "listNext", "listDelete", "open"}));
    QVERIFY(!ops.contains("getLibVersion"));
    QCOMPARE(fixture->log.lines().value(0), QStringLiteral("Lib Version:: \"Err: Get Lib Version\""));
    QVERIFY(rig.tarn.getLibVersion() != QStringLiteral("Err: Get Lib Version"));
    for (const char* prefix : {"Model:  ", "Serial: ", "HW rev: ", "Pix Size: ", "Array Area: ", "Set Temp.: ",
                               "Read Temp: ", "Visi. Area: "}) {
        const auto it = std::find_if(fixture->log.lines().begin(), fixture->log.lines().end(),
                                     [&](const QString& l) { return l.startsWith(QLatin1String(prefix)); });
        QVERIFY2(it != fixture->log.lines().end(), prefix);
        QVERIFY2(!it->contains("Err"), qPrintable(*it));
    }
    int ulX, ulY, lrX, lrY;
    QVERIFY(rig.tarn.getVisibleArea(ulX, ulY, lrX, lrY));
    QVERIFY(ulX > 0 && ulY > 0);
    int aulX, aulY, alrX, alrY;
    QVERIFY(rig.tarn.getArrayArea(aulX, aulY, alrX, alrY));
    QVERIFY(alrX > lrX && alrY > lrY);
}

void tst_Tarn::cameraNumberBeyondListOpensNothing_data()
{
    QTest::addColumn<int>("cameras");
    QTest::addColumn<int>("cameraNo");
    QTest::newRow("one camera, number 1") << 1 << 1;
    QTest::newRow("no camera") << 0 << 0;
}

void tst_Tarn::cameraNumberBeyondListOpensNothing()
{
    QFETCH(int, cameras);
    QFETCH(int, cameraNo);
    SimSettings s;
    s.cameras = cameras;
    CameraRig rig(cameraNo, s);
    QVERIFY(!rig.tarn.isDeviceOpen());
    QVERIFY(rig.rec.callsNamed({"open"}).isEmpty());
    QCOMPARE(rig.tarn.getModel(), QStringLiteral("Err: Get Model"));
    // Why none was opened, then the count and the names: no error line.
    QCOMPARE(fixture->log.lines().size(), 3 + cameras);
    QVERIFY(fixture->log.lines().at(1).contains(cameras == 0 ? "No camera found" : "not among them"));
    QCOMPARE(fixture->log.lines().at(2), QString::number(cameras));
}

void tst_Tarn::keepsAtMostTwentyDevices()
{
    SimSettings s;
    s.cameras = 25;
    CameraRig rig(19, s);
    QCOMPARE(rig.tarn.getDevCount(), 20);
    QCOMPARE(rig.tarn.getDevName(19), QStringLiteral("sim19"));
    QVERIFY(rig.tarn.isDeviceOpen());
    QCOMPARE(fixture->log.lines().at(1), QStringLiteral("20 camera(s) found; opening number 19 (sim19)"));
    QCOMPARE(fixture->log.lines().at(2), QStringLiteral("20"));
    QVERIFY(!fixture->log.lines().contains("sim20"));
}

void tst_Tarn::serialChoosesCamera_data()
{
    QTest::addColumn<int>("cameraNo");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("opened"); // empty: nothing opened
    QTest::addColumn<QString>("logged");
    QTest::newRow("serial alone") << -1 << "SIM00002"
                                  << "sim1"
                                  << "Camera serial SIM00002: sim1, number 1 of 3 listed";
    QTest::newRow("serial over number") << 0 << "SIM00003"
                                        << "sim2"
                                        << "Camera serial SIM00003: sim2, number 2 of 3 listed";
    QTest::newRow("serial not listed")
        << 0 << "SIM00009"
        << ""
        << "Camera serial SIM00009 not found among 3 listed: SIM00001 (sim0), SIM00002 (sim1), SIM00003 (sim2)"
           " - no camera opened";
}

void tst_Tarn::serialChoosesCamera()
{
    QFETCH(int, cameraNo);
    QFETCH(QString, serial);
    QFETCH(QString, opened);
    QFETCH(QString, logged);
    SimSettings s;
    s.cameras = 3;
    SimCamera sim(s);
    RecordingLibrary rec(sim);
    TarnOptions options;
    options.serial = serial;
    Tarn tarn(cameraNo, rec, options);
    // Found from the listing by serial alone: no other camera is opened to ask.
    QCOMPARE(rec.callsNamed({"listCreate"}), QStringList{"listCreate(0x8102)=0"});
    QCOMPARE(rec.callsNamed({"open"}), opened.isEmpty() ? QStringList() : QStringList{"open(" + opened + ",0x102)=0"});
    QVERIFY2(fixture->log.lines().contains(logged), qPrintable(fixture->log.lines().join('\n')));
    QCOMPARE(tarn.getSerialString(), opened.isEmpty() ? QStringLiteral("Err: Get Serial String") : serial);
}

void tst_Tarn::failedOpenIsLoggedAndLeavesDeviceClosed()
{
    FaultSettings f;
    f.faults.append(*SimFault::parse("open"));
    CameraRig rig(0, SimSettings(), {}, f);
    QVERIFY(!rig.tarn.isDeviceOpen());
    QCOMPARE(rig.tarn.getDevHandle(), -1L); // the library's scribble is not kept
    QVERIFY(fixture->log.lines().contains("err : opening FLI"));
    QVERIFY(rig.rec.callsNamed({"setTemperature", "getModel", "getVisibleArea"}).isEmpty());
}

void tst_Tarn::queriesPresetOutputsWhenClosed()
{
    CameraRig rig(-1);
    long rev = 7;
    QVERIFY(!rig.tarn.getHWRev(rev));
    QCOMPARE(rev, -1L);
    double w = 1, h = 1;
    QVERIFY(!rig.tarn.getPixelSize(w, h));
    QCOMPARE(w, -1.0);
    QCOMPARE(h, -1.0);
    int a = 0, b = 0, c = 0, d = 0;
    QVERIFY(!rig.tarn.getArrayArea(a, b, c, d));
    QCOMPARE((QList<int>{a, b, c, d}), (QList<int>{-1, -1, -1, -1}));
    a = b = c = d = 0;
    QVERIFY(!rig.tarn.getVisibleArea(a, b, c, d));
    QCOMPARE((QList<int>{a, b, c, d}), (QList<int>{-1, -1, -1, -1}));
    double t;
    QVERIFY(!rig.tarn.getTemperatures(t, t));
    QVERIFY(!rig.tarn.setTemperature(-10));
    QCOMPARE(rig.tarn.getSerialString(), QStringLiteral("Err: Get Serial String"));
    QVERIFY(rig.rec.calls().isEmpty());
}

void tst_Tarn::secondTemperatureReadMadeWhenFirstFails()
{
    CameraRig rig(0);
    const int before = rig.faults.callCount("readTemperature");
    rig.faults.failOnce("readTemperature", before + 1);
    rig.rec.clear();
    double ccd, base = -100;
    QVERIFY(!rig.tarn.getTemperatures(ccd, base));
    QCOMPARE(argsOf(rig.rec, "readTemperature"), (QStringList{"1,0", "1,1"}));
    QVERIFY(base > -100);
}

void tst_Tarn::startSizesFramesFromVisibleArea()
{
    SimSettings s;
    s.width = 3001;
    s.height = 2001;
    CameraRig rig(0, s);
    QSignalSpy busy(&rig.tarn, &Tarn::changedIsBusy);
    QVERIFY(startExp(rig.tarn, 4, 3, 2, 1, 0, 0, 0, 0.0, "a.dat", 0));
    QCOMPARE(busy.size(), 1);
    QCOMPARE(busy.at(0).at(0).toBool(), true);
    QCOMPARE(rig.tarn.getImgWidth(), 750);
    QCOMPARE(rig.tarn.getImgHeight(), 667);
    QCOMPARE(rig.tarn.getRbiWidth(), 1500);
    QCOMPARE(rig.tarn.getRbiHeight(), 1000);
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(busy.size(), 2);

    // A single exposure keeps the RBI sizes of the start before it.
    QVERIFY(startSingle(rig.tarn, 1, 1, 0, "b.dat", 0));
    QCOMPARE(rig.tarn.getImgWidth(), 3001);
    QCOMPARE(rig.tarn.getRbiWidth(), 1500);
    QVERIFY(rig.tarn.hasRbiRowBuf());
    QVERIFY(waitIdle(rig.tarn));
}

void tst_Tarn::startRefusals_data()
{
    QTest::addColumn<int>("which");       // 0 exp, 1 exp2, 2 rbi
    QTest::addColumn<QList<int>>("args"); // hbin vbin rbin flushes
    QTest::newRow("rbi with 0 flushes") << 2 << QList<int>{1, 1, 1, 0};
    QTest::newRow("rbi with negative flushes") << 2 << QList<int>{1, 1, 1, -2};
    QTest::newRow("exposure with hbin 0") << 0 << QList<int>{0, 1, 1, 0};
    QTest::newRow("exposure with vbin -1") << 0 << QList<int>{1, -1, 1, 0};
    QTest::newRow("exposure with rbin 0 and flushes") << 0 << QList<int>{1, 1, 0, 2};
    QTest::newRow("single with vbin 0") << 1 << QList<int>{1, 0, 1, 0};
    QTest::newRow("rbi with rbin 0") << 2 << QList<int>{1, 1, 0, 2};
}

void tst_Tarn::startRefusals()
{
    QFETCH(int, which);
    QFETCH(QList<int>, args);
    CameraRig rig(0);
    QSignalSpy busy(&rig.tarn, &Tarn::changedIsBusy);
    bool started = true;
    if (which == 0)
        started = startExp(rig.tarn, args[0], args[1], args[2], args[3], 0, 1, 0, 0, "x.dat", 0);
    else if (which == 1)
        started = startSingle(rig.tarn, args[0], args[1], 0, "x.dat", 0);
    else
        started = startRbi(rig.tarn, args[2], args[3], 0);
    QVERIFY(!started);
    QVERIFY(!rig.tarn.isBusy());
    QCOMPARE(busy.size(), 0);

    // While a sequence runs every start is refused and changes nothing.
    QVERIFY(startExp(rig.tarn, 2, 2, 1, 0, 0, 1, 100, 0, "run.dat", 0));
    const int w = rig.tarn.getImgWidth();
    QVERIFY(!startExp(rig.tarn, 1, 1, 1, 0, 0, 1, 0, 0, "other.dat", 0));
    QVERIFY(!startSingle(rig.tarn, 1, 1, 0, "other.dat", 0));
    QVERIFY(!startRbi(rig.tarn, 1, 1, 0));
    QCOMPARE(rig.tarn.getImgWidth(), w);
    QCOMPARE(busy.size(), 1);
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(filesHere(), QStringList{"run0000-0000.dat"});
}

void tst_Tarn::rbiBufferFollowsFlushCount()
{
    CameraRig rig(0);
    QVERIFY(startRbi(rig.tarn, 1, 1, 0));
    QVERIFY(rig.tarn.hasRbiRowBuf());
    QVERIFY(waitIdle(rig.tarn));
    QVERIFY(startExp(rig.tarn, 1, 1, 1, 0, 0, 0, 0, 0, "x.dat", 0));
    QVERIFY(!rig.tarn.hasRbiRowBuf());
    QVERIFY(waitIdle(rig.tarn));
}

void tst_Tarn::frameSetUpCallOrder_data()
{
    QTest::addColumn<int>("kind"); // 0 main, 1 flood, 2 flush
    QTest::addColumn<int>("tdi");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<bool>("started");
    QTest::addColumn<QStringList>("calls");

    // Visible area (14,4)-(1550,1028); bins 2, 4, rbin 3.
    QTest::newRow("main, TDI off") << 0 << 0 << "" << true
                                   << QStringList{"setImageArea(1,14,4,782,260)=0",
                                                  "setExposureTime(1,0)=0",
                                                  "setFrameType(1,0)=0",
                                                  "setHBin(1,2)=0",
                                                  "setVBin(1,4)=0",
                                                  "setTDI(1,0,0)=0",
                                                  "exposeFrame(1)=0"};
    QTest::newRow("main, TDI on") << 0 << 7 << "" << true
                                  << QStringList{"setImageArea(1,14,4,782,260)=0",
                                                 "setExposureTime(1,0)=0",
                                                 "setFrameType(1,0)=0",
                                                 "setHBin(1,2)=0",
                                                 "setVBin(1,4)=0",
                                                 "setTDI(1,7,0)=0",
                                                 "exposeFrame(1)=0"};
    QTest::newRow("main, TDI on fails") << 0 << 7 << "setTDI" << false
                                        << QStringList{"setImageArea(1,14,4,782,260)=0",
                                                       "setExposureTime(1,0)=0",
                                                       "setFrameType(1,0)=0",
                                                       "setHBin(1,2)=0",
                                                       "setVBin(1,4)=0",
                                                       "setTDI(1,7,0)=-5"};
    QTest::newRow("main, TDI off fails but goes on") << 0 << 0 << "setTDI" << true
                                                     << QStringList{"setImageArea(1,14,4,782,260)=0",
                                                                    "setExposureTime(1,0)=0",
                                                                    "setFrameType(1,0)=0",
                                                                    "setHBin(1,2)=0",
                                                                    "setVBin(1,4)=0",
                                                                    "setTDI(1,0,0)=-5",
                                                                    "exposeFrame(1)=0"};
    QTest::newRow("main, area fails first")
        << 0 << 0 << "setImageArea" << false << QStringList{"setImageArea(1,14,4,782,260)=-5"};
    QTest::newRow("flood") << 1 << 7 << "" << true
                           << QStringList{"setTDI(1,0,0)=0",     "setExposureTime(1,30)=0",
                                          "setFrameType(1,3)=0", "setHBin(1,3)=0",
                                          "setVBin(1,3)=0",      "setImageArea(1,14,4,526,345)=0",
                                          "exposeFrame(1)=0"};
    QTest::newRow("flush, TDI off fails but goes on")
        << 2 << 0 << "setTDI" << true
        << QStringList{"setTDI(1,0,0)=-5", "setExposureTime(1,0)=0",         "setFrameType(1,1)=0", "setHBin(1,3)=0",
                       "setVBin(1,3)=0",   "setImageArea(1,14,4,526,345)=0", "exposeFrame(1)=0"};
    QTest::newRow("flush, frame type fails")
        << 2 << 0 << "setFrameType" << false
        << QStringList{"setTDI(1,0,0)=0", "setExposureTime(1,0)=0", "setFrameType(1,1)=-5"};
}

void tst_Tarn::frameSetUpCallOrder()
{
    QFETCH(int, kind);
    QFETCH(int, tdi);
    QFETCH(QString, failing);
    QFETCH(bool, started);
    QFETCH(QStringList, calls);

    StepRig rig;
    // Bins 2 and 4 for the main frame, 3 for the RBI frames; flood 30 ms.
    FrameRecord frame = frameOf(kind == 0   ? FrameRecord::Kind::Main
                                : kind == 1 ? FrameRecord::Kind::RbiFlood
                                            : FrameRecord::Kind::RbiFlush,
                                kind == 0 ? 2 : 3, kind == 0 ? 4 : 3, kind == 1 ? 30 : 0, tdi);
    if (!failing.isEmpty())
        rig.faults.failOnce(failing, rig.faults.callCount(failing) + 1);
    const StepResult result = rig.steps.start(frame, false);
    QCOMPARE(!result.has_value(), started);
    QCOMPARE(frame.clock.isValid(), started);
    QCOMPARE(rig.rec.calls(), calls);
}

void tst_Tarn::checkExposingOutcomes_data()
{
    QTest::addColumn<QString>("status"); // forced word, "unknown", or "fail"
    QTest::addColumn<qint64>("exposureMs");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<int>("ok");

    QTest::newRow("unknown status, time left 0") << "unknown" << qint64(0) << true << 1;
    QTest::newRow("unknown status, time left > 0") << "unknown" << qint64(60000) << false << 1;
    QTest::newRow("bit 31 whatever the time left") << "0x80000000" << qint64(60000) << true << 1;
    QTest::newRow("bit 31 with other bits") << "0x80000002" << qint64(60000) << true << 1;
    QTest::newRow("status 2, time left 0") << "2" << qint64(0) << false << 1;
    QTest::newRow("status query fails although done") << "fail" << qint64(0) << false << 0;
}

void tst_Tarn::checkExposingOutcomes()
{
    QFETCH(QString, status);
    QFETCH(qint64, exposureMs);
    QFETCH(bool, finished);
    QFETCH(int, ok);

    SimSettings sensor;
    sensor.statusUnknown = status == "unknown";
    StepRig rig(sensor);
    FrameRecord frame = frameOf(FrameRecord::Kind::Single, 1, 1, int(exposureMs), 0);
    QVERIFY(!rig.steps.start(frame, false));
    if (status == "fail")
        rig.faults.failFrom("getDeviceStatus", 1);
    else if (status != "unknown")
        rig.faults.setForcedStatus(status.toUInt(nullptr, 0));
    StepFailure failure;
    const FrameSteps::Poll polled = rig.steps.poll(frame, failure, false);
    QCOMPARE(polled == FrameSteps::Poll::Ready, finished);
    QCOMPARE(polled != FrameSteps::Poll::Failed, ok == 1);
    QCOMPARE(frame.state == FrameRecord::State::Finished, finished);
    QCOMPARE(failure.step, ok == 1 ? QString() : QStringLiteral("getDeviceStatus"));
}

void tst_Tarn::readFailureAtRowStopsDownload()
{
    CameraRig rig(0);
    QVERIFY(startSingle(rig.tarn, 2, 2, 0, "x.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
    rig.rec.clear();
    rig.faults.failOnce("grabRow", rig.faults.callCount("grabRow") + 6); // row 5
    QVERIFY(!rig.tarn.exp2DownLoad());
    QCOMPARE(rig.rec.callsNamed({"grabRow"}).size(), 6);
    QVERIFY(filesHere().isEmpty());
}

void tst_Tarn::downloadBeforeAnyStartTouchesNothing()
{
    CameraRig rig(0);
    rig.rec.clear();
    QVERIFY(!rig.tarn.exp2DownLoad());
    QVERIFY(rig.rec.calls().isEmpty());
    QVERIFY(filesHere().isEmpty());
}

void tst_Tarn::sequenceTakesRbiFramesThenImage_data()
{
    QTest::addColumn<int>("images");
    QTest::addColumn<int>("flushes");
    QTest::addColumn<QStringList>("frameTypes");
    QTest::newRow("2 images, 2 flushes") << 2 << 2 << QStringList{"1,3", "1,1", "1,0", "1,3", "1,1", "1,0"};
    QTest::newRow("no flushes") << 2 << 0 << QStringList{"1,0", "1,0"};
    QTest::newRow("1 flush: flood only") << 1 << 1 << QStringList{"1,3", "1,0"};
    QTest::newRow("3 flushes") << 1 << 3 << QStringList{"1,3", "1,1", "1,1", "1,0"};
}

void tst_Tarn::sequenceTakesRbiFramesThenImage()
{
    QFETCH(int, images);
    QFETCH(int, flushes);
    QFETCH(QStringList, frameTypes);
    CameraRig rig(0);
    rig.rec.clear();
    QVERIFY(startExp(rig.tarn, 4, 4, 8, flushes, 0, images, 0, 0, "seq.raw", 0));
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(argsOf(rig.rec, "setFrameType"), frameTypes);
    QCOMPARE(rig.tarn.getImageIndex(), images);
    QStringList expected;
    for (int i = 0; i < images; ++i)
        expected << QString::asprintf("seq%04d-%04d.raw", i, i);
    QCOMPARE(filesHere(), expected);
    // Every RBI row and every image row was read, and nothing more.
    const int rbiRows = (1024 / 8) * flushes * images;
    QCOMPARE(rig.rec.callsNamed({"grabRow"}).size(), rbiRows + (1024 / 4) * images);
    QCOMPARE(rig.tarn.expSeq().state(), ExpSequence::None);
}

void tst_Tarn::zeroImagesEndsAtOnce()
{
    CameraRig rig(0);
    QSignalSpy busy(&rig.tarn, &Tarn::changedIsBusy);
    rig.rec.clear();
    QVERIFY(startExp(rig.tarn, 1, 1, 1, 0, 0, 0, 0, 0, "x.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(busy.size(), 2);
    QCOMPARE(busy.at(1).at(0).toBool(), false);
    QVERIFY(rig.rec.calls().isEmpty());
    QCOMPARE(rig.tarn.getImageIndex(), 0);
}

void tst_Tarn::failedPictureLeavesGapInNumbers()
{
    CameraRig rig(0);
    rig.tarn.settings().useSeqFileNo = false;
    rig.faults.failOnce("exposeFrame", rig.faults.callCount("exposeFrame") + 2);
    QVERIFY(startExp(rig.tarn, 8, 8, 1, 0, 0, 3, 0, 0, "gap.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(filesHere(), (QStringList{"gap-0000.dat", "gap-0002.dat"}));
}

void tst_Tarn::writtenFileHoldsDeliveredRows()
{
    CameraRig rig(0);
    rig.rec.setCaptureRows(true);
    QVERIFY(startExp(rig.tarn, 3, 5, 1, 0, 0, 1, 5, 0, "dir/part/img.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(filesHere(), QStringList{"img0000-0000.dat"});
    QFile f("img0000-0000.dat");
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QCOMPARE(bytes.size(), (1536 / 3) * (1024 / 5) * 2);
    // Little-endian pixels, rows in delivery order.
    const QVector<QVector<quint16>> rows = rig.rec.capturedRows();
    QCOMPARE(rows.size(), 1024 / 5);
    int i = 0;
    for (const auto& row : rows) {
        for (quint16 p : row) {
            QCOMPARE(quint8(bytes[i]), quint8(p & 0xff));
            QCOMPARE(quint8(bytes[i + 1]), quint8(p >> 8));
            i += 2;
        }
    }
}

void tst_Tarn::singleExposureThenDownload()
{
    CameraRig rig(0);
    QSignalSpy busy(&rig.tarn, &Tarn::changedIsBusy);
    // Two single exposures with the sequence number: numbers differ by one,
    // the picture part is the index left by no sequence (0).
    for (int i = 0; i < 2; ++i) {
        QVERIFY(startSingle(rig.tarn, 4, 4, 0, "one.dat", 0));
        QVERIFY(waitIdle(rig.tarn));
        QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
    }
    QCOMPARE(busy.size(), 4);
    QCOMPARE(filesHere(), (QStringList{"one0000-0000.dat", "one0001-0000.dat"}));

    // After a sequence of 3 pictures the picture part is 3.
    QVERIFY(startExp(rig.tarn, 8, 8, 1, 0, 0, 3, 0, 0, "seq.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
    rig.tarn.settings().seqFileNo = 17;
    QVERIFY(startSingle(rig.tarn, 4, 4, 0, "one.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
    QVERIFY(filesHere().contains("one0017-0003.dat"));
    QCOMPARE(rig.tarn.settings().seqFileNo, 18);
}

void tst_Tarn::rbiSequenceCountsFrames()
{
    CameraRig rig(0);
    rig.rec.clear();
    // A failed RBI read-out still counts the frame.
    rig.faults.failOnce("grabRow", 3);
    QVERIFY(startRbi(rig.tarn, 4, 3, 0));
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(argsOf(rig.rec, "setFrameType"), (QStringList{"1,3", "1,1", "1,1"}));
    QVERIFY(filesHere().isEmpty());
}

void tst_Tarn::takenNameKeepsOldFileAndNewImage()
{
    CameraRig rig(0);
    rig.tarn.settings().useSeqFileNo = false;
    {
        QFile f("same-0000.dat");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    QVERIFY(startSingle(rig.tarn, 8, 8, 0, "same.dat", 0));
    QVERIFY(waitIdle(rig.tarn));
    QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
    QFile old("same-0000.dat");
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old"));
    QCOMPARE(QFileInfo("same-0000_1.dat").size(), qint64((1536 / 8) * (1024 / 8) * 2));
    QCOMPARE(rig.tarn.lastFileWritten(), QStringLiteral("same-0000_1.dat"));
}

void tst_Tarn::imageBufferReshapes()
{
    ImageBuffer b("an image");
    QVERIFY(b.reshape(3, 5));
    std::uint16_t* const first = b.row(0);
    QCOMPARE(b.row(2), first + 10);
    QCOMPARE(b.row(3), nullptr);
    b.row(2)[4] = 77;
    QVERIFY(b.reshape(3, 5)); // same shape: same block, pixels kept
    QCOMPARE(b.row(0), first);
    // Memory that cannot be had: false, a log line, the old block kept.
    QVERIFY(!b.reshape(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()));
    QVERIFY(fixture->log.lines().last().startsWith("Cannot allocate an image of"));
    QCOMPARE(b.row(2)[4], quint16(77));
    QVERIFY(b.reshape(-4, 2) && b.held() && !b.row(0));
}

void tst_Tarn::stopWithStepPending_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<QString>("summary"); // after "... abandoned: done "
    QTest::addColumn<int>("finishLeft");
    QTest::addColumn<int>("taken"); // files (exp) or frames exposed after finishSequence()

    // Each picture: flood, flush, main frame (Exposing and DownLoad 1 to 3).
    const QString p0 = "none; abandoned picture 0; not taken picture 1";
    const QString c0 = "none; abandoned picture 0 (exposure cancelled); not taken picture 1";
    const QString d0 = "picture 0; abandoned none; not taken picture 1";
    // A main frame of 0 ms is finished by the time the abort looks: discarded.
    const QString f0 = "none; abandoned picture 0 (finished frame discarded); not taken picture 1";
    QTest::newRow("exp Start") << 0 << 0 << 1 << false << "none; abandoned none; not taken pictures 0 to 1" << 2 << 0;
    QTest::newRow("exp RBIFlood") << 0 << int(ExpSequence::RBIFlood) << 1 << false << p0 << 1 << 1;
    QTest::newRow("exp flood Exposing") << 0 << int(ExpSequence::Exposing) << 1 << true << c0 << 1 << 1;
    QTest::newRow("exp flood DownLoad") << 0 << int(ExpSequence::DownLoad) << 1 << true << c0 << 1 << 1;
    QTest::newRow("exp RBIFlushing") << 0 << int(ExpSequence::RBIFlushing) << 1 << false << p0 << 1 << 1;
    QTest::newRow("exp StartExp") << 0 << int(ExpSequence::StartExp) << 1 << false << p0 << 1 << 1;
    QTest::newRow("exp main Exposing") << 0 << int(ExpSequence::Exposing) << 3 << true << f0 << 1 << 1;
    QTest::newRow("exp main DownLoad") << 0 << int(ExpSequence::DownLoad) << 3 << true << f0 << 1 << 1;
    QTest::newRow("exp Done") << 0 << int(ExpSequence::Done) << 1 << false << d0 << 1 << 1;
    QTest::newRow("exp NextPic") << 0 << int(ExpSequence::NextPic) << 1 << false << d0 << 1 << 1;
    QTest::newRow("exp 2nd RBIFlood") << 0 << int(ExpSequence::RBIFlood) << 2 << false
                                      << "picture 0; abandoned picture 1; not taken none" << 0 << 2;
    QTest::newRow("exp End") << 0 << int(ExpSequence::End) << 1 << false
                             << "pictures 0 to 1; abandoned none; not taken none" << 0 << 2;
    const QString r0 = "none; abandoned frame 0 (exposure cancelled); not taken frame 1";
    QTest::newRow("rbi Start") << 1 << 0 << 1 << false << "none; abandoned none; not taken frames 0 to 1" << 2 << 0;
    QTest::newRow("rbi flood Exposing") << 1 << int(ExpSequence::Exposing) << 1 << true << r0 << 1 << 1;
    QTest::newRow("rbi flood DownLoad") << 1 << int(ExpSequence::DownLoad) << 1 << true << r0 << 1 << 1;
    QTest::newRow("rbi RBIFlushing") << 1 << int(ExpSequence::RBIFlushing) << 1 << false
                                     << "frame 0; abandoned none; not taken frame 1" << 1 << 1;
    QTest::newRow("rbi flush Exposing") << 1 << int(ExpSequence::Exposing) << 2 << true
                                        << "frame 0; abandoned frame 1 (exposure cancelled); not taken none" << 0 << 2;
    QTest::newRow("rbi Done") << 1 << int(ExpSequence::Done) << 1 << false
                              << "frames 0 to 1; abandoned none; not taken none" << 0 << 2;
    QTest::newRow("single Start") << 2 << 0 << 1 << false << "before it started" << 0 << 1;
    QTest::newRow("single Exposing") << 2 << int(ExpSequence::Exposing) << 1 << true << "(finished frame discarded)"
                                     << 0 << 1;
    QTest::newRow("single Done") << 2 << int(ExpSequence::Done) << 1 << false << "after its end" << 0 << 1;
}

void tst_Tarn::stopWithStepPending()
{
    QFETCH(int, which);
    QFETCH(int, state);
    QFETCH(int, occurrence);
    QFETCH(bool, cancelled);
    QFETCH(QString, summary);
    QFETCH(int, finishLeft);
    QFETCH(int, taken);

    for (const bool abandon : {true, false}) {
        CameraRig rig(0);
        QSignalSpy busy(&rig.tarn, &Tarn::changedIsBusy);
        QVERIFY(start(rig.tarn, which));
        QVERIFY(stepTo(rig.tarn, rig.timers, which, state, occurrence));
        const QStringList before = filesHere();
        if (abandon) {
            const char* const heads[] = {"Exposure sequence abandoned: done ", "RBI flush abandoned: done ",
                                         "Single exposure abandoned "};
            QCOMPARE(rig.tarn.abandonSequence().summary, heads[which] + summary);
            QCOMPARE(rig.faults.callCount("cancelExposure"), int(cancelled));
            QCOMPARE(busy.size(), 2);
            QVERIFY(rig.tarn.abandonSequence().summary.isEmpty());
            QTest::qWait(4 * Tarn::StepIntervalMs); // no step is left to run
            QCOMPARE(filesHere(), before);
            if (which == 2) // nothing exposed, or cancelled: nothing to download
                QCOMPARE(rig.tarn.downLoadSingle() == Tarn::DownLoadResult::Refused, state != ExpSequence::Done);
        } else {
            QCOMPARE(rig.tarn.finishSequence(), finishLeft);
            QVERIFY(waitIdle(rig.tarn));
            QCOMPARE(rig.faults.callCount("cancelExposure"), 0);
            QCOMPARE(which == 0 ? filesHere().size() : rig.faults.callCount("exposeFrame"), taken);
            QCOMPARE(rig.tarn.finishSequence(), 0);
        }
        QCOMPARE(busy.size(), 2);
        QCOMPARE(busy.at(1).at(0).toBool(), false);
        QCOMPARE(stateOf(rig.tarn, which), ExpSequence::None);
        QVERIFY(onlyWholeFiles());
        // The camera takes the next exposure as usual.
        QVERIFY(startSingle(rig.tarn, 8, 8, 0, "next.dat", 0));
        QVERIFY(waitIdle(rig.tarn));
        QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
        for (const QString& f : filesHere())
            QVERIFY(QDir().remove(f));
    }
}

void tst_Tarn::stopWhenIdleAndClose()
{
    SimCamera camera;
    FaultInjectingLibrary sim(camera, FaultSettings()); // counts the calls
    TimerLog timers;
    TarnOptions options;
    options.timers = timers.factory();
    auto tarn = std::make_unique<Tarn>(0, sim, options);
    QSignalSpy busy(tarn.get(), &Tarn::changedIsBusy);
    QVERIFY(tarn->abandonSequence().summary.isEmpty());
    QCOMPARE(tarn->finishSequence(), 0);
    QVERIFY(busy.isEmpty());
    // Closing abandons what runs; a second close does nothing.
    QVERIFY(startSingle(*tarn, 1, 1, 60000, "x.dat", 0));
    QVERIFY(stepTo(*tarn, timers, 2, ExpSequence::Exposing, 1));
    tarn->closeDevice();
    tarn->closeDevice();
    QCOMPARE(sim.callCount("cancelExposure"), 1);
    QCOMPARE(sim.callCount("close"), 1);
    QVERIFY(!tarn->isBusy() && !tarn->isDeviceOpen());
    // The destructor closes, telling no one.
    tarn = std::make_unique<Tarn>(0, sim);
    QVERIFY(startSingle(*tarn, 1, 1, 60000, "x.dat", 0));
    QSignalSpy lastBusy(tarn.get(), &Tarn::changedIsBusy);
    tarn.reset();
    QCOMPARE(sim.callCount("close"), 2);
    QVERIFY(lastBusy.isEmpty());
}

void tst_Tarn::failuresInSequencesAreLogged_data()
{
    QTest::addColumn<int>("which"); // 0 exp, 1 rbi, 2 exp2, 3 download of a single exposure
    QTest::addColumn<int>("flushes");
    QTest::addColumn<int>("tdi");
    QTest::addColumn<QString>("failing"); // "late": the camera never says ready
    QTest::addColumn<QString>("line");    // "": no line, the frame goes on

    QTest::newRow("exp start") << 0 << 0 << 0 << "exposeFrame"
                               << "Picture 0: exposeFrame failed (-5), no file";
    QTest::newRow("exp status") << 0 << 0 << 0 << "getDeviceStatus"
                                << "Picture 0: getDeviceStatus failed (-5), no file";
    QTest::newRow("exp read-out") << 0 << 0 << 0 << "grabRow"
                                  << "Picture 0: grabRow failed (-5) at row 0, no file";
    QTest::newRow("exp flood start") << 0 << 2 << 0 << "setVBin"
                                     << "Picture 0 RBI flood: setVBin failed (-5), no file";
    QTest::newRow("exp RBI read-out") << 0 << 1 << 0 << "grabRow"
                                      << "Picture 0 RBI flood: grabRow failed (-5) at row 0, no file";
    QTest::newRow("exp late") << 0 << 0 << 0 << "late"
                              << "Picture 0: not ready ";
    QTest::newRow("exp late flood") << 0 << 1 << 0 << "late"
                                    << "Picture 0 RBI flood: not ready ";
    QTest::newRow("rbi start") << 1 << 2 << 0 << "setFrameType"
                               << "RBI frame 0: setFrameType failed (-5), RBI flush ends";
    QTest::newRow("rbi read-out") << 1 << 2 << 0 << "grabRow"
                                  << "RBI frame 0: grabRow failed (-5) at row 0, frame counted";
    QTest::newRow("rbi late") << 1 << 2 << 0 << "late"
                              << "RBI frame 0: not ready ";
    QTest::newRow("single start") << 2 << 0 << 0 << "setImageArea"
                                  << "Single exposure: setImageArea failed (-5), no image";
    QTest::newRow("single status") << 2 << 0 << 0 << "getExposureStatus"
                                   << "Single exposure: getExposureStatus failed (-5), no image";
    QTest::newRow("single late") << 2 << 0 << 0 << "late"
                                 << "Single exposure: not ready ";
    QTest::newRow("single late, TDI") << 2 << 0 << 5 << "late"
                                      << "";
    QTest::newRow("download") << 3 << 0 << 0 << "grabRow"
                              << "Single exposure: grabRow failed (-5) at row 0, no file";
}

void tst_Tarn::failuresInSequencesAreLogged()
{
    QFETCH(int, which);
    QFETCH(int, flushes);
    QFETCH(int, tdi);
    QFETCH(QString, failing);
    QFETCH(QString, line);

    TarnOptions options;
    options.exposureGraceMs = 30;
    CameraRig rig(0, SimSettings(), options);
    if (which == 3)
        QVERIFY(start(rig.tarn, 2) && waitIdle(rig.tarn));
    if (failing == "late")
        rig.faults.setForcedStatus(2); // exposing, for ever
    else
        rig.faults.failOnce(failing, rig.faults.callCount(failing) + 1);
    if (which == 3)
        QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::ReadFailed);
    else
        QVERIFY(start(rig.tarn, which, flushes, tdi));
    if (line.isEmpty()) { // a TDI frame has no bound
        QTest::qWait(10 * options.exposureGraceMs);
        QVERIFY(rig.tarn.isBusy());
        rig.tarn.abandonSequence();
    }
    QVERIFY(waitIdle(rig.tarn));
    const QStringList failures = fixture->log.lines().filter(QRegularExpression(" failed \\(|: not ready "));
    QCOMPARE(failures.size(), line.isEmpty() ? 0 : which == 0 && failing == "late" ? 2 : 1);
    QVERIFY2(line.isEmpty() || failures.first().startsWith(line), qPrintable(failures.join('\n')));
    if (failing == "late") { // cancelled: no file, nothing to download, the next exposure works
        QVERIFY(filesHere().isEmpty());
        QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Refused);
        rig.faults.setForcedStatus(std::nullopt);
        QVERIFY(start(rig.tarn, 2) && waitIdle(rig.tarn));
        QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
    }
}

void tst_Tarn::stepLinesCanBeSilenced()
{
    CameraRig rig(0);
    for (const bool silenced : {false, true}) {
        QLoggingCategory::setFilterRules(silenced ? "starscam.steps.debug=false" : "");
        fixture->log.clear();
        QVERIFY(start(rig.tarn, 0, 0) && waitIdle(rig.tarn));
        for (const char* step : {"in Exp Seq", "Exp Exposing", "Downloading row No.  0", "drawing a row No.  0"})
            QVERIFY2(fixture->log.lines().contains(step) != silenced, step);
        QVERIFY(!fixture->log.lines().filter("Writing file name ").isEmpty());
    }
    QLoggingCategory::setFilterRules(QString());
}

void tst_Tarn::singleExposureFates_data()
{
    QTest::addColumn<QString>("fate");
    QTest::addColumn<int>("download");    // Tarn::DownLoadResult
    QTest::addColumn<int>("state");       // FrameRecord::State after it all
    QTest::addColumn<QString>("outcome"); // "none", "stored" or "lost <step>"
    QTest::addColumn<int>("files");
    QTest::addColumn<int>("lostEvents");

    using D = Tarn::DownLoadResult;
    using S = FrameRecord::State;
    QTest::newRow("stored") << "stored" << int(D::Stored) << int(S::Stored) << "stored" << 1 << 0;
    QTest::newRow("read twice") << "twice" << int(D::Refused) << int(S::Stored) << "stored" << 1 << 0;
    QTest::newRow("lost at start") << "exposeFrame" << int(D::Refused) << int(S::Lost) << "lost exposeFrame" << 0 << 1;
    QTest::newRow("lost at the poll") << "getDeviceStatus" << int(D::Refused) << int(S::Lost) << "lost getDeviceStatus"
                                      << 0 << 1;
    QTest::newRow("lost overdue") << "late" << int(D::Refused) << int(S::Lost) << "lost overdue" << 0 << 1;
    QTest::newRow("lost at read-out") << "grabRow" << int(D::ReadFailed) << int(S::Lost) << "lost grabRow" << 0 << 1;
    QTest::newRow("read-out failed, asked again")
        << "grabRow twice" << int(D::Refused) << int(S::Lost) << "lost grabRow" << 0 << 1;
    QTest::newRow("aborted") << "abort" << int(D::Refused) << int(S::Aborted) << "lost abort" << 0 << 1;
    QTest::newRow("cancel refused") << "cancel" << int(D::Refused) << int(S::Lost) << "lost cancel" << 0 << 1;
    QTest::newRow("finished, then aborted")
        << "discard" << int(D::Refused) << int(S::Cancelled) << "lost discarded" << 0 << 1;
    QTest::newRow("overwritten by Exposure and Abort")
        << "overwritten" << int(D::Refused) << int(S::Finished) << "none" << 0 << 0;
    QTest::newRow("nothing exposed") << "nothing" << int(D::Refused) << int(S::Exposing) << "none" << 0 << 0;
    QTest::newRow("failed start after a good frame")
        << "good, then exposeFrame" << int(D::Refused) << int(S::Lost) << "lost exposeFrame" << 1 << 1;
}

// What becomes of a single exposure: its record, the download's result, the
// outcome, the files and the events tell the same story.
void tst_Tarn::singleExposureFates()
{
    QFETCH(QString, fate);
    QFETCH(int, download);
    QFETCH(int, state);
    QFETCH(QString, outcome);
    QFETCH(int, files);
    QFETCH(int, lostEvents);

    TarnOptions options;
    options.exposureGraceMs = 30;
    CameraRig rig(0, SimSettings(), options);
    const bool longExposure = fate == "abort" || fate == "cancel";
    if (fate == "good, then exposeFrame") {
        QVERIFY(startSingle(rig.tarn, 8, 8, 0, "x.dat", 0) && waitIdle(rig.tarn));
        QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
    }
    QSignalSpy lost(&rig.tarn, &Tarn::pictureLost);
    const QString failing = fate == "cancel" ? QStringLiteral("cancelExposure") : fate.section(' ', -1);
    if (fate.endsWith("exposeFrame") || fate == "getDeviceStatus" || fate == "cancel")
        rig.faults.failOnce(failing, rig.faults.callCount(failing) + 1);
    if (fate == "late")
        rig.faults.setForcedStatus(2); // exposing, for ever
    Tarn::DownLoadResult result = Tarn::DownLoadResult::Refused;
    if (fate != "nothing") {
        QVERIFY(startSingle(rig.tarn, 8, 8, longExposure ? 60000 : 0, "x.dat", 0));
        if (fate == "abort" || fate == "cancel" || fate == "discard") {
            QVERIFY(stepTo(rig.tarn, rig.timers, 2, ExpSequence::Exposing, 1));
            const Tarn::Abandoned abandoned = rig.tarn.abandonSequence();
            QCOMPARE(abandoned.cancelled, fate != "cancel");
        }
        QVERIFY(waitIdle(rig.tarn));
        rig.faults.setForcedStatus(std::nullopt);
        if (fate == "overwritten") {
            QVERIFY(startExp(rig.tarn, 8, 8, 8, 0, 0, 1, 0, 0, "y.dat", 0));
            QVERIFY(!rig.tarn.abandonSequence().summary.isEmpty());
        }
        if (fate.startsWith("grabRow"))
            rig.faults.failOnce("grabRow", rig.faults.callCount("grabRow") + 1);
        if (fate == "twice" || fate == "grabRow twice")
            rig.tarn.downLoadSingle();
    }
    const int lostBefore = lost.size();
    const Tarn::Outcome before = rig.tarn.lastOutcome();
    rig.rec.clear();
    result = rig.tarn.downLoadSingle();
    QCOMPARE(int(result), download);
    if (result == Tarn::DownLoadResult::Refused) { // touches nothing
        QCOMPARE(lost.size(), lostBefore);
        QCOMPARE(rig.tarn.lastOutcome().step, before.step);
        QVERIFY(rig.rec.callsNamed({"grabRow"}).isEmpty());
    }
    const FrameRecord& record = rig.tarn.lastFrame();
    QCOMPARE(int(record.state), state);
    const Tarn::Outcome last = rig.tarn.lastOutcome();
    const QString said = last.kind == Tarn::Outcome::Stored ? QStringLiteral("stored")
                         : last.kind == Tarn::Outcome::Lost ? "lost " + last.step
                                                            : QStringLiteral("none");
    QCOMPARE(said, outcome);
    QCOMPARE(filesHere().size(), files);
    QCOMPARE(lost.size(), lostEvents);
}

// The picture of the running sequence, never the file number or the last
// sequence's.
void tst_Tarn::progressIsThePictureOfTheRunningSequence()
{
    CameraRig rig(0);
    NullSink sink; // the images are not the point here
    rig.tarn.setSink(&sink);
    QVERIFY(startExp(rig.tarn, 8, 8, 8, 0, 0, 3, 0, 0, "p.dat", 0) && waitIdle(rig.tarn));
    QCOMPARE(rig.tarn.getImageIndex(), 3);
    QVERIFY(startExp(rig.tarn, 8, 8, 8, 0, 0, 2, 0, 0, "p.dat", 0));
    Tarn::Progress p = rig.tarn.progress(); // not stepped yet
    QCOMPARE(p.picture, 0);
    QCOMPARE(p.pictures, 2);
    for (int step = 0; step < 1000 && rig.tarn.isBusy(); ++step) {
        rig.timers.tick(0);
        p = rig.tarn.progress();
        QVERIFY2(!rig.tarn.isBusy() || (p.picture >= 0 && p.picture < 2), qPrintable(QString::number(p.picture)));
    }
    QVERIFY(!rig.tarn.isBusy());
    QVERIFY(filesHere().isEmpty());
    QCOMPARE(rig.tarn.lastOutcome().file, QStringLiteral("null:%1").arg(rig.tarn.lastFrame().id));
    QVERIFY(startSingle(rig.tarn, 8, 8, 60000, "s.dat", 0));
    p = rig.tarn.progress();
    QCOMPARE(p.picture, 0);
    QCOMPARE(p.pictures, 1);
    rig.tarn.abandonSequence();
}

QTEST_GUILESS_MAIN(tst_Tarn)
#include "tst_tarn.moc"
