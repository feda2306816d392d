#include "LineReader.h"

#include <QtTest>

class tst_LineReader : public QObject
{
    Q_OBJECT

private slots:
    void cutsCompleteLinesOnly_data();
    void cutsCompleteLinesOnly();
    void overlongRunIsHandedOutInPieces();
    void everySplitGivesTheSameLines();
};

static QList<QByteArray> drain(LineReader& reader)
{
    QList<QByteArray> lines;
    while (reader.hasLine())
        lines.append(reader.takeLine());
    return lines;
}

void tst_LineReader::cutsCompleteLinesOnly_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<int>("pending");

    QTest::newRow("two lines in one chunk") << QList<QByteArray>{"a>b GetTemp\na>b GetBin\n"}
                                            << QList<QByteArray>{"a>b GetTemp\n", "a>b GetBin\n"} << 0;
    QTest::newRow("line split across chunks") << QList<QByteArray>{"a>b Get", "Temp\n"}
                                              << QList<QByteArray>{"a>b GetTemp\n"} << 0;
    QTest::newRow("tail without line feed waits") << QList<QByteArray>{"x\ny"} << QList<QByteArray>{"x\n"} << 1;
    QTest::newRow("CR LF kept for the caller") << QList<QByteArray>{"a\r\n"} << QList<QByteArray>{"a\r\n"} << 0;
    QTest::newRow("empty lines") << QList<QByteArray>{"\n\n"} << QList<QByteArray>{"\n", "\n"} << 0;
    QTest::newRow("zero bytes pass through") << QList<QByteArray>{QByteArray("a\0b\n", 4)}
                                             << QList<QByteArray>{QByteArray("a\0b\n", 4)} << 0;
}

void tst_LineReader::cutsCompleteLinesOnly()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, pending);
    LineReader reader;
    QList<QByteArray> got;
    for (const QByteArray& chunk : chunks) {
        reader.append(chunk);
        got += drain(reader);
    }
    QCOMPARE(got, lines);
    QCOMPARE(reader.pending(), pending);
}

void tst_LineReader::overlongRunIsHandedOutInPieces()
{
    LineReader reader;
    const QByteArray big(LineReader::MaxLineBytes * 2 + 10, 'x');
    reader.append(big + "\nnext\n");
    const QList<QByteArray> lines = drain(reader);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0).size(), LineReader::MaxLineBytes);
    QCOMPARE(lines.at(1).size(), LineReader::MaxLineBytes);
    QCOMPARE(lines.at(2), QByteArray(10, 'x') + "\n");
    QCOMPARE(lines.at(3), QByteArray("next\n"));

    // Without any line feed the buffer never holds a whole piece unread.
    LineReader flood;
    for (int i = 0; i < 1000; ++i) {
        flood.append(QByteArray(1000, 'y'));
        drain(flood);
        QVERIFY(flood.pending() < LineReader::MaxLineBytes);
    }
}

void tst_LineReader::everySplitGivesTheSameLines()
{
    const QByteArray stream = "a>cam1 GetTemp\r\nb>cam1 SetBin 1 2 3\n\nlast\n";
    LineReader whole;
    whole.append(stream);
    const QList<QByteArray> expected = drain(whole);
    for (int cut1 = 0; cut1 <= stream.size(); ++cut1) {
        for (int cut2 = cut1; cut2 <= stream.size(); cut2 += 3) {
            LineReader reader;
            QList<QByteArray> got;
            reader.append(stream.left(cut1));
            got += drain(reader);
            reader.append(stream.mid(cut1, cut2 - cut1));
            got += drain(reader);
            reader.append(stream.mid(cut2));
            got += drain(reader);
            QCOMPARE(got, expected);
        }
    }
}

QTEST_APPLESS_MAIN(tst_LineReader)
#include "tst_linereader.moc"
