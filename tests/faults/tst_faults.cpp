// Injected camera failures in every step of every sequence: the sequence
// ends, busy returns to false with its event, exactly the pictures whose
// calls all succeeded have files, and the camera object takes the next
// sequence as if nothing happened. In-process over the simulator for the
// whole matrix, and a few rows end to end with SIM_FAIL.
#include "CameraRig.h"
#include "ServiceRig.h"
#include "TestFixture.h"
#include "tarn.h"

#include <QtTest>

#include <memory>

using namespace camlib;

namespace {

// A small sensor keeps the matrix quick: 48 x 32 visible pixels, binned 4
// for images (12 x 8) and 8 for RBI frames (6 x 4).
constexpr int SensorWidth = 48;
constexpr int SensorHeight = 32;
constexpr int Bin = 4;
constexpr int RbiBin = 8;
constexpr qint64 ImageBytes = qint64(SensorWidth / Bin) * (SensorHeight / Bin) * 2;

enum class Seq { Multi, Single, Rbi };

struct Scenario
{
    const char* name;
    Seq seq;
    int images;
    int flushes;
    int tdiRate;
    int expTimeMs;
    bool statusUnknown;
};

const Scenario scenarios[] = {
    {"multi-image", Seq::Multi, 3, 0, 0, 3, false},
    {"multi-image, TDI on", Seq::Multi, 2, 0, 5, 3, false},
    {"multi-image, RBI flood and flush", Seq::Multi, 2, 2, 0, 3, false},
    {"multi-image, status unknown", Seq::Multi, 2, 0, 0, 3, true},
    {"single exposure and download", Seq::Single, 1, 0, 0, 0, false},
    {"RBI flush", Seq::Rbi, 1, 3, 0, 2, false},
};

int machineOf(Seq seq)
{
    return seq == Seq::Multi ? 0 : seq == Seq::Rbi ? 1 : 2;
}

// Time moves one millisecond per look at the clock, so how often a
// sequence polls does not depend on the machine.
SimCamera::Clock steppingClock()
{
    auto now = std::make_shared<qint64>(0);
    return [now] { return (*now)++; };
}

SimSettings sensor(bool statusUnknown)
{
    SimSettings s;
    s.width = SensorWidth;
    s.height = SensorHeight;
    s.statusUnknown = statusUnknown;
    return s;
}

// The camera rig, counting calls from after the camera object's start-up.
struct Rig : CameraRig
{
    explicit Rig(const Scenario& sc) : CameraRig(0, sensor(sc.statusUnknown), {}, {}, steppingClock())
    {
        faults.resetCallCounts();
        rec.clear();
    }
};

bool start(Tarn& tarn, const Scenario& sc, const QString& fileName)
{
    switch (sc.seq) {
    case Seq::Multi:
        return startExp(tarn, Bin, Bin, RbiBin, sc.flushes, 2, sc.images, sc.expTimeMs, 0.0, fileName, sc.tdiRate);
    case Seq::Single:
        return startSingle(tarn, Bin, Bin, sc.expTimeMs, fileName, sc.tdiRate);
    default:
        return startRbi(tarn, RbiBin, sc.flushes, sc.expTimeMs);
    }
}

// Runs the sequence to its end. Stepping the machine directly rather than
// through its 10 ms timer keeps hundreds of runs quick; the timer-driven
// rows and the end-to-end rows cover the timer itself.
bool runToEnd(Rig& rig, Seq seq, bool useTimer)
{
    Tarn& tarn = rig.tarn;
    if (useTimer) {
        return TestWait::until([&] { return !tarn.isBusy(); }, 20000);
    }
    for (int step = 0; step < 100000 && tarn.isBusy(); ++step)
        rig.timers.tick(machineOf(seq));
    return !tarn.isBusy();
}

QStringList imageFiles()
{
    return QDir::current().entryList(QDir::Files, QDir::Name);
}

// "setTDI(1,5,0)=0" -> {"1","5","0"}
QStringList argsOf(const QString& call)
{
    const int open = call.indexOf('(');
    return call.mid(open + 1, call.lastIndexOf(')') - open - 1).split(',');
}

// The clean run's calls of a scenario.
QStringList cleanCalls(const Scenario& sc)
{
    const WorkDir dir;
    Rig rig(sc);
    QStringList calls;
    if (start(rig.tarn, sc, "f.dat") && runToEnd(rig, sc.seq, false)) {
        if (sc.seq == Seq::Single)
            rig.tarn.downLoadSingle();
        calls = rig.rec.calls();
    }
    return calls;
}

struct Outcome
{
    QStringList files;         // the image files the run leaves
    int exposeFrameCalls = -1; // checked when not negative
    Tarn::DownLoadResult download = Tarn::DownLoadResult::Stored;
};

// What a failure of the clean run's call `failed` must come to.
Outcome expectedOutcome(const Scenario& sc, const QStringList& clean, int failed)
{
    const QString call = clean.at(failed);
    const QString op = RecordingLibrary::operationOf(call);
    // Turning TDI off is allowed to fail (a camera without TDI refuses it).
    const bool fatal = op != QLatin1String("setTDI") || argsOf(call).value(1).toInt() > 0;

    Outcome out;
    if (sc.seq == Seq::Multi) {
        // The picture a call belongs to: main-frame rows read before it.
        int mainRows = 0;
        long frameType = FrameNormal;
        for (int i = 0; i < failed; ++i) {
            const QString c = clean.at(i);
            if (c.startsWith("setFrameType"))
                frameType = argsOf(c).value(1).toLong();
            else if (c.startsWith("grabRow") && frameType == FrameNormal)
                ++mainRows;
        }
        const int lost = fatal ? mainRows / (SensorHeight / Bin) : -1;
        int seqNo = 0;
        for (int picture = 0; picture < sc.images; ++picture) {
            if (picture != lost)
                out.files << QString::asprintf("f%04d-%04d.dat", seqNo++, picture);
        }
    } else if (sc.seq == Seq::Single) {
        // The image is lost with any failure: a frame never started or never
        // seen finished is refused for download, a failed read-out stores nothing.
        const bool lost = fatal;
        out.download = !lost                            ? Tarn::DownLoadResult::Stored
                       : op == QLatin1String("grabRow") ? Tarn::DownLoadResult::ReadFailed
                                                        : Tarn::DownLoadResult::Refused;
        if (!lost)
            out.files << "f0000-0000.dat";
    } else {
        // No files; a failed RBI read-out still counts its frame and the
        // sequence goes on, any other failure ends it.
        if (fatal && op != QLatin1String("grabRow"))
            out.exposeFrameCalls = clean.mid(0, failed + 1).filter(QRegularExpression("^exposeFrame")).size();
        else
            out.exposeFrameCalls = sc.flushes;
    }
    return out;
}

const QString busy1 = ServiceRig::busy1;
const QString busy0 = ServiceRig::busy0;

} // namespace

