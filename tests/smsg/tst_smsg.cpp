#include "CommandWords.h"
#include "SMsg.h"

#include <QtTest>

class tst_SMsg : public QObject
{
    Q_OBJECT

private slots:
    // The service's words, as Body sets them before its bus client exists.
    void initTestCase() { SMsg::setCommandTable(commandWords, commandWordCount); }
    void parseSplitsLine_data();
    void parseSplitsLine();
    void commandTableIsCaseSensitiveAndComplete();
    void answersAreRecognised_data();
    void answersAreRecognised();
    void parseClearsFieldsOfThePreviousLine();
    void decodeLineAgreesWithParse_data();
    void decodeLineAgreesWithParse();
    void oneRecordRefilledLineAfterLine();
};

void tst_SMsg::parseSplitsLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("addresses"); // from fromNode fromSub to toNode toSub
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("params");
    QTest::addColumn<QStringList>("paramList");
    QTest::addColumn<int>("code");

    const QStringList none;
    QTest::newRow("plain request") << "term1>cam1 GetTemp" << int(SMsg::MsgCommand)
                                   << QStringList{"term1", "term1", "", "cam1", "cam1", ""} << "GetTemp"
                                   << "" << none << 9;
    QTest::newRow("sender sub-name, white space collapsed")
        << "term1.ui>cam1  SetBin   2 2\t1 " << int(SMsg::MsgCommand)
        << QStringList{"term1.ui", "term1", "ui", "cam1", "cam1", ""} << "SetBin"
        << "2 2 1" << QStringList{"2", "2", "1"} << 13;
    QTest::newRow("receiver sub-name becomes first parameter")
        << "term1>cam1.ccd SetExpTime 10" << int(SMsg::MsgCommand)
        << QStringList{"term1", "term1", "", "cam1.ccd", "cam1", "ccd"} << "SetExpTime"
        << "ccd" << QStringList{"ccd", "10"} << 23;
    QTest::newRow("receiver sub-name without parameters")
        << "term1>cam1.ccd GetTemp" << int(SMsg::MsgCommand)
        << QStringList{"term1", "term1", "", "cam1.ccd", "cam1", "ccd"} << "GetTemp"
        << "ccd" << QStringList{"ccd"} << 9;
    QTest::newRow("event") << "term1>cam1 _ChangedValue 5" << int(SMsg::MsgEvent)
                           << QStringList{"term1", "term1", "", "cam1", "cam1", ""} << "_ChangedValue"
                           << "5" << QStringList{"5"} << int(SMsg::UnknownCommand);
    QTest::newRow("no '>'") << "hello world" << int(SMsg::MsgInvalid) << QStringList{"", "", "", "", "", ""} << ""
                            << "hello world" << none << -1;
    QTest::newRow("empty line") << "" << int(SMsg::MsgInvalid) << QStringList{"", "", "", "", "", ""} << ""
                                << "" << none << -1;
    QTest::newRow("no blank") << "term1>cam1" << int(SMsg::MsgInvalid) << QStringList{"term1", "term1", "", "", "", ""}
                              << ""
                              << "cam1" << none << -1;
    QTest::newRow("wrong letter case") << "term1>cam1 gettemp" << int(SMsg::MsgCommand)
                                       << QStringList{"term1", "term1", "", "cam1", "cam1", ""} << "gettemp"
                                       << "" << none << int(SMsg::UnknownCommand);
    QTest::newRow("parameters keep '>' and '.'")
        << "a>b SetFileName x>y.z" << int(SMsg::MsgCommand) << QStringList{"a", "a", "", "b", "b", ""} << "SetFileName"
        << "x>y.z" << QStringList{"x>y.z"} << 27;
    QTest::newRow("blank before '>' is invalid")
        << "a b>c GetTemp" << int(SMsg::MsgInvalid) << QStringList{"a b", "a b", "", "", "", ""} << ""
        << "c GetTemp" << none << -1;
    QTest::newRow("unicode white space") << QString::fromUtf8("a>cam1\u00a0GetBin\u3000x") << int(SMsg::MsgCommand)
                                         << QStringList{"a", "a", "", "cam1", "cam1", ""} << "GetBin"
                                         << "x" << QStringList{"x"} << 14;
    QTest::newRow("reply from another node")
        << "a>cam1 @GetTemp 20" << int(SMsg::MsgCommand) << QStringList{"a", "a", "", "cam1", "cam1", ""} << "@GetTemp"
        << "20" << QStringList{"20"} << int(SMsg::UnknownCommand);
    QTest::newRow("empty sender") << ">cam1 GetTemp" << int(SMsg::MsgCommand)
                                  << QStringList{"", "", "", "cam1", "cam1", ""} << "GetTemp"
                                  << "" << none << 9;
}

void tst_SMsg::parseSplitsLine()
{
    QFETCH(QString, line);
    QFETCH(int, kind);
    QFETCH(QStringList, addresses);
    QFETCH(QString, command);
    QFETCH(QString, params);
    QFETCH(QStringList, paramList);
    QFETCH(int, code);

    SMsg msg;
    msg.commandCode = -1; // left alone when the command word is never reached
    QCOMPARE(msg.Parse(line), kind);
    QCOMPARE(msg.kind, kind);
    QCOMPARE((QStringList{msg.from, msg.fromNode, msg.fromSub, msg.to, msg.toNode, msg.toSub}), addresses);
    QCOMPARE(msg.command, command);
    QCOMPARE(msg.params, params);
    QCOMPARE(msg.paramList, paramList);
    QCOMPARE(msg.commandCode, code);
}

