#include "LineReader.h"

#include <QtTest>

#include <cstring>

class tst_LineReader : public QObject
{
    Q_OBJECT

private slots:
    void cutsCompleteLinesOnly_data();
    void cutsCompleteLinesOnly();
    void overlongRunIsHandedOutInPieces();
    void everySplitGivesTheSameLines();
    void boundaryOfTheLineLimit_data();
    void boundaryOfTheLineLimit();
    void limitIsAParameter();
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

    QTest::newRow("two lines in one chunk")
        << QList<QByteArray>{"a>b GetTemp\na>b GetBin\n"} << QList<QByteArray>{"a>b GetTemp\n", "a>b GetBin\n"} << 0;
    QTest::newRow("line split across chunks")
        << QList<QByteArray>{"a>b Get", "Temp\n"} << QList<QByteArray>{"a>b GetTemp\n"} << 0;
    QTest::newRow("tail without line feed waits") << QList<QByteArray>{"x\ny"} << QList<QByteArray>{"x\n"} << 1;
    QTest::newRow("CR LF kept for the caller") << QList<QByteArray>{"a\r\n"} << QList<QByteArray>{"a\r\n"} << 0;
    QTest::newRow("empty lines") << QList<QByteArray>{"\n\n"} << QList<QByteArray>{"\n", "\n"} << 0;
    QTest::newRow("zero bytes pass through")
        << QList<QByteArray>{QByteArray("a\0b\n", 4)} << QList<QByteArray>{QByteArray("a\0b\n", 4)} << 0;
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
    const QByteArray big(LineReader::DefaultMaxLineBytes * 2 + 10, 'x');
    reader.append(big + "\nnext\n");
    const QList<QByteArray> lines = drain(reader);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0).size(), LineReader::DefaultMaxLineBytes);
    QCOMPARE(lines.at(1).size(), LineReader::DefaultMaxLineBytes);
    QCOMPARE(lines.at(2), QByteArray(10, 'x') + "\n");
    QCOMPARE(lines.at(3), QByteArray("next\n"));

    // Without any line feed the buffer never holds a whole piece unread.
    LineReader flood;
    for (int i = 0; i < 1000; ++i) {
        flood.append(QByteArray(1000, 'y'));
        drain(flood);
        QVERIFY(flood.pending() < LineReader::DefaultMaxLineBytes);
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

void tst_LineReader::boundaryOfTheLineLimit_data()
{
    // Chunks are appended in turn, taking every line after each, as a reader
    // of a socket does; sizes are the lengths of the lines handed out.
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<int>("pending");

    const QByteArray x3997(3997, 'x');
    const QByteArray x3998(3998, 'x');
    const QByteArray x3999(3999, 'x');
    using Chunks = QList<QByteArray>;
    using Sizes = QList<int>;
    QTest::newRow("3998 and LF: one line") << Chunks{x3998 + "\n"} << Sizes{3999} << 0;
    QTest::newRow("3998 without LF waits") << Chunks{x3998} << Sizes{} << 3998;
    QTest::newRow("3999 without LF: a piece") << Chunks{x3999} << Sizes{3999} << 0;
    QTest::newRow("3999 and LF: piece, then LF") << Chunks{x3999 + "\n"} << Sizes{3999, 1} << 0;
    QTest::newRow("3998 then LF") << Chunks{x3998, "\n"} << Sizes{3999} << 0;
    QTest::newRow("3997, byte, LF") << Chunks{x3997, "x", "\n"} << Sizes{3999} << 0;
    QTest::newRow("3998 then CR LF") << Chunks{x3998, "\r\n"} << Sizes{3999, 1} << 0;
    QTest::newRow("3998 then byte, LF, tail") << Chunks{x3998, "x\ny"} << Sizes{3999, 1} << 1;
    QTest::newRow("after a short line, 3998 then LF") << Chunks{"a\n" + x3998, "\n"} << Sizes{2, 3999} << 0;
    QTest::newRow("after a short line, 3999 then LF") << Chunks{"a\n" + x3999, "\n"} << Sizes{2, 3999, 1} << 0;
    QTest::newRow("byte by byte up to the limit") << Chunks{x3997, "x", "x", "y\n"} << Sizes{3999, 2} << 0;
}

void tst_LineReader::boundaryOfTheLineLimit()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, sizes);
    QFETCH(int, pending);
    LineReader reader;
    QList<int> got;
    QByteArray joined;
    for (const QByteArray& chunk : chunks) {
        reader.append(chunk);
        for (const QByteArray& line : drain(reader)) {
            got.append(line.size());
            joined += line;
        }
    }
    QCOMPARE(got, sizes);
    QCOMPARE(reader.pending(), pending);
    QCOMPARE(joined + reader.takeRest(), chunks.join(QByteArray()));
}

void tst_LineReader::limitIsAParameter()
{
    // The direct-read path cuts as append() does.
    LineReader reader(4);
    const QByteArray stream = "abc\nabcdef\n";
    std::memcpy(reader.reserve(64), stream.constData(), size_t(stream.size()));
    reader.appendReserved(stream.size());
    QCOMPARE(drain(reader), (QList<QByteArray>{"abc\n", "abcd", "ef\n"}));
    QCOMPARE(LineReader::withoutLineEnd("a\r\n"), QByteArray("a"));
}

QTEST_APPLESS_MAIN(tst_LineReader)
#include "tst_linereader.moc"