class tst_Faults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void cleanRunsAreWhatTheMatrixAssumes();
    void everyCallFailingOnce_data();
    void everyCallFailingOnce();
    void failingForGoodEndsEverySequence_data();
    void failingForGoodEndsEverySequence();
    void serviceWithInjectedFailures_data();
    void serviceWithInjectedFailures();

private:
    std::unique_ptr<LogCapture> quiet;
    std::unique_ptr<TestFixture> fixture;
};

void tst_Faults::initTestCase()
{
    // The camera object logs every step and row, the data functions too; keep
    // those out of the test output, but let warnings through.
    quiet = std::make_unique<LogCapture>(LogCapture::Keep::DebugOnly);
}

void tst_Faults::cleanupTestCase()
{
    quiet.reset();
}

void tst_Faults::init()
{
    fixture = std::make_unique<TestFixture>(LogCapture::Keep::DebugOnly);
    QVERIFY(fixture->workDir.isValid());
}

void tst_Faults::cleanup()
{
    fixture.reset();
}

void tst_Faults::cleanRunsAreWhatTheMatrixAssumes()
{
    // Guards the model below: in a clean run every call succeeds, every
    // picture has its file, and the rows per frame are as sized.
    for (const Scenario& sc : scenarios) {
        const QStringList clean = cleanCalls(sc);
        QVERIFY2(!clean.isEmpty(), sc.name);
        QVERIFY2(clean.filter(QRegularExpression("=0$")).size() == clean.size(), sc.name);
        const int frames = sc.seq == Seq::Rbi ? sc.flushes : sc.images * (1 + sc.flushes);
        QCOMPARE(clean.filter(QRegularExpression("^exposeFrame")).size(), frames);
        const int rows = sc.seq == Seq::Rbi ? sc.flushes * (SensorHeight / RbiBin)
                                            : sc.images * (SensorHeight / Bin + sc.flushes * (SensorHeight / RbiBin));
        QCOMPARE(clean.filter(QRegularExpression("^grabRow")).size(), rows);
        QVERIFY(clean.filter(QRegularExpression("^getDeviceStatus")).size() >= frames);
    }
}

