// Every information and setting command, sent over the bus to a running
// service on the simulated camera, with the exact reply line expected.
#include "ServiceRig.h"

#include <QtTest>

#include <memory>

class tst_ServiceCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void repliesWithCameraOpen_data();
    void repliesWithCameraOpen();
    void repliesWithoutCamera_data();
    void repliesWithoutCamera();

private:
    // Sends the line and returns the first line that comes back.
    QString exchange(BusNode& node, const QString& line);
    // Sends a row's set-up lines; false unless each got its command's reply.
    bool runSetUp(BusNode& node, const QStringList& lines);
    void addRows();

    // cam1 on camera 0 and term1 (not subscribed: each row reads the first
    // line back); cam2 finds no camera and term2 asks it.
    ServiceRig rig;
    std::unique_ptr<ServiceProcess> noCamera;
    std::unique_ptr<BusNode> term2;
};

void tst_ServiceCommands::initTestCase()
{
    rig.termKeys = QStringList{"t1", "t2", "t3"};
    rig.subscribeTerm = false;
    QVERIFY(rig.startServer());
    QVERIFY(rig.server->addKeys("term2", {"u1"}));
    QVERIFY(rig.startService());

    noCamera = std::make_unique<ServiceProcess>(*rig.server);
    noCamera->setConfigValue("NAME_ON_STARS", "cam2");
    noCamera->setConfigValue("KEY_FILE_NAME", "cam2");
    noCamera->setConfigValue("CAMERA_NO", "0");
    noCamera->setConfigValue("SIM_CAMERAS", "0");
    QVERIFY(noCamera->start());
    QVERIFY2(noCamera->waitForLogin(), qPrintable(noCamera->log()));

    term2 = std::make_unique<BusNode>();
    QVERIFY(term2->login(rig.server->port(), "term2", {"u1"}));
}

void tst_ServiceCommands::cleanupTestCase()
{
    term2.reset();
    noCamera.reset();
    rig.stopRig();
}

QString tst_ServiceCommands::exchange(BusNode& node, const QString& line)
{
    node.send(line);
    return node.nextLine(5000);
}

bool tst_ServiceCommands::runSetUp(BusNode& node, const QStringList& lines)
{
    for (const QString& line : lines) {
        const QString got = exchange(node, line);
        if (!got.contains(" @" + line.section(' ', 1, 1, QString::SectionSkipEmpty) + " ")) {
            qWarning().noquote() << "set-up line" << line << "was answered" << got;
            return false;
        }
    }
    return true;
}

