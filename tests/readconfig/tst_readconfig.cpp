#include "Body.h"

#include <QtTest>

using Config = QMap<QString, QString>;

class tst_ReadConfig : public QObject
{
    Q_OBJECT

private slots:
    void parsesLines_data();
    void parsesLines();
    void readsConfigFromWorkingDirectory();
    void wholeNumberWithinLimits_data();
    void wholeNumberWithinLimits();
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
    Body::readConfigLines(stream, map);
    QCOMPARE(map, expected);
}

void tst_ReadConfig::readsConfigFromWorkingDirectory()
{
    // A missing file leaves the object idle: no camera, no client.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    {
        Body idle;
        QVERIFY(idle.getConfig().isEmpty());
        QVERIFY(!idle.getCamera());
        QVERIFY(!idle.getStarsClient());
    }
    QDir::setCurrent(old);
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