void tst_Faults::everyCallFailingOnce_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<QStringList>("clean");
    QTest::addColumn<int>("failed"); // index into clean
    QTest::addColumn<bool>("useTimer");

    int total = 0;
    for (int s = 0; s < int(sizeof scenarios / sizeof scenarios[0]); ++s) {
        const QStringList clean = cleanCalls(scenarios[s]);
        QMap<QString, int> seen;
        for (int i = 0; i < clean.size(); ++i) {
            const QString op = RecordingLibrary::operationOf(clean.at(i));
            const int k = ++seen[op];
            QTest::newRow(qPrintable(QStringLiteral("%1: %2 call %3").arg(scenarios[s].name, op).arg(k)))
                << s << clean << i << false;
            ++total;
        }
    }
    // The first failure of each operation again, with the sequence on its timer.
    const int s = 2;
    const QStringList clean = cleanCalls(scenarios[s]);
    QSet<QString> done;
    for (int i = 0; i < clean.size(); ++i) {
        const QString op = RecordingLibrary::operationOf(clean.at(i));
        if (done.contains(op))
            continue;
        done.insert(op);
        QTest::newRow(qPrintable(QStringLiteral("%1, on its timer: %2 call 1").arg(scenarios[s].name, op)))
            << s << clean << i << true;
    }
}

void tst_Faults::everyCallFailingOnce()
{
    QFETCH(int, scenario);
    QFETCH(QStringList, clean);
    QFETCH(int, failed);
    QFETCH(bool, useTimer);
    const Scenario& sc = scenarios[scenario];

    Rig rig(sc);
    const QString op = RecordingLibrary::operationOf(clean.at(failed));
    const int k = clean.mid(0, failed + 1).filter(QRegularExpression("^" + op + "\\(")).size();
    QVERIFY(rig.faults.failOnce(op, k));

    QSignalSpy busy(&rig.tarn, &Tarn::changedIsBusy);
    QVERIFY(start(rig.tarn, sc, "f.dat"));
    QVERIFY(runToEnd(rig, sc.seq, useTimer));
    const Outcome expected = expectedOutcome(sc, clean, failed);
    if (sc.seq == Seq::Single)
        QCOMPARE(rig.tarn.downLoadSingle(), expected.download);

    // The failure landed where the row says: the same calls up to it.
    const QStringList calls = rig.rec.calls();
    QCOMPARE(calls.mid(0, failed), clean.mid(0, failed));
    QString failedCall = clean.at(failed);
    failedCall.replace(QRegularExpression("=0$"), QStringLiteral("=%1").arg(SimFault::DefaultStatus));
    QCOMPARE(calls.value(failed), failedCall);
    QCOMPARE(fixture->log.lines().filter("camera library: injected failure of " + op).size(), 1);

    QCOMPARE(busy.size(), 2);
    QCOMPARE(busy.at(0).at(0).toBool(), true);
    QCOMPARE(busy.at(1).at(0).toBool(), false);
    const int states[] = {rig.tarn.expSeq().state(), rig.tarn.rbiSeq().state(), rig.tarn.exp2Seq().state()};
    QCOMPARE(states[machineOf(sc.seq)], ExpSequence::None);

    QCOMPARE(imageFiles(), expected.files);
    for (const QString& f : expected.files)
        QCOMPARE(QFileInfo(f).size(), ImageBytes);
    if (expected.exposeFrameCalls >= 0)
        QCOMPARE(rig.rec.callsNamed({"exposeFrame"}).size(), expected.exposeFrameCalls);

    // The next sequence works.
    busy.clear();
    QVERIFY(startExp(rig.tarn, Bin, Bin, RbiBin, 0, 0, 1, 0, 0.0, "after.dat", 0));
    QVERIFY(runToEnd(rig, Seq::Multi, useTimer));
    QCOMPARE(busy.size(), 2);
    const QStringList after = imageFiles().filter(QRegularExpression("^after"));
    QCOMPARE(after.size(), 1);
    QCOMPARE(QFileInfo(after.at(0)).size(), ImageBytes);
}

