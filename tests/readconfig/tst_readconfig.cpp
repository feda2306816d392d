#include "Body.h"
#include "ConfigLines.h"
#include "TestFixture.h"
#include "tarn.h"

#include <QtTest>

using Config = QMap<QString, QString>;

class tst_ReadConfig : public QObject
{
    Q_OBJECT

private slots:
    void parsesLines_data();
    void parsesLines();
    void unknownKeysNameTheNearest_data();
    void unknownKeysNameTheNearest();
    void cameraOptions_data();
    void cameraOptions();
    void wholeNumberWithinLimits_data();
    void wholeNumberWithinLimits();
    void missingConfigLeavesServiceIdle();
};

void tst_ReadConfig::parsesLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Config>("expected");

    QTest::newRow("key upper-cased, value kept") << "camera_no 2\nName_On_Stars Cam1\n"
                                                 << Config{{"CAMERA_NO", "2"}, {"NAME_ON_STARS", "Cam1"}};
    QTest::newRow("blanks, tabs and extra words") << " \t STARS_PORT \t 6057  more words # c\n"
                                                  << Config{{"STARS_PORT", "6057"}};
    QTest::newRow("single word stores nothing") << "STARS_IP\n" << Config{};
    QTest::newRow("value starting with '#' is empty") << "KEY_FILE_NAME #none\n" << Config{{"KEY_FILE_NAME", ""}};
    QTest::newRow("comment line") << "   # CAMERA_NO 1\n#x y\n" << Config{};
    QTest::newRow("only first word of the value") << "NAME_ON_STARS my node\n" << Config{{"NAME_ON_STARS", "my"}};
    QTest::newRow("later key wins, any case") << "stars_ip a\nSTARS_IP b\n" << Config{{"STARS_IP", "b"}};
    QTest::newRow("empty file") << "" << Config{};
    QTest::newRow("CR LF and no final line feed") << "A 1\r\nB 2" << Config{{"A", "1"}, {"B", "2"}};
}

void tst_ReadConfig::parsesLines()
{
    QFETCH(QString, text);
    QFETCH(Config, expected);
    QTextStream stream(&text);
    Config map;
    readConfigLines(stream, map);
    QCOMPARE(map, expected);
}

void tst_ReadConfig::missingConfigLeavesServiceIdle()
{
    // No camera, no client. A config.cfg that is there but cannot be read
    // (a FIFO, a directory, over 1 MiB) ends the process instead: the
    // service tests cover those.
    const WorkDir dir;
    QVERIFY(dir.isValid());
    {
        Body idle;
        QVERIFY(idle.getConfig().isEmpty());
        QVERIFY(!idle.getCamera());
        QVERIFY(!idle.getStarsClient());
    }
}

void tst_ReadConfig::unknownKeysNameTheNearest_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("log"); // empty: nothing logged

    QTest::newRow("known") << "CAMERA_NO"
                           << "";
    QTest::newRow("simulator key") << "SIM_COOLER_TAU_MS"
                                   << "";
    QTest::newRow("letter missing") << "CAMERA_LIBARY"
                                    << "unknown key CAMERA_LIBARY in config.cfg (did you mean CAMERA_LIBRARY?)";
    QTest::newRow("letters swapped") << "STARS_PROT"
                                     << "unknown key STARS_PROT in config.cfg (did you mean STARS_PORT?)";
    QTest::newRow("underscore missing") << "IMAGEDIR"
                                        << "unknown key IMAGEDIR in config.cfg (did you mean IMAGE_DIR?)";
    QTest::newRow("short key, one slip") << "SIM_SEEF"
                                         << "unknown key SIM_SEEF in config.cfg (did you mean SIM_SEED?)";
    QTest::newRow("nothing near") << "COLOUR"
                                  << "unknown key COLOUR in config.cfg";
}

void tst_ReadConfig::unknownKeysNameTheNearest()
{
    QFETCH(QString, key);
    QFETCH(QString, log);
    QStringList logLines;
    {
        const LogCapture capture;
        Body::logUnknownKeys(Config{{key, "1"}});
        logLines = capture.lines();
    }
    QCOMPARE(logLines, log.isEmpty() ? QStringList() : QStringList{log});
}

