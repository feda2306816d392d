#include "SoakStream.h"

namespace {

const QString Busy1 = QStringLiteral("cam1>System _ChangedIsBusy 1");
const QString Busy0 = QStringLiteral("cam1>System _ChangedIsBusy 0");
const QString ToTerm = QStringLiteral("cam1>term1 ");

// A real as the service writes it ("%g").
const QString Real = QStringLiteral("-?[0-9]+(\\.[0-9]+)?(e[-+][0-9]+)?");

// The service cuts a line every 3999 bytes until a line feed comes; that is
// 93 of these 43-byte units, so each piece of a run of them starts with a
// whole request and gets an answer of its own.
const QByteArray RunUnit = "term1>cam1 GetImages xxxxxxxxxxxxxxxxxxxxx ";
static_assert(3999 % 43 == 0, "a run unit divides the longest line");

constexpr int MaxLineBytes = 3999;

int piecesOf(qint64 bytesWithLineFeed)
{
    return int((bytesWithLineFeed + MaxLineBytes - 1) / MaxLineBytes);
}

} // namespace

const char* const SoakStream::FileName = "soak.dat";

SoakStream::SoakStream(Route route, quint32 seed) : routeTaken(route), random(seed)
{
    Q_ASSERT(RunUnit.size() == 43);
}

QStringList SoakStream::settingCommands()
{
    return {QStringLiteral("SetBin %1 %1 %1").arg(Bin),
            QStringLiteral("SetImages %1").arg(Images),
            QStringLiteral("SetExpTime %1").arg(ExpTimeMs),
            QStringLiteral("SetRBIExpTime %1").arg(RbiExpTimeMs),
            QStringLiteral("SetRBIFlushes 0"),
            QStringLiteral("SetTDIRate 0"),
            QStringLiteral("SetInterval 0.5"),
            QStringLiteral("SetUseSeqFNo 1"),
            QStringLiteral("SetFileName %1").arg(QLatin1String(FileName))};
}

QStringList SoakStream::fixedQueries()
{
    return {QStringLiteral("GetLibVer"), QStringLiteral("GetModel"),   QStringLiteral("GetSerialSTR"),
            QStringLiteral("GetHWRev"),  QStringLiteral("GetPixSize"), QStringLiteral("GetArrayArea"),
            QStringLiteral("GetVisArea")};
}

void SoakStream::expect(Expectation e)
{
    e.lineNo = sentLines + 1;
    expected.enqueue(e);
    ++expectedAnswers;
}

void SoakStream::expectExact(const QString& line)
{
    Expectation e;
    e.kind = Expectation::Exact;
    e.text = line;
    expect(e);
}

void SoakStream::expectReply(const QString& reply, const QString& to)
{
    expectExact(to + reply);
}

void SoakStream::expectPattern(const QString& pattern)
{
    Expectation e;
    e.kind = Expectation::Pattern;
    e.text = pattern;
    e.pattern = QRegularExpression(QLatin1Char('^') + pattern + QLatin1Char('$'));
    expect(e);
}

void SoakStream::finishLine(QByteArray& out, const QByteArray& line, const char* kind)
{
    out += line;
    out += '\n';
    ++sentLines;
    sentBytes += line.size() + 1;
    longestLineBytes = qMax(longestLineBytes, qint64(line.size() + 1));
    ++requestKinds[QLatin1String(kind)];
}

void SoakStream::appendOpening(QByteArray& out)
{
    appendExposureCommand(out, QStringLiteral("Exposure"));
    for (const char* command : {"Exposure", "StartExposure", "DownLoadImage", "RBIFlush", "StartExposure"})
        appendExposureCommand(out, QLatin1String(command));
}

void SoakStream::appendExposureCommand(QByteArray& out, const QString& command)
{
    Expectation e;
    e.text = ToTerm;
    e.command = command;
    if (command == QLatin1String("DownLoadImage"))
        e.kind = Expectation::DownLoad;
    else if (command == QLatin1String("RBIFlush"))
        e.kind = Expectation::Refused; // no flushes set: never starts
    else
        e.kind = Expectation::Start;
    expect(e);
    finishLine(out, "term1>cam1 " + command.toLatin1(), "exposure command");
}

