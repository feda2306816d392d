#include "ImageFile.h"

#include <QtTest>

#include <cerrno>
#include <unistd.h>

class tst_ImageFile : public QObject
{
    Q_OBJECT

private slots:
    void composesName_data();
    void composesName();
    void alternativeNames_data();
    void alternativeNames();
    void createRefusesAnythingAlreadyThere_data();
    void createRefusesAnythingAlreadyThere();
};

void tst_ImageFile::composesName_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<bool>("useSeq");
    QTest::addColumn<int>("seqBefore");
    QTest::addColumn<int>("imageIndex");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("seqAfter");

    QTest::newRow("first") << "DefaultFileName.dat" << true << 0 << 0 << "DefaultFileName0000-0000.dat" << 1;
    QTest::newRow("second") << "DefaultFileName.dat" << true << 1 << 1 << "DefaultFileName0001-0001.dat" << 2;
    QTest::newRow("no sequence number") << "DefaultFileName.dat" << false << 7 << 2 << "DefaultFileName-0002.dat"
                                        << 7;
    QTest::newRow("wide sequence number") << "DefaultFileName.dat" << true << 12345 << 3
                                          << "DefaultFileName12345-0003.dat" << 12346;
    QTest::newRow("directory dropped, last dot splits") << "data/run.x.raw" << true << 0 << 0 << "run.x0000-0000.raw"
                                                        << 1;
    QTest::newRow("no dot keeps a trailing dot") << "frame" << true << 0 << 0 << "frame0000-0000." << 1;
    QTest::newRow("parent directory dropped") << "../x.dat" << false << 0 << 4 << "x-0004.dat" << 0;
    QTest::newRow("absolute path dropped") << "/etc/passwd" << false << 0 << 0 << "passwd-0000." << 0;
    QTest::newRow("empty name") << "" << false << 0 << 0 << "-0000." << 0;
    QTest::newRow("negative numbers") << "a.b" << true << -3 << -1 << "a-003--001.b" << -2;
}

void tst_ImageFile::composesName()
{
    QFETCH(QString, fileName);
    QFETCH(bool, useSeq);
    QFETCH(int, seqBefore);
    QFETCH(int, imageIndex);
    QFETCH(QString, name);
    QFETCH(int, seqAfter);
    int seq = seqBefore;
    QCOMPARE(imagefile::composeName(fileName, useSeq, seq, imageIndex), name);
    QCOMPARE(seq, seqAfter);
}

void tst_ImageFile::alternativeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("alternative");
    QTest::newRow("suffix kept") << "run0000-0000.dat" << 1 << "run0000-0000_1.dat";
    QTest::newRow("trailing dot") << "frame0000-0000." << 12 << "frame0000-0000_12.";
    QTest::newRow("no dot") << "x" << 2 << "x_2";
}

void tst_ImageFile::alternativeNames()
{
    QFETCH(QString, name);
    QFETCH(int, n);
    QFETCH(QString, alternative);
    QCOMPARE(imagefile::alternativeName(name, n), alternative);
}

void tst_ImageFile::createRefusesAnythingAlreadyThere_data()
{
    QTest::addColumn<QString>("what");
    QTest::newRow("nothing") << "nothing";
    QTest::newRow("file") << "file";
    QTest::newRow("directory") << "directory";
    QTest::newRow("link to file") << "link";
    QTest::newRow("dangling link") << "dangling";
}

void tst_ImageFile::createRefusesAnythingAlreadyThere()
{
    QFETCH(QString, what);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath("img.dat");
    const QString target = dir.filePath("target");
    if (what == "file") {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
    } else if (what == "directory") {
        QVERIFY(QDir(dir.path()).mkdir("img.dat"));
    } else if (what == "link") {
        QFile f(target);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("keep");
        f.close();
        QVERIFY(QFile::link(target, name));
    } else if (what == "dangling") {
        QVERIFY(QFile::link(target, name));
    }

    const int fd = imagefile::createExclusive(name);
    if (what == "nothing") {
        QVERIFY(fd >= 0);
        QVERIFY(imagefile::writeAll(fd, "abcd", 4));
        ::close(fd);
        QCOMPARE(QFileInfo(name).size(), 4);
        return;
    }
    QCOMPARE(fd, -1);
    QCOMPARE(errno, EEXIST);
    if (what == "link" || what == "file") {
        QFile f(what == "link" ? target : name);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("keep"));
    }
    if (what == "dangling")
        QVERIFY(!QFileInfo::exists(target));
}

QTEST_APPLESS_MAIN(tst_ImageFile)
#include "tst_imagefile.moc"