void tst_Faults::failingForGoodEndsEverySequence_data()
{
    QTest::addColumn<int>("scenario");
    QTest::addColumn<QString>("op");
    for (int s = 0; s < int(sizeof scenarios / sizeof scenarios[0]); ++s) {
        QSet<QString> ops;
        for (const QString& call : cleanCalls(scenarios[s]))
            ops.insert(RecordingLibrary::operationOf(call));
        QStringList sorted = ops.values();
        sorted.sort();
        for (const QString& op : sorted)
            QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(scenarios[s].name, op))) << s << op;
    }
}

void tst_Faults::failingForGoodEndsEverySequence()
{
    // A camera that stops answering one operation altogether: the sequence
    // still ends, leaves nothing short behind, and the object stays usable
    // once the camera answers again.
    QFETCH(int, scenario);
    QFETCH(QString, op);
    const Scenario& sc = scenarios[scenario];
    Rig rig(sc);
    QVERIFY(rig.faults.failFrom(op, 1));
    QSignalSpy busy(&rig.tarn, &Tarn::changedIsBusy);
    QVERIFY(start(rig.tarn, sc, "f.dat"));
    QVERIFY(runToEnd(rig, sc.seq, false));
    if (sc.seq == Seq::Single)
        rig.tarn.downLoadSingle();
    QCOMPARE(busy.size(), 2);
    for (const QString& f : imageFiles())
        QCOMPARE(QFileInfo(f).size(), ImageBytes);
    // Only turning TDI off may fail without costing the images: a single
    // exposure never seen finished is not read out.
    const bool harmless = op == "setTDI" && sc.tdiRate == 0;
    if (!harmless)
        QVERIFY2(imageFiles().isEmpty(), qPrintable(imageFiles().join(' ')));
    else if (sc.seq != Seq::Rbi)
        QCOMPARE(imageFiles().size(), sc.images);

    rig.faults.clearFaults();
    busy.clear();
    QVERIFY(start(rig.tarn, sc, "again.dat"));
    QVERIFY(runToEnd(rig, sc.seq, false));
    QCOMPARE(busy.size(), 2);
    if (sc.seq == Seq::Single)
        QCOMPARE(rig.tarn.downLoadSingle(), Tarn::DownLoadResult::Stored);
    QCOMPARE(imageFiles().filter(QRegularExpression("^again")).size(), sc.seq == Seq::Rbi ? 0 : sc.images);
}

void tst_Faults::serviceWithInjectedFailures_data()
{
    QTest::addColumn<QString>("simFail");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("command");  // Exposure, RBIFlush or StartExposure (then DownLoadImage)
    QTest::addColumn<QString>("download"); // the DownLoadImage reply, for StartExposure
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("recovers"); // a failure once: the next sequence is whole

    const QStringList three{"SetBin 4 4 4", "SetImages 3", "SetExpTime 10"};
    // 256 rows per picture: row call 300 is in the second one.
    QTest::newRow("read-out of picture 2 fails")
        << "grabRow@300once" << three << "Exposure"
        << "" << QStringList{"DefaultFileName0000-0000.dat", "DefaultFileName0001-0002.dat"} << true;
    QTest::newRow("first exposure start fails")
        << "exposeFrame@1once" << three << "Exposure"
        << "" << QStringList{"DefaultFileName0000-0001.dat", "DefaultFileName0001-0002.dat"} << true;
    QTest::newRow("first status poll fails")
        << "getDeviceStatus@1once" << three << "Exposure"
        << "" << QStringList{"DefaultFileName0000-0001.dat", "DefaultFileName0001-0002.dat"} << true;
    QTest::newRow("third frame set-up fails")
        << "setImageArea@3once" << three << "Exposure"
        << "" << QStringList{"DefaultFileName0000-0000.dat", "DefaultFileName0001-0001.dat"} << true;
    QTest::newRow("RBI flood frame type of picture 1 fails")
        << "setFrameType@1once"
        << QStringList{"SetBin 4 4 8", "SetImages 2", "SetExpTime 10", "SetRBIFlushes 1", "SetRBIExpTime 5"}
        << "Exposure"
        << "" << QStringList{"DefaultFileName0000-0001.dat"} << true;
    QTest::newRow("RBI read-out of picture 2 fails")
        << "grabRow@400once"
        << QStringList{"SetBin 4 4 8", "SetImages 2", "SetExpTime 10", "SetRBIFlushes 1", "SetRBIExpTime 5"}
        << "Exposure"
        << "" << QStringList{"DefaultFileName0000-0000.dat"} << true;
    QTest::newRow("camera never exposes") << "exposeFrame" << three << "Exposure"
                                          << "" << QStringList{} << false;
    QTest::newRow("single exposure read-out fails")
        << "grabRow@10once" << QStringList{"SetBin 4 4 4", "SetExpTime 10"} << "StartExposure"
        << "@DownLoadImage Err: Busy" << QStringList{} << true;
    QTest::newRow("single exposure status poll fails")
        << "getExposureStatus@1once" << QStringList{"SetBin 4 4 4", "SetExpTime 0"} << "StartExposure"
        << "@DownLoadImage Err: Busy" << QStringList{} << true;
    QTest::newRow("RBI flush sequence, flood read-out fails")
        << "grabRow@1once" << QStringList{"SetBin 4 4 8", "SetRBIFlushes 2", "SetRBIExpTime 5"} << "RBIFlush"
        << "" << QStringList{} << true;
    QTest::newRow("RBI flush sequence, flush set-up fails")
        << "setVBin@2once" << QStringList{"SetBin 4 4 8", "SetRBIFlushes 2", "SetRBIExpTime 5"} << "RBIFlush"
        << "" << QStringList{} << true;
}