void SoakStream::appendCommand(QByteArray& out)
{
    // Every command but the exposures, with the settings kept as they are.
    static const QStringList settingPairs{QStringLiteral("Bin"),        QStringLiteral("RBIFlushes"),
                                          QStringLiteral("RBIExpTime"), QStringLiteral("TDIRate"),
                                          QStringLiteral("Images"),     QStringLiteral("ExpTime"),
                                          QStringLiteral("Interval"),   QStringLiteral("FileName"),
                                          QStringLiteral("SeqFileNo"),  QStringLiteral("UseSeqFNo")};
    static const QMap<QString, QString> values{{QStringLiteral("Bin"), QStringLiteral("%1 %1 %1").arg(Bin)},
                                               {QStringLiteral("RBIFlushes"), QStringLiteral("0")},
                                               {QStringLiteral("RBIExpTime"), QString::number(RbiExpTimeMs)},
                                               {QStringLiteral("TDIRate"), QStringLiteral("0")},
                                               {QStringLiteral("Images"), QString::number(Images)},
                                               {QStringLiteral("ExpTime"), QString::number(ExpTimeMs)},
                                               {QStringLiteral("Interval"), QStringLiteral("0.5")},
                                               {QStringLiteral("FileName"), QLatin1String(FileName)},
                                               {QStringLiteral("UseSeqFNo"), QStringLiteral("1")}};

    const int choice = int(random.bounded(1 + 7 + 1 + 4 + 2 * settingPairs.size()));
    QString command;
    if (choice == 0) {
        command = QStringLiteral("IsBusy");
        Expectation e;
        e.kind = Expectation::IsBusy;
        e.text = ToTerm;
        e.command = command;
        expect(e);
    } else if (choice <= 7) {
        command = fixedQueries().at(choice - 1);
        expectReply(fixed.value(command));
    } else if (choice == 8) {
        command = QStringLiteral("SetTemp -10");
        expectReply(QStringLiteral("@SetTemp Ok:"));
    } else if (choice <= 12) {
        static const char* const temps[] = {"GetTemp", "GetCCDTemp", "GetBaseTemp", "GetCoolerPWR"};
        command = QLatin1String(temps[choice - 9]);
        expectPattern(ToTerm + QLatin1Char('@') + command + QLatin1Char(' ') + Real
                      + (choice == 9 ? QLatin1Char(' ') + Real : QString()));
    } else {
        const int pair = (choice - 13) / 2;
        const QString what = settingPairs.at(pair);
        if ((choice - 13) % 2 == 0) {
            // The sequence number jumps ahead in steps wider than a run of
            // files, so no two images ask for the same name.
            const QString value = what == QLatin1String("SeqFileNo") ? QString::number(10000 + 1000 * ++seqFileNoSets)
                                                                     : values.value(what);
            command = QStringLiteral("Set") + what + QLatin1Char(' ') + value;
            expectReply(QStringLiteral("@Set") + what + QStringLiteral(" Ok:"));
        } else {
            command = QStringLiteral("Get") + what;
            if (what == QLatin1String("SeqFileNo"))
                expectPattern(ToTerm + QStringLiteral("@GetSeqFileNo [0-9]+"));
            else
                expectReply(QStringLiteral("@Get") + what + QLatin1Char(' ') + values.value(what));
        }
    }
    finishLine(out, "term1>cam1 " + command.toUtf8(), "command");
}

void SoakStream::appendLongRun(QByteArray& out, int units)
{
    // Each cut-off piece is a request of its own and gets its own answer.
    QByteArray line;
    line.reserve(units * RunUnit.size());
    for (int i = 0; i < units; ++i)
        line += RunUnit;
    const int pieces = piecesOf(line.size() + 1);
    Q_ASSERT((line.size() + 1) % MaxLineBytes != 1); // the last piece is no bare line feed
    for (int i = 0; i < pieces; ++i)
        expectReply(QStringLiteral("@GetImages %1").arg(Images));
    finishLine(out, line, "run without line feed");
}