void tst_SMsg::commandTableIsCaseSensitiveAndComplete()
{
    int count = 0;
    for (const char* word : commandWords) {
        QCOMPARE(SMsg::commandWord(count), word);
        SMsg msg;
        msg.command = QString::fromLatin1(word);
        msg.LookUpCommandCode();
        QCOMPARE(msg.commandCode, count);
        msg.command = msg.command.toUpper();
        msg.LookUpCommandCode();
        QCOMPARE(msg.commandCode, int(SMsg::UnknownCommand));
        ++count;
    }
    QCOMPARE(count, 41); // the original 37, Abort and three information commands
    SMsg empty;
    empty.LookUpCommandCode(); // an empty word is no command
    QCOMPARE(empty.commandCode, int(SMsg::UnknownCommand));
}

void tst_SMsg::answersAreRecognised_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("answer");
    QTest::newRow("reply") << "a>cam1 @GetTemp 20" << true;
    QTest::newRow("error answer") << "cam2>cam1 Er: Undefined Command" << true;
    QTest::newRow("server bounce") << "System>cam1 @Er: Undefined Command Er: a is down." << true;
    QTest::newRow("unroutable bounce") << "System>cam1> @" << true;
    QTest::newRow("request") << "a>cam1 GetTemp" << false;
    QTest::newRow("Er without colon is a command word") << "a>cam1 Er" << false;
}

void tst_SMsg::answersAreRecognised()
{
    QFETCH(QString, line);
    QFETCH(bool, answer);
    SMsg msg;
    msg.Parse(line);
    QCOMPARE(msg.isAnswer(), answer);
}

void tst_SMsg::parseClearsFieldsOfThePreviousLine()
{
    SMsg msg;
    msg.Parse(QStringLiteral("a.x>b.y SetBin 1 2 3"));
    msg.Parse(QStringLiteral("garbage"));
    QVERIFY(msg.from.isEmpty() && msg.fromSub.isEmpty() && msg.toSub.isEmpty() && msg.command.isEmpty());
    QVERIFY(msg.paramList.isEmpty());
    QCOMPARE(msg.params, QStringLiteral("garbage"));
}

static QList<QByteArray> receivedLines()
{
    const char* const lines[] = {
        "term1>cam1 GetTemp\n",
        "term1.ui>cam1.ccd SetExpTime 10 20\r\n",
        "\t term1>cam1\x0b SetBin \f2  2\r1 \n",
        "term1>cam1.ccd GetTemp",
        "a>b.c.d SetFileName x>y.z w",
        "a.>b. GetBin",
        "term1>cam1 _ChangedValue 5",
        "a>cam1 @GetTemp 20",
        "hello world",
        "term1>cam1",
        "a b>c GetTemp",
        ">cam1 GetTemp",
        ">",
        " ",
        "",
        "a>b \x1f",
        "a>b GetTemp\x7f x",
        "a>b SetFileName caf\xc3\xa9 x",
        "a>b\xc2\xa0GetBin\xe3\x80\x80x",
        "a>b SetFileName \xff\xfe",
    };
    QList<QByteArray> list;
    for (const char* line : lines)
        list << QByteArray(line);
    return list << QByteArray("a>b GetBin 1 \0 x\n", 17);
}

static QStringList fieldsOf(const SMsg& m)
{
    return QStringList{m.from, m.fromNode, m.fromSub, m.to, m.toNode, m.toSub, m.command, m.params} + m.paramList;
}

void tst_SMsg::decodeLineAgreesWithParse_data()
{
    QTest::addColumn<QByteArray>("line");
    for (const QByteArray& line : receivedLines()) {
        const QByteArray name = line.contains('\0') ? "zero byte" : line.toPercentEncoding(" >._@");
        QTest::newRow(name.constData()) << line;
    }
}

// The receiving path's decoding against Parse() of the decoded text, into a
// fresh record and into one that held a longer line.
void tst_SMsg::decodeLineAgreesWithParse()
{
    QFETCH(QByteArray, line);
    QByteArray bytes = line.simplified();
    if (bytes.indexOf('\0') >= 0)
        bytes.truncate(bytes.indexOf('\0'));
    SMsg used;
    used.Parse(QStringLiteral("x.y>z.w SetBin 1 2 3 4 5"));
    for (const SMsg& before : {SMsg(), used}) {
        SMsg expected = before;
        SMsg decoded = before;
        QCOMPARE(decodeLine(line, decoded), expected.Parse(QString::fromUtf8(bytes)));
        QCOMPARE(fieldsOf(decoded), fieldsOf(expected));
        QCOMPARE(decoded.kind, expected.kind);
        QCOMPARE(decoded.commandCode, expected.commandCode);
    }
}

// The receiving loop refills one record for every line, and a handler may keep
// a copy of it: each line must come out as from a new record, and the copy of
// the line before must stay as it was.
void tst_SMsg::oneRecordRefilledLineAfterLine()
{
    QList<QByteArray> lines = receivedLines();
    lines += QList<QByteArray>(lines.crbegin(), lines.crend());
    SMsg record;
    SMsg kept;
    QStringList keptFields = fieldsOf(kept);
    for (const QByteArray& line : lines) {
        SMsg fresh;
        decodeLine(line, fresh);
        QCOMPARE(decodeLine(line, record), fresh.kind);
        QCOMPARE(fieldsOf(record), fieldsOf(fresh));
        QCOMPARE(fieldsOf(kept), keptFields);
        kept = record;
        keptFields = fieldsOf(kept);
    }
}

QTEST_APPLESS_MAIN(tst_SMsg)
#include "tst_smsg.moc"