void tst_Faults::serviceWithInjectedFailures()
{
    QFETCH(QString, simFail);
    QFETCH(QStringList, settings);
    QFETCH(QString, command);
    QFETCH(QString, download);
    QFETCH(QStringList, files);
    QFETCH(bool, recovers);

    ServiceRig rig;
    QVERIFY(rig.startServer());
    QVERIFY(rig.startService({{"SIM_FAIL", simFail}}));
    BusNode& term = *rig.term;
    ServiceProcess& service = *rig.service;
    for (const QString& s : settings)
        QCOMPARE(term.request("cam1", s), QStringLiteral("cam1>term1 @%1 Ok:").arg(s.section(' ', 0, 0)));

    term.send("term1>cam1 " + command);
    QCOMPARE(term.nextLine(), busy1);
    QCOMPARE(term.nextLine(), QStringLiteral("cam1>term1 @%1 Ok:").arg(command));
    QCOMPARE(term.nextLine(30000), busy0);
    if (!download.isEmpty())
        QCOMPARE(term.request("cam1", "DownLoadImage", 30000), "cam1>term1 " + download);
    QVERIFY2(service.log().contains("camera library: injected failure of " + simFail.section('@', 0, 0)),
             qPrintable(service.log().right(3000)));

    const QString imageName = QStringLiteral("^DefaultFileName.*\\.dat$"); // the images, not their metadata
    QCOMPARE(service.files().filter(QRegularExpression(imageName)), files);
    const int binning = settings.first().section(' ', 1, 1).toInt();
    const qint64 imageBytes = qint64(1536 / binning) * (1024 / binning) * 2;
    for (const QString& f : files)
        QCOMPARE(QFileInfo(service.filePath(f)).size(), imageBytes);

    // The service still answers, idle, and takes the next sequence.
    QCOMPARE(term.request("cam1", "IsBusy"), QStringLiteral("cam1>term1 @IsBusy 0"));
    QCOMPARE(term.request("cam1", "SetImages 1"), QStringLiteral("cam1>term1 @SetImages Ok:"));
    QCOMPARE(term.request("cam1", "SetRBIFlushes 0"), QStringLiteral("cam1>term1 @SetRBIFlushes Ok:"));
    QCOMPARE(term.request("cam1", "SetFileName next.dat"), QStringLiteral("cam1>term1 @SetFileName Ok:"));
    term.send("term1>cam1 Exposure");
    QCOMPARE(term.nextLine(), busy1);
    QCOMPARE(term.nextLine(), QStringLiteral("cam1>term1 @Exposure Ok:"));
    QCOMPARE(term.nextLine(30000), busy0);
    const QStringList next = service.files().filter(QRegularExpression("^next.*\\.dat$"));
    QCOMPARE(next.size(), recovers ? 1 : 0);
    for (const QString& f : next)
        QCOMPARE(QFileInfo(service.filePath(f)).size(), imageBytes);
    QVERIFY(service.isRunning());
}

QTEST_GUILESS_MAIN(tst_Faults)
#include "tst_faults.moc"