void SoakStream::appendFillerLine(QByteArray& out)
{
    // 100,000 bytes with the line feed: the first piece is a request, the
    // other 25 hold no '>' and are each refused.
    QByteArray line = "term1>cam1 GetExpTime ";
    while (line.size() < 100000 - 1)
        line += "lorem ipsum dolor ";
    line.truncate(100000 - 1);
    expectReply(QStringLiteral("@GetExpTime %1").arg(ExpTimeMs));
    for (int i = 1; i < piecesOf(100000); ++i)
        expectExact(QStringLiteral("> Er: Undefined Command"));
    finishLine(out, line, "100 KB line");
}

void SoakStream::appendDirectOnly(QByteArray& out)
{
    switch (random.bounded(12)) {
    case 0:
        expectExact(QStringLiteral("> Er: Undefined Command"));
        finishLine(out, "no arrow in this line", "no '>'");
        break;
    case 1:
        expectExact(QStringLiteral(">term1 Er: Undefined Command"));
        finishLine(out, "term1>cam1", "no blank");
        break;
    case 2:
        expectExact(QStringLiteral("> Er: Undefined Command"));
        finishLine(out, random.bounded(2) ? QByteArray() : QByteArray(" \t \r"), "blank");
        break;
    case 3:
        expectExact(QStringLiteral("> Er: Undefined Command"));
        finishLine(out, QByteArray("\0term1>cam1 IsBusy", 18), "zero byte first");
        break;
    case 4:
        expectExact(QStringLiteral(">term 1 Er: Undefined Command"));
        finishLine(out, "term 1>cam1 IsBusy", "blank before '>'");
        break;
    case 5:
        expectReply(QStringLiteral("@GetImages %1").arg(Images), QStringLiteral("cam1>te?rm1 "));
        finishLine(out, "te\xffrm1>cam1 GetImages", "invalid UTF-8 sender");
        break;
    case 6:
        expectReply(QStringLiteral("@GetBin %1 %1 %1").arg(Bin));
        finishLine(out, "  term1>cam1\tGetBin \t", "tabs and blanks around the address");
        break;
    case 7:
        expectReply(QStringLiteral("@GetBin %1 %1 %1").arg(Bin), QStringLiteral("cam1> "));
        finishLine(out, ">cam1 GetBin", "empty sender");
        break;
    case 8:
        expectReply(QStringLiteral("@GetBin %1 %1 %1").arg(Bin), QStringLiteral(">term1 "));
        finishLine(out, "term1> GetBin", "empty receiver");
        break;
    case 10: {
        // Around the longest line: 3998 and 3999 bytes with the line feed are
        // one line; at 4000 the line feed comes alone and makes a blank line.
        static const int sizes[] = {3998, 3999, 4000, 7998, 7999, 8000};
        const int size = sizes[boundaryLines++ % 6];
        QByteArray line = "term1>cam1 GetImages ";
        line += QByteArray(size - 1 - line.size(), 'y');
        expectReply(QStringLiteral("@GetImages %1").arg(Images));
        for (int i = 1; i < piecesOf(size); ++i)
            expectExact(QStringLiteral("> Er: Undefined Command"));
        finishLine(out, line, "at the longest line");
        break;
    }
    case 9:
        // A carriage return alone does not end a line.
        expectReply(QStringLiteral("@GetBin %1 %1 %1").arg(Bin));
        finishLine(out, "term1>cam1 GetBin\rterm1>cam1 GetImages\r", "bare CR");
        break;
    default:
        expectReply(QStringLiteral("@GetExpTime %1").arg(ExpTimeMs));
        finishLine(out, "term1>cam1 GetExpTime\r\r", "CR CR LF");
        break;
    }
}

