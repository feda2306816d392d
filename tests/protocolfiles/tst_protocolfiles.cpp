#include "KeyFile.h"
#include "SmallFile.h"

#include <QtTest>

#include <sys/stat.h>

class tst_ProtocolFiles : public QObject
{
    Q_OBJECT

private slots:
    void refusesWhatIsNotASmallRegularFile_data();
    void refusesWhatIsNotASmallRegularFile();
    void keysByWordAndByLine_data();
    void keysByWordAndByLine();
    void choosesKeyModuloCount_data();
    void choosesKeyModuloCount();
};

void tst_ProtocolFiles::refusesWhatIsNotASmallRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("reason");

    QTest::newRow("regular file") << "file" << true << "";
    QTest::newRow("file of the limit") << "limit" << true << "";
    QTest::newRow("FIFO without writer") << "fifo" << false << "not a regular file (FIFO)";
    QTest::newRow("directory") << "dir" << false << "not a regular file (directory)";
    QTest::newRow("endless device") << "/dev/zero" << false << "not a regular file (character device)";
    QTest::newRow("one byte over") << "over" << false << "larger than 1048576 bytes";
    QTest::newRow("missing") << "missing" << false << "No such file or directory";
}

void tst_ProtocolFiles::refusesWhatIsNotASmallRegularFile()
{
    QFETCH(QString, kind);
    QFETCH(bool, readable);
    QFETCH(QString, reason);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(kind);
    QByteArray written;
    if (kind == "file" || kind == "limit" || kind == "over") {
        written = kind == "file" ? QByteArray("alpha\n") : QByteArray(MaxSmallFileBytes + (kind == "over"), 'k');
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(written);
    } else if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "dir") {
        QVERIFY(QDir(dir.path()).mkdir(kind));
    } else if (kind.startsWith('/')) {
        path = kind;
    }

    QByteArray contents("stale");
    QString why;
    QCOMPARE(readSmallFile(path, contents, why), readable);
    QCOMPARE(why, reason);
    QCOMPARE(contents, readable ? written : QByteArray());
}

void tst_ProtocolFiles::keysByWordAndByLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("one key per line") << QByteArray("k0\nk1\nk2\n") << QStringList{"k0", "k1", "k2"}
                                      << QStringList{"k0", "k1", "k2"};
    QTest::newRow("all keys on one line")
        << QByteArray("k0 k1 k2\n") << QStringList{"k0", "k1", "k2"} << QStringList{"k0 k1 k2"};
    QTest::newRow("blanks, CRs and empty lines")
        << QByteArray("  k0\t\r\n\n\t k1 \r\n") << QStringList{"k0", "k1"} << QStringList{"k0", "k1"};
    QTest::newRow("empty") << QByteArray("\n \n") << QStringList{} << QStringList{};
}

void tst_ProtocolFiles::keysByWordAndByLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, words);
    QFETCH(QStringList, lines);
    QCOMPARE(keyWords(text), words);
    QCOMPARE(keyLines(text), lines);
}

void tst_ProtocolFiles::choosesKeyModuloCount_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<qint64>("number");
    QTest::addColumn<QString>("key"); // empty: refused

    QTest::newRow("7 of three keys") << QStringList{"a", "b", "c"} << qint64(7) << "b";
    QTest::newRow("0") << QStringList{"a", "b", "c"} << qint64(0) << "a";
    QTest::newRow("negative") << QStringList{"a"} << qint64(-1) << "";
    QTest::newRow("no keys") << QStringList{} << qint64(3) << "";
}

void tst_ProtocolFiles::choosesKeyModuloCount()
{
    QFETCH(QStringList, keys);
    QFETCH(qint64, number);
    QFETCH(QString, key);
    QString chosen;
    QString why;
    QCOMPARE(chooseKey(keys, number, chosen, why), !key.isEmpty());
    QCOMPARE(chosen, key);
    QCOMPARE(why.isEmpty(), !key.isEmpty());
}

QTEST_APPLESS_MAIN(tst_ProtocolFiles)
#include "tst_protocolfiles.moc"
