#include "FuzzChecks.h"
#include "ImageFile.h"

#include <QtTest>

#include <climits>

// Every input a fuzz target ever failed on stays here, checked with the same
// invariants the fuzz target checks; so do the seed corpora, so a change that
// breaks a parser on a plain input shows in the normal test run.
class tst_FuzzRegressions : public QObject
{
    Q_OBJECT

private slots:
    void findings_data();
    void findings();
    void seedCorpus_data();
    void seedCorpus();
    void everyTargetHasSeeds();
    void sequenceNumberAfterTheLargest_data();
    void sequenceNumberAfterTheLargest();
};

static const char* const targets[] = {"parse", "config", "keys", "filename", "receive"};

void tst_FuzzRegressions::findings_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("input");

    // An invalid line leaves a reused record's command code as it was (the
    // receiving loop reuses one record); every other field must be cleared.
    QTest::newRow("parse: empty line into a used record") << "parse" << QByteArray();
    QTest::newRow("parse: line without '>' into a used record") << "parse" << QByteArray("no arrow here");
    QTest::newRow("parse: blank in the sender into a used record") << "parse" << QByteArray("a b>c GetTemp");
    QTest::newRow("receive: invalid line after a command in one read")
        << "receive" << fuzzchecks::receiveInput({}, 1, "term1>cam1 SetExpTime 10\nrubbish\n\n");

    // The sequence number was incremented past INT_MAX (signed overflow in
    // imagefile::composeName); the bus can set any number.
    QTest::newRow("filename: fuzzer input, sequence number INT_MAX")
        << "filename" << QByteArray("\xff\xff\xff\xff\x7f\xff\xff\x41\xec\xff\xff\n\n", 13);
    QTest::newRow("filename: sequence number INT_MAX")
        << "filename" << fuzzchecks::fileNameInput(true, 0, INT_MAX, 0, 1, "run.dat");
}

void tst_FuzzRegressions::findings()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, input);
    const QString violation = fuzzchecks::check(target, input);
    QVERIFY2(violation.isEmpty(), qPrintable(violation));
}

void tst_FuzzRegressions::seedCorpus_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("input");
    for (const char* target : targets) {
        const QDir dir(QStringLiteral(STARSCAM_FUZZ_CORPUS "/") + QLatin1String(target));
        for (const QFileInfo& info : dir.entryInfoList(QDir::Files, QDir::Name)) {
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QTest::newRow(qPrintable(QLatin1String(target) + QLatin1Char('/') + info.fileName()))
                << QString::fromLatin1(target) << file.readAll();
        }
    }
}

void tst_FuzzRegressions::seedCorpus()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, input);
    const QString violation = fuzzchecks::check(target, input);
    QVERIFY2(violation.isEmpty(), qPrintable(violation));
}

void tst_FuzzRegressions::everyTargetHasSeeds()
{
    for (const char* target : targets) {
        const QDir dir(QStringLiteral(STARSCAM_FUZZ_CORPUS "/") + QLatin1String(target));
        QVERIFY2(dir.entryList(QDir::Files).size() >= 3, target);
    }
}

void tst_FuzzRegressions::sequenceNumberAfterTheLargest_data()
{
    QTest::addColumn<int>("seqFileNo");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("next");

    QTest::newRow("first") << 0 << "run0000-0003.dat" << 1;
    QTest::newRow("past four digits") << 9999 << "run9999-0003.dat" << 10000;
    QTest::newRow("negative, set from the bus") << -1 << "run-001-0003.dat" << 0;
    QTest::newRow("the largest starts again at 0") << INT_MAX << "run2147483647-0003.dat" << 0;
}

void tst_FuzzRegressions::sequenceNumberAfterTheLargest()
{
    QFETCH(int, seqFileNo);
    QFETCH(QString, name);
    QFETCH(int, next);
    int seq = seqFileNo;
    QCOMPARE(imagefile::composeName(QStringLiteral("dir/run.dat"), true, seq, 3), name);
    QCOMPARE(seq, next);
}

QTEST_GUILESS_MAIN(tst_FuzzRegressions)
#include "tst_fuzzregressions.moc"