void SoakStream::appendLine(QByteArray& out)
{
    // Weights per 100,000 lines.
    const bool direct = routeTaken == Route::Direct;
    for (;;) {
        int r = int(random.bounded(100000));
        auto pick = [&r](int weight) { return (r -= weight) < 0; };

        if (pick(50000)) {
            appendCommand(out);
        } else if (pick(4000)) {
            static const char* const queries[] = {"GetBin", "GetImages", "GetExpTime", "GetFileName", "IsBusy"};
            const QString command = QLatin1String(queries[random.bounded(5)]);
            const QString to = QStringLiteral("cam1.ccd>term1.x ");
            if (command == QLatin1String("IsBusy")) {
                Expectation e;
                e.kind = Expectation::IsBusy;
                e.text = to;
                e.command = command;
                expect(e);
            } else {
                static const QMap<QString, QString> replies{
                    {QStringLiteral("GetBin"), QStringLiteral("%1 %1 %1").arg(Bin)},
                    {QStringLiteral("GetImages"), QString::number(Images)},
                    {QStringLiteral("GetExpTime"), QString::number(ExpTimeMs)},
                    {QStringLiteral("GetFileName"), QLatin1String(FileName)}};
                expectReply(QLatin1Char('@') + command + QLatin1Char(' ') + replies.value(command), to);
            }
            finishLine(out, "term1.x>cam1.ccd " + command.toLatin1(), "sub-names");
        } else if (pick(4000)) {
            static const char* const unknown[] = {"Frobnicate 1 2", "getbin", "GETIMAGES", "IsBusy?", "Set", "@"};
            const int i = int(random.bounded(6));
            if (i == 5) {
                ++unanswered; // "@" alone is a reply
            } else {
                expectReply(QStringLiteral("Er: Undefined Command"));
            }
            finishLine(out, QByteArray("term1>cam1 ") + unknown[i], i == 5 ? "reply" : "unknown command");
        } else if (pick(4000)) {
            expectReply(QStringLiteral("Er: Undefined Event"));
            finishLine(out, random.bounded(2) ? "term1>cam1 _Tick 5" : "term1>cam1 _ChangedIsBusy 1", "event");
        } else if (pick(6000)) {
            static const char* const answers[] = {"term1>cam1 @GetModel something", "term1>cam1 Er: Undefined Command",
                                                  "cam9>cam1 @IsBusy 1",
                                                  "System>cam1 @flgon Ok:", "term1>cam1 @GetTemp Err: Get Temperature"};
            ++unanswered;
            finishLine(out, answers[random.bounded(5)], "reply");
        } else if (pick(4000)) {
            expectReply(QStringLiteral("@GetImages %1").arg(Images));
            finishLine(out, "term1>cam1 GetImages \xff\xfe \xc3( \xed\xa0\x80 \xc0\xaf", "invalid UTF-8 parameters");
        } else if (pick(2000)) {
            expectReply(QStringLiteral("Er: Undefined Command"));
            finishLine(out,
                       random.bounded(2) ? "term1>cam1 Get\xc3"
                                           "Bin"
                                         : "term1>cam1 \xf0\x9f\x98Images",
                       "invalid UTF-8 command");
        } else if (pick(4000)) {
            // Everything from a zero byte on is dropped: were it kept, the
            // setting would turn to 0 and later queries would show it.
            switch (random.bounded(3)) {
            case 0:
                expectReply(QStringLiteral("@GetExpTime %1").arg(ExpTimeMs));
                finishLine(out, QByteArray("term1>cam1 GetExpTime\0junk >x", 29), "zero byte");
                break;
            case 1:
                expectReply(QStringLiteral("@SetImages Ok:"));
                finishLine(out, QByteArray("term1>cam1 SetImages 10\0 99", 27), "zero byte");
                break;
            default:
                expectReply(QStringLiteral("@SetExpTime Ok:"));
                finishLine(out, QByteArray("term1>cam1 SetExpTime 20\0 5", 27), "zero byte");
                break;
            }
        } else if (pick(4000)) {
            expectReply(QStringLiteral("@GetBin %1 %1 %1").arg(Bin));
            finishLine(out, "term1>cam1 GetBin\r", "CR LF");
        } else if (pick(3000)) {
            expectReply(QStringLiteral("@GetFileName %1").arg(QLatin1String(FileName)));
            finishLine(out, "term1>cam1   GetFileName \t  \t", "blanks and tabs");
        } else if (pick(200)) {
            // Runs of 5,000, 12,000 and 60,000 bytes; direct also 100 KB ones.
            static const int units[] = {116, 280, 1390, 2324};
            const int kinds = direct ? 5 : 3;
            const int which = longRuns++ % kinds;
            if (which == 4)
                appendFillerLine(out);
            else
                appendLongRun(out, units[which]);
        } else if (pick(100)) {
            appendExposureCommand(out, QStringLiteral("StartExposure"));
        } else if (pick(200)) {
            appendExposureCommand(out, QStringLiteral("DownLoadImage"));
        } else if (pick(100)) {
            appendExposureCommand(out, QStringLiteral("RBIFlush"));
        } else if (pick(20)) {
            appendExposureCommand(out, QStringLiteral("Exposure"));
        } else if (direct) {
            appendDirectOnly(out);
        } else {
            continue; // a kind only a direct peer can deliver: draw again
        }
        return;
    }
}