void tst_ServiceCommands::repliesWithCameraOpen_data()
{
    // The rows share one service, so a row that reads a setting makes it first
    // in its set-up lines: each row also runs by itself. An expected reply
    // starting with '~' is a pattern.
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QStringList>("setup");

    const auto row = [](const char* name, const QString& request, const QString& reply, const QStringList& setup = {}) {
        QTest::newRow(name) << request << reply << setup;
    };
    // Defaults right after start-up.
    row("default bin", "term1>cam1 GetBin", "cam1>term1 @GetBin 1 1 1");
    row("default flushes", "term1>cam1 GetRBIFlushes", "cam1>term1 @GetRBIFlushes 0");
    row("default rbi time", "term1>cam1 GetRBIExpTime", "cam1>term1 @GetRBIExpTime 500");
    row("default tdi", "term1>cam1 GetTDIRate", "cam1>term1 @GetTDIRate 0");
    row("default images", "term1>cam1 GetImages", "cam1>term1 @GetImages 1");
    row("default exptime", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 500");
    row("default interval", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 0");
    row("default file name", "term1>cam1 GetFileName", "cam1>term1 @GetFileName DefaultFileName.dat");
    row("default seq no", "term1>cam1 GetSeqFileNo", "cam1>term1 @GetSeqFileNo 0");
    row("default use seq", "term1>cam1 GetUseSeqFNo", "cam1>term1 @GetUseSeqFNo 1");
    row("not busy", "term1>cam1 IsBusy", "cam1>term1 @IsBusy 0");

    // The camera's identity and geometry as the simulator reports them; behind
    // the SDK's interface it says so in its version and model.
    const bool sdk = ServiceProcess::backend() == QLatin1String("fli");
    row("lib version", "term1>cam1 GetLibVer",
        sdk ? "cam1>term1 @GetLibVer starscam SDK-level camera simulator 1.0 (libfli 2 interface)"
            : "cam1>term1 @GetLibVer starscam camera simulator 1.0");
    row("model", "term1>cam1 GetModel",
        QStringLiteral("cam1>term1 @GetModel Simulated KAF-1603 CCD") + (sdk ? " (SDK-level)" : ""));
    row("serial", "term1>cam1 GetSerialSTR", "cam1>term1 @GetSerialSTR SIM00001");
    row("hw rev", "term1>cam1 GetHWRev", "cam1>term1 @GetHWRev 256");
    row("pixel size in %g", "term1>cam1 GetPixSize", "cam1>term1 @GetPixSize 9e-06 9e-06");
    row("array area", "term1>cam1 GetArrayArea", "cam1>term1 @GetArrayArea 0 0 1564 1032");
    row("visible area", "term1>cam1 GetVisArea", "cam1>term1 @GetVisArea 14 4 1550 1028");
    const QString real = QStringLiteral("-?[0-9.]+(e[-+][0-9]+)?");
    row("temperatures", "term1>cam1 GetTemp", "~cam1>term1 @GetTemp " + real + " " + real);
    row("ccd temperature", "term1>cam1 GetCCDTemp", "~cam1>term1 @GetCCDTemp " + real);
    row("base temperature", "term1>cam1 GetBaseTemp", "~cam1>term1 @GetBaseTemp " + real);
    row("cooler power", "term1>cam1 GetCoolerPWR", "~cam1>term1 @GetCoolerPWR " + real);
    row("parameters ignored", "term1>cam1 GetTemp 5", "~cam1>term1 @GetTemp " + real + " " + real);
    row("parameters ignored 2", "term1>cam1 GetVisArea x y", "cam1>term1 @GetVisArea 14 4 1550 1028");
    row("set temp", "term1>cam1 SetTemp -20", "cam1>term1 @SetTemp Ok:");
    row("set temp not a number", "term1>cam1 SetTemp cold", "cam1>term1 @SetTemp Ok:");

    // Integer conversion: anything but a whole base-10 number is 0.
    row("exptime abc", "term1>cam1 SetExpTime abc", "cam1>term1 @SetExpTime Ok:");
    row("exptime abc is 0", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 0",
        {"term1>cam1 SetExpTime 300", "term1>cam1 SetExpTime abc"});
    row("exptime set", "term1>cam1 SetExpTime +750", "cam1>term1 @SetExpTime Ok:");
    row("exptime with sign", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 750", {"term1>cam1 SetExpTime +750"});
    row("exptime 2.5", "term1>cam1 SetExpTime 2.5", "cam1>term1 @SetExpTime Ok:");
    row("exptime 2.5 is 0", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 0",
        {"term1>cam1 SetExpTime 300", "term1>cam1 SetExpTime 2.5"});
    row("exptime reset", "term1>cam1 SetExpTime 300", "cam1>term1 @SetExpTime Ok:");
    row("exptime two words", "term1>cam1 SetExpTime 1000 2000", "cam1>term1 @SetExpTime Ok:");
    row("two words are 0", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 0",
        {"term1>cam1 SetExpTime 300", "term1>cam1 SetExpTime 1000 2000"});
    row("exptime again", "term1>cam1 SetExpTime 300", "cam1>term1 @SetExpTime Ok:");
    row("bare exptime", "term1>cam1 SetExpTime", "cam1>term1 @SetExpTime Ok:");
    row("bare is 0", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 0",
        {"term1>cam1 SetExpTime 300", "term1>cam1 SetExpTime"});
    row("exptime overflow", "term1>cam1 SetExpTime 99999999999", "cam1>term1 @SetExpTime Ok:");
    row("overflow is 0", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 0",
        {"term1>cam1 SetExpTime 300", "term1>cam1 SetExpTime 99999999999"});
    row("hex is not a number", "term1>cam1 SetImages 0x10", "cam1>term1 @SetImages Ok:");
    row("hex is 0", "term1>cam1 GetImages", "cam1>term1 @GetImages 0",
        {"term1>cam1 SetImages 1", "term1>cam1 SetImages 0x10"});
    row("images", "term1>cam1 SetImages 5", "cam1>term1 @SetImages Ok:");
    row("images read", "term1>cam1 GetImages", "cam1>term1 @GetImages 5", {"term1>cam1 SetImages 5"});
    row("flushes", "term1>cam1 SetRBIFlushes 3", "cam1>term1 @SetRBIFlushes Ok:");
    row("flushes read", "term1>cam1 GetRBIFlushes", "cam1>term1 @GetRBIFlushes 3", {"term1>cam1 SetRBIFlushes 3"});
    row("rbi time", "term1>cam1 SetRBIExpTime 250", "cam1>term1 @SetRBIExpTime Ok:");
    row("rbi time read", "term1>cam1 GetRBIExpTime", "cam1>term1 @GetRBIExpTime 250", {"term1>cam1 SetRBIExpTime 250"});
    row("tdi negative", "term1>cam1 SetTDIRate -4", "cam1>term1 @SetTDIRate Ok:");
    row("tdi read", "term1>cam1 GetTDIRate", "cam1>term1 @GetTDIRate -4", {"term1>cam1 SetTDIRate -4"});

    // Real conversion: '.' as decimal point whatever the locale, %g out.
    row("interval 2.50", "term1>cam1 SetInterval 2.50", "cam1>term1 @SetInterval Ok:");
    row("interval 2.5", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 2.5", {"term1>cam1 SetInterval 2.50"});
    row("interval 0.1", "term1>cam1 SetInterval 0.1", "cam1>term1 @SetInterval Ok:");
    row("interval 0.1 read", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 0.1", {"term1>cam1 SetInterval 0.1"});
    row("interval comma", "term1>cam1 SetInterval 1,5", "cam1>term1 @SetInterval Ok:");
    row("comma is 0", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 0",
        {"term1>cam1 SetInterval 0.1", "term1>cam1 SetInterval 1,5"});
    row("interval small", "term1>cam1 SetInterval 0.000012", "cam1>term1 @SetInterval Ok:");
    row("small in exponent form", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 1.2e-05",
        {"term1>cam1 SetInterval 0.000012"});
    row("interval large", "term1>cam1 SetInterval 1234567", "cam1>term1 @SetInterval Ok:");
    row("large rounded", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 1.23457e+06",
        {"term1>cam1 SetInterval 1234567"});
    row("interval nan", "term1>cam1 SetInterval nan", "cam1>term1 @SetInterval Ok:");
    row("nan is no number", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 0",
        {"term1>cam1 SetInterval 1234567", "term1>cam1 SetInterval nan"});
    row("interval inf", "term1>cam1 SetInterval -inf", "cam1>term1 @SetInterval Ok:");
    row("inf is no number", "term1>cam1 GetInterval", "cam1>term1 @GetInterval 0",
        {"term1>cam1 SetInterval 1234567", "term1>cam1 SetInterval -inf"});
    row("set temp inf", "term1>cam1 SetTemp inf", "cam1>term1 @SetTemp Ok:");

    // SetBin needs three entries; each entry converts on its own.
    row("bin two", "term1>cam1 SetBin 2 2", "cam1>term1 @SetBin Err: Less parameters (expecting hbin, vbin and rbin)");
    row("bin unchanged", "term1>cam1 GetBin", "cam1>term1 @GetBin 1 1 1",
        {"term1>cam1 SetBin 1 1 1", "term1>cam1 SetBin 2 2"});
    row("bin bare", "term1>cam1 SetBin", "cam1>term1 @SetBin Err: Less parameters (expecting hbin, vbin and rbin)");
    row("bin four", "term1>cam1 SetBin 2 4 1 9", "cam1>term1 @SetBin Ok:");
    row("bin four read", "term1>cam1 GetBin", "cam1>term1 @GetBin 2 4 1", {"term1>cam1 SetBin 2 4 1 9"});
    row("bin bad entry", "term1>cam1 SetBin 2 x 1", "cam1>term1 @SetBin Ok:");
    row("bin bad entry read", "term1>cam1 GetBin", "cam1>term1 @GetBin 2 0 1", {"term1>cam1 SetBin 2 x 1"});
    row("bin three", "term1>cam1 SetBin 3 3 3", "cam1>term1 @SetBin Ok:");
    row("bin three read", "term1>cam1 GetBin", "cam1>term1 @GetBin 3 3 3", {"term1>cam1 SetBin 3 3 3"});

    // File numbering lives in the camera object.
    row("use seq 2", "term1>cam1 SetUseSeqFNo 2", "cam1>term1 @SetUseSeqFNo Ok:");
    row("use seq 2 clears", "term1>cam1 GetUseSeqFNo", "cam1>term1 @GetUseSeqFNo 0",
        {"term1>cam1 SetUseSeqFNo 1", "term1>cam1 SetUseSeqFNo 2"});
    row("use seq 1", "term1>cam1 SetUseSeqFNo 1", "cam1>term1 @SetUseSeqFNo Ok:");
    row("use seq 1 sets", "term1>cam1 GetUseSeqFNo", "cam1>term1 @GetUseSeqFNo 1",
        {"term1>cam1 SetUseSeqFNo 2", "term1>cam1 SetUseSeqFNo 1"});
    row("use seq true", "term1>cam1 SetUseSeqFNo true", "cam1>term1 @SetUseSeqFNo Ok:");
    row("use seq true clears", "term1>cam1 GetUseSeqFNo", "cam1>term1 @GetUseSeqFNo 0",
        {"term1>cam1 SetUseSeqFNo 1", "term1>cam1 SetUseSeqFNo true"});
    row("seq no", "term1>cam1 SetSeqFileNo 17", "cam1>term1 @SetSeqFileNo Ok:");
    row("seq no read", "term1>cam1 GetSeqFileNo", "cam1>term1 @GetSeqFileNo 17", {"term1>cam1 SetSeqFileNo 17"});

    // File names: white space collapsed, text unquoted, Latin-1 on the wire.
    row("file name with blanks", "term1>cam1 SetFileName  my   image.dat ", "cam1>term1 @SetFileName Ok:");
    row("file name read", "term1>cam1 GetFileName", "cam1>term1 @GetFileName my image.dat",
        {"term1>cam1 SetFileName  my   image.dat "});
    row("file name non-latin", QString::fromUtf8("term1>cam1 SetFileName caf\u00e9\u20ac.dat"),
        "cam1>term1 @SetFileName Ok:");
    row("file name encoded", "term1>cam1 GetFileName", QString::fromLatin1("cam1>term1 @GetFileName caf\xe9?.dat"),
        {QString::fromUtf8("term1>cam1 SetFileName caf\u00e9\u20ac.dat")});
    row("empty file name", "term1>cam1 SetFileName", "cam1>term1 @SetFileName Ok:");
    row("empty file name read", "term1>cam1 GetFileName", "cam1>term1 @GetFileName ",
        {"term1>cam1 SetFileName a.dat", "term1>cam1 SetFileName"});

    // Addressing: the receiver's sub-name answers and is the first parameter.
    row("receiver sub-name", "term1>cam1.ccd SetExpTime 10", "cam1.ccd>term1 @SetExpTime Ok:");
    row("sub-name was the parameter", "term1>cam1 GetExpTime", "cam1>term1 @GetExpTime 0",
        {"term1>cam1 SetExpTime 300", "term1>cam1.ccd SetExpTime 10"});
    row("receiver sub-name get", "term1>cam1.ccd GetBin", "cam1.ccd>term1 @GetBin 3 3 3", {"term1>cam1 SetBin 3 3 3"});
    row("requester sub-name", "term1.ui>cam1 GetBin", "cam1>term1.ui @GetBin 3 3 3", {"term1>cam1 SetBin 3 3 3"});

    // What no handler answers: unknown words, events.
    row("unknown", "term1>cam1 Foo 1", "cam1>term1 Er: Undefined Command");
    row("wrong case", "term1>cam1 getbin", "cam1>term1 Er: Undefined Command");
    row("unknown, sub-names kept", "term1.ui>cam1.ccd Foo", "cam1.ccd>term1.ui Er: Undefined Command");
    row("event", "term1>cam1 _Tick 1", "cam1>term1 Er: Undefined Event");
    row("CR LF", "term1>cam1 GetBin\r", "cam1>term1 @GetBin 3 3 3", {"term1>cam1 SetBin 3 3 3"});
}

void tst_ServiceCommands::repliesWithCameraOpen()
{
    QFETCH(QString, request);
    QFETCH(QString, reply);
    QFETCH(QStringList, setup);
    QVERIFY(runSetUp(*rig.term, setup));
    const QString got = exchange(*rig.term, request);
    if (reply.startsWith('~'))
        QVERIFY2(QRegularExpression("^" + reply.mid(1) + "$").match(got).hasMatch(), qPrintable(got));
    else
        QCOMPARE(got, reply);
}

void tst_ServiceCommands::repliesWithoutCamera_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QStringList>("setup");
    const auto row = [](const char* name, const char* request, const char* reply, const QStringList& setup = {}) {
        QTest::newRow(name) << QString(request) << QString(reply) << setup;
    };
    row("lib version", "term2>cam2 GetLibVer", "cam2>term2 @GetLibVer Err: Get Lib Version");
    row("model", "term2>cam2 GetModel", "cam2>term2 @GetModel Err: Get Model");
    row("serial", "term2>cam2 GetSerialSTR", "cam2>term2 @GetSerialSTR Err: Get Serial String");
    row("hw rev", "term2>cam2 GetHWRev", "cam2>term2 @GetHWRev Err: Get HW Revision");
    row("pixel size", "term2>cam2 GetPixSize", "cam2>term2 @GetPixSize Err: Get Pixel Size");
    row("array area", "term2>cam2 GetArrayArea", "cam2>term2 @GetArrayArea Err: Get Array Area");
    row("visible area", "term2>cam2 GetVisArea", "cam2>term2 @GetVisArea Err: Get Visible Area");
    row("temperatures", "term2>cam2 GetTemp", "cam2>term2 @GetTemp Err: Get Temperature");
    row("ccd temperature", "term2>cam2 GetCCDTemp", "cam2>term2 @GetCCDTemp Err: Get Temperature");
    row("base temperature", "term2>cam2 GetBaseTemp 1", "cam2>term2 @GetBaseTemp Err: Get Temperature");
    row("cooler power", "term2>cam2 GetCoolerPWR", "cam2>term2 @GetCoolerPWR Err: Get Cool Power");
    row("set temp", "term2>cam2 SetTemp -20", "cam2>term2 @SetTemp Err: Set Temperature");
    row("settings still served", "term2>cam2 SetImages 2", "cam2>term2 @SetImages Ok:");
    row("settings read", "term2>cam2 GetImages", "cam2>term2 @GetImages 2", {"term2>cam2 SetImages 2"});
    row("download before any exposure", "term2>cam2 DownLoadImage", "cam2>term2 @DownLoadImage Err: Busy");
}

void tst_ServiceCommands::repliesWithoutCamera()
{
    QFETCH(QString, request);
    QFETCH(QString, reply);
    QFETCH(QStringList, setup);
    QVERIFY(runSetUp(*term2, setup));
    QCOMPARE(exchange(*term2, request), reply);
}

QTEST_GUILESS_MAIN(tst_ServiceCommands)
#include "tst_service_commands.moc"
