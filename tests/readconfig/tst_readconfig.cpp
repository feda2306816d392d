#include "Body.h"
#include "ConfigLines.h"

#include <QtTest>

#include <sys/stat.h>

using Config = QMap<QString, QString>;

class tst_ReadConfig : public QObject
{
    Q_OBJECT

private slots:
    void parsesLines_data();
    void parsesLines();
    void unreadableConfigLeavesServiceIdle_data();
    void unreadableConfigLeavesServiceIdle();
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

void tst_ReadConfig::unreadableConfigLeavesServiceIdle_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("missing") << "missing";
    QTest::newRow("FIFO without writer") << "fifo";
    QTest::newRow("directory") << "dir";
    QTest::newRow("over 1 MiB") << "big";
}

void tst_ReadConfig::unreadableConfigLeavesServiceIdle()
{
    // Anything but a small regular file leaves the object idle, as a missing
    // one does: no camera, no client, and no hang on a FIFO.
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString old = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));
    if (kind == "fifo")
        QCOMPARE(::mkfifo("config.cfg", 0600), 0);
    else if (kind == "dir")
        QVERIFY(QDir().mkdir("config.cfg"));
    if (kind == "big") {
        QFile big("config.cfg");
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write("CAMERA_NO 0\n" + QByteArray(2 << 20, '#'));
    }
    {
        Body idle;
        QVERIFY(idle.getConfig().isEmpty());
        QVERIFY(!idle.getCamera());
        QVERIFY(!idle.getStarsClient());
    }
    QDir::setCurrent(old);
}

QTEST_GUILESS_MAIN(tst_ReadConfig)
#include "tst_readconfig.moc"