bool SoakStream::fail(const QString& why, const QString& line, const Expectation* e)
{
    if (errorText.isEmpty()) {
        errorText = QStringLiteral("%1: received \"%2\"").arg(why, line.left(200));
        if (e) {
            errorText += QStringLiteral(" for line %1, expected %2\"%3%4\"")
                             .arg(e->lineNo)
                             .arg(e->kind == Expectation::Pattern ? QStringLiteral("pattern ") : QString())
                             .arg(e->text)
                             .arg(e->command.isEmpty() ? QString() : QLatin1Char('@') + e->command);
        }
        errorText += QStringLiteral(" (busy %1)").arg(serviceBusy);
    }
    return false;
}

bool SoakStream::takeEvent(bool busy, const QString& line)
{
    if (startPending)
        return fail(QStringLiteral("a second busy event before the start's reply"), line);
    if (busy == serviceBusy)
        return fail(QStringLiteral("a busy event that changes nothing"), line);
    ++busyEventCount;
    serviceBusy = busy;
    if (busy) {
        startPending = true;
    } else {
        singleReady = running == Running::Single;
        running = Running::None;
    }
    return true;
}

bool SoakStream::take(const QString& line)
{
    if (!errorText.isEmpty())
        return false;
    if (line == Busy1)
        return takeEvent(true, line);
    if (line == Busy0)
        return takeEvent(false, line);
    if (expected.isEmpty())
        return fail(QStringLiteral("an answer nobody asked for"), line);
    const Expectation e = expected.dequeue();
    ++checkedAnswers;
    const QString refused = e.text + QLatin1Char('@') + e.command + QStringLiteral(" Err: Busy");

    if (startPending) {
        // The event of an accepted start goes out right before its reply.
        if (e.kind != Expectation::Start || line != e.text + QLatin1Char('@') + e.command + QStringLiteral(" Ok:"))
            return fail(QStringLiteral("a busy event not followed by the start's reply"), line, &e);
        startPending = false;
        singleReady = false;
        if (e.command == QLatin1String("Exposure")) {
            running = Running::Sequence;
            ++startedSequences;
        } else {
            running = Running::Single;
            ++startedSingles;
        }
        return true;
    }

    bool ok = false;
    switch (e.kind) {
    case Expectation::Exact:
        ok = line == e.text;
        break;
    case Expectation::Pattern:
        ok = e.pattern.match(line).hasMatch();
        break;
    case Expectation::IsBusy:
        ok = line == e.text + QStringLiteral("@IsBusy ") + QLatin1Char(serviceBusy ? '1' : '0');
        break;
    case Expectation::Start:
        // When idle the start would have come with its event first.
        ok = serviceBusy && line == refused;
        busyRefusals += ok;
        break;
    case Expectation::Refused:
        ok = line == refused;
        busyRefusals += ok && serviceBusy;
        break;
    case Expectation::DownLoad:
        if (serviceBusy) {
            ok = line == refused;
            busyRefusals += ok;
        } else if (singleReady) {
            ok = line == e.text + QStringLiteral("@DownLoadImage Ok:");
            singleReady = false;
            storedSingles += ok;
        } else {
            ok = line == refused; // nothing in the camera to read
        }
        break;
    }
    return ok || fail(QStringLiteral("unexpected answer"), line, &e);
}