void tst_ReadConfig::cameraOptions_data()
{
    QTest::addColumn<Config>("config");
    QTest::addColumn<QVariant>("setPoint"); // null: leave the camera's set point
    QTest::addColumn<QString>("imageDir");
    QTest::addColumn<QString>("log"); // part of the one line logged, empty: none

    const QString missing = QStringLiteral("/nonexistent/images");
    QTest::newRow("defaults") << Config{} << QVariant(20.0) << ""
                              << "";
    QTest::newRow("set point") << Config{{"START_SET_POINT", "-25.5"}} << QVariant(-25.5) << ""
                               << "";
    QTest::newRow("keep, any case") << Config{{"START_SET_POINT", "Keep"}} << QVariant() << ""
                                    << "";
    QTest::newRow("not a number") << Config{{"START_SET_POINT", "cold"}} << QVariant(20.0) << ""
                                  << "START_SET_POINT \"cold\" is neither degrees C nor keep: 20 is used";
    QTest::newRow("not finite") << Config{{"START_SET_POINT", "nan"}} << QVariant(20.0) << ""
                                << "\"nan\"";
    QTest::newRow("empty value") << Config{{"START_SET_POINT", ""}} << QVariant(20.0) << ""
                                 << "\"\"";
    QTest::newRow("image directory") << Config{{"IMAGE_DIR", "."}} << QVariant(20.0) << "."
                                     << "";
    QTest::newRow("missing image directory") << Config{{"IMAGE_DIR", missing}} << QVariant(20.0) << missing
                                             << "IMAGE_DIR \"/nonexistent/images\" is not a directory";
}

void tst_ReadConfig::cameraOptions()
{
    QFETCH(Config, config);
    QFETCH(QVariant, setPoint);
    QFETCH(QString, imageDir);
    QFETCH(QString, log);
    QStringList logLines;
    TarnOptions options;
    {
        const LogCapture capture;
        options = Body::tarnOptions(config);
        logLines = capture.lines();
    }
    QCOMPARE(options.startUpSetPoint.has_value(), !setPoint.isNull());
    if (setPoint.isValid())
        QCOMPARE(*options.startUpSetPoint, setPoint.toDouble());
    QCOMPARE(options.imageDir, imageDir);
    if (log.isEmpty())
        QVERIFY2(logLines.isEmpty(), qPrintable(logLines.join('\n')));
    else
        QVERIFY2(logLines.size() == 1 && logLines.first().contains(log), qPrintable(logLines.join('\n')));
}

void tst_ReadConfig::wholeNumberWithinLimits_data()
{
    QTest::addColumn<Config>("config");
    QTest::addColumn<int>("expected"); // limits 1..3600, fallback 20
    QTest::addColumn<bool>("logged");
    QTest::newRow("absent") << Config{} << 20 << false;
    QTest::newRow("in range") << Config{{"K", "45"}} << 45 << false;
    QTest::newRow("lowest") << Config{{"K", "1"}} << 1 << false;
    QTest::newRow("highest") << Config{{"K", "3600"}} << 3600 << false;
    QTest::newRow("below") << Config{{"K", "0"}} << 20 << true;
    QTest::newRow("above") << Config{{"K", "3601"}} << 20 << true;
    QTest::newRow("not a number") << Config{{"K", "1m"}} << 20 << true;
    QTest::newRow("present, empty") << Config{{"K", ""}} << 20 << true;
}

void tst_ReadConfig::wholeNumberWithinLimits()
{
    QFETCH(Config, config);
    QFETCH(int, expected);
    QFETCH(bool, logged);
    if (logged)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Config \"K\" .* is not a whole number from 1 to 3600"));
    QCOMPARE(Body::configInt(config, "K", 20, 1, 3600), expected);
}

QTEST_GUILESS_MAIN(tst_ReadConfig)
#include "tst_readconfig.moc"
