#include "FuzzChecks.h"

#include "Body.h"
#include "CommandWords.h"
#include "ConfigLines.h"
#include "ImageFile.h"
#include "KeyFile.h"
#include "LineReader.h"
#include "SMsg.h"
#include "Stars.h"

#include <QBuffer>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QStringList>
#include <QTextCodec>
#include <QTextStream>
#include <QVarLengthArray>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzzchecks {

namespace {

// The service's command words, as Body sets them before its bus client
// exists, so that the parser gives the codes it gives in the service.
[[maybe_unused]] const bool commandTableSet = (SMsg::setCommandTable(commandWords, commandWordCount), true);

QString quoted(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != QLatin1Char('\\'))
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}

bool hasSpace(const QString& text)
{
    for (const QChar c : text) {
        if (c.isSpace())
            return true;
    }
    return false;
}

QString fromUtf16Bytes(const QByteArray& bytes)
{
    QString text(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(text.data(), bytes.constData(), size_t(text.size()) * sizeof(QChar));
    return text;
}

qint32 readInt32(const QByteArray& bytes, int at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i) {
        const quint8 byte = at + i < bytes.size() ? quint8(bytes.at(at + i)) : 0;
        value |= quint32(byte) << (8 * i);
    }
    return qint32(value);
}

void appendInt32(QByteArray& bytes, qint32 value)
{
    const quint32 v = quint32(value);
    for (int i = 0; i < 4; ++i)
        bytes.append(char((v >> (8 * i)) & 0xff));
}

// The text encodings config.cfg and key files are read with here: the
// service reads them with the locale's, which is one of these in practice.
QList<QTextCodec*> fileCodecs()
{
    static const QList<QTextCodec*> codecs{QTextCodec::codecForName("UTF-8"), QTextCodec::codecForName("ISO-8859-1")};
    return codecs;
}

// ---- one parsed message ----

QString messageFault(const SMsg& m)
{
    if (m.kind < SMsg::MsgCommand || m.kind > SMsg::MsgInvalid)
        return QStringLiteral("kind %1 out of range").arg(m.kind);
    if (m.commandCode < 0 || m.commandCode > SMsg::UnknownCommand)
        return QStringLiteral("command code %1 out of range").arg(m.commandCode);
    for (const QString& p : m.paramList) {
        if (p.isEmpty())
            return QStringLiteral("empty parameter in %1").arg(quoted(m.paramList.join(QLatin1Char('|'))));
        if (hasSpace(p))
            return QStringLiteral("parameter %1 holds white space").arg(quoted(p));
    }
    if (!m.toSub.isEmpty() && (m.paramList.isEmpty() || m.paramList.first() != m.toSub))
        return QStringLiteral("receiver sub-name %1 is not the first parameter").arg(quoted(m.toSub));
    if (m.kind == SMsg::MsgInvalid)
        return QString();
    if (m.command.isEmpty())
        return QStringLiteral("valid message without a command word");
    if (m.commandCode < SMsg::UnknownCommand && m.command != QLatin1String(SMsg::commandWord(m.commandCode)))
        return QStringLiteral("command code %1 for command %2").arg(m.commandCode).arg(quoted(m.command));
    if (hasSpace(m.from) || hasSpace(m.to) || hasSpace(m.command))
        return QStringLiteral("white space in sender, receiver or command: %1 %2 %3")
            .arg(quoted(m.from), quoted(m.to), quoted(m.command));
    if (m.from.contains(QLatin1Char('>')))
        return QStringLiteral("sender %1 holds '>'").arg(quoted(m.from));
    if ((m.kind == SMsg::MsgEvent) != m.command.startsWith(QLatin1Char('_')))
        return QStringLiteral("kind %1 for command %2").arg(m.kind).arg(quoted(m.command));
    return QString();
}

// An invalid line leaves commandCode as it was (the command word was never
// reached); compareCode false skips it for records that held a line before.
QString messageDifference(const SMsg& a, const SMsg& b, bool compareCode = true)
{
    const struct
    {
        const char* name;
        const QString& x;
        const QString& y;
    } fields[] = {
        {"from", a.from, b.from},          {"fromNode", a.fromNode, b.fromNode},
        {"fromSub", a.fromSub, b.fromSub}, {"to", a.to, b.to},
        {"toNode", a.toNode, b.toNode},    {"toSub", a.toSub, b.toSub},
        {"command", a.command, b.command}, {"params", a.params, b.params},
    };
    for (const auto& f : fields) {
        if (f.x != f.y)
            return QStringLiteral("%1 %2 against %3").arg(QLatin1String(f.name), quoted(f.x), quoted(f.y));
    }
    if (a.paramList != b.paramList)
        return QStringLiteral("paramList %1 against %2")
            .arg(quoted(a.paramList.join(QLatin1Char('|'))), quoted(b.paramList.join(QLatin1Char('|'))));
    if (a.kind != b.kind)
        return QStringLiteral("kind %1 against %2").arg(a.kind).arg(b.kind);
    if (compareCode && a.commandCode != b.commandCode)
        return QStringLiteral("commandCode %1 against %2").arg(a.commandCode).arg(b.commandCode);
    return QString();
}

// A record that has held another message before: the receiving loop reuses
// one record for every line of a read.
SMsg usedRecord()
{
    SMsg msg;
    msg.Parse(QStringLiteral("term1.ui>cam1.ccd SetExpTime 10 20"));
    return msg;
}

QString parseFault(const QString& line)
{
    SMsg fresh;
    const int kind = fresh.Parse(line);
    if (kind != fresh.kind)
        return QStringLiteral("Parse returned %1, kind is %2").arg(kind).arg(fresh.kind);
    QString fault = messageFault(fresh);
    if (!fault.isEmpty())
        return fault;

    SMsg again = fresh;
    again.Parse(line);
    fault = messageDifference(again, fresh);
    if (!fault.isEmpty())
        return QStringLiteral("parsed twice: ") + fault;

    SMsg used = usedRecord();
    used.Parse(line);
    const bool invalid = fresh.kind == SMsg::MsgInvalid;
    fault = messageDifference(used, fresh, !invalid);
    if (!fault.isEmpty())
        return QStringLiteral("parsed into a used record: ") + fault;
    return QString();
}

// ---- line framing ----

// The chunk sizes a stream is fed in, used in turn; none: the stream at once.
using ChunkSizes = QVarLengthArray<int, 16>;

QString lineFault(const char* line, int size)
{
    if (size <= 0)
        return QStringLiteral("empty line handed out");
    if (size > LineReader::DefaultMaxLineBytes)
        return QStringLiteral("line of %1 bytes").arg(size);
    const void* found = std::memchr(line, '\n', size_t(size));
    const int lf = found ? int(static_cast<const char*>(found) - line) : -1;
    if (lf >= 0 && lf != size - 1)
        return QStringLiteral("line feed inside a line at %1 of %2").arg(lf).arg(size);
    if (lf < 0 && size != LineReader::DefaultMaxLineBytes)
        return QStringLiteral("piece of %1 bytes without a line feed").arg(size);
    return QString();
}

// How the lines are taken from the reader: as views into its buffer, as the
// service takes requests, or as copies, as it takes its log-in lines.
enum class Take { Views, Copies };

// Feeds stream in chunks, taking every line after each chunk, as the client
// does after each read. Every line handed out must be the next bytes of the
// stream; onLine(bytes, size, end) then gets it with the offset one past its
// end in the stream, and returns a fault or nothing. pending: what was left.
template <typename OnLine>
QString feed(const QByteArray& stream, const ChunkSizes& sizes, Take take, int& pending, OnLine onLine)
{
    LineReader reader;
    qint64 appended = 0;
    int handedOut = 0;
    int at = 0;
    int turn = 0;
    QByteArray copy;
    while (at < stream.size()) {
        int size = sizes.isEmpty() ? stream.size() : sizes.at(turn++ % sizes.size());
        if (size <= 0)
            size = 1;
        if (size > stream.size() - at)
            size = stream.size() - at;
        reader.append(stream.constData() + at, size);
        at += size;
        appended += size;
        for (;;) {
            const char* line = nullptr;
            int lineSize = 0;
            if (take == Take::Copies) {
                if (!reader.hasLine())
                    break;
                copy = reader.takeLine();
                line = copy.constData();
                lineSize = copy.size();
            } else if (!reader.nextLine(line, lineSize)) {
                break;
            }
            QString fault = lineFault(line, lineSize);
            if (!fault.isEmpty())
                return fault;
            if (lineSize > stream.size() - handedOut
                || std::memcmp(line, stream.constData() + handedOut, size_t(lineSize)) != 0)
                return QStringLiteral("the lines handed out are not the bytes put in");
            handedOut += lineSize;
            fault = onLine(line, lineSize, handedOut);
            if (!fault.isEmpty())
                return fault;
        }
        if (handedOut + reader.pending() != appended)
            return QStringLiteral("%1 bytes in, %2 handed out, %3 pending")
                .arg(appended)
                .arg(handedOut)
                .arg(reader.pending());
        if (reader.pending() >= LineReader::DefaultMaxLineBytes)
            return QStringLiteral("%1 bytes pending without a line").arg(reader.pending());
        if (!reader.takeLine().isEmpty())
            return QStringLiteral("takeLine gave a line while hasLine said none");
    }
    pending = reader.pending();
    if (handedOut + pending != stream.size())
        return QStringLiteral("the lines handed out are not the bytes put in");
    return QString();
}

// Where the lines of the stream fed whole end: every other way of feeding it
// must cut the same lines. Offsets, not copies of the lines.
struct Framing
{
    QVarLengthArray<int, 512> ends;
    int pending = 0;
};

// Feeds the stream again in other chunks; the lines must end where they did
// when it was fed whole.
QString framingFault(const QByteArray& stream, const ChunkSizes& sizes, Take take, const Framing& whole)
{
    int lines = 0;
    int pending = 0;
    QString fault = feed(stream, sizes, take, pending, [&](const char*, int, int end) {
        if (lines >= whole.ends.size() || whole.ends.at(lines) != end)
            return QStringLiteral("line %1 ends at %2; fed whole: at %3")
                .arg(lines)
                .arg(end)
                .arg(lines < whole.ends.size() ? whole.ends.at(lines) : -1);
        ++lines;
        return QString();
    });
    if (fault.isEmpty() && (lines != whole.ends.size() || pending != whole.pending))
        fault = QStringLiteral("%1 lines, %2 pending; fed whole: %3 lines, %4 pending")
                    .arg(lines)
                    .arg(pending)
                    .arg(whole.ends.size())
                    .arg(whole.pending);
    return fault;
}

// Each line is decoded into the receiving loop's record, which has held the
// lines before it, and compared with the line decoded into a new record; that
// one is compared with the line without its line feed. The new record depends
// on nothing but the line's bytes: made and checked once per distinct line of
// a stream (a stream is often its text repeated), and kept for the line's
// repetitions. Equal fields keep the same invariants.
struct Decoding
{
    SMsg reused;
    SMsg withoutLineFeed; // a used record too
    QHash<QByteArray, SMsg> fresh;
    QByteArray view; // the line looked up: one header, pointed at each line in turn
};

QString decodedFault(const SMsg& m)
{
    QString fault = messageFault(m);
    if (!fault.isEmpty())
        return fault;
    for (const QString* field : {&m.from, &m.to, &m.command, &m.params}) {
        if (field->contains(QChar(0)))
            return QStringLiteral("zero character in %1").arg(quoted(*field));
    }
    return QString();
}

QString decodeFault(const char* bytes, int size, Decoding& d)
{
    auto known = d.fresh.constFind(d.view.setRawData(bytes, uint(size)));
    if (known == d.fresh.cend()) {
        const QByteArray own(bytes, size);
        SMsg fresh;
        decodeLine(own, fresh);
        QString fault = decodedFault(fresh);
        if (!fault.isEmpty())
            return fault;
        if (own.endsWith('\n')) {
            decodeLine(bytes, size - 1, d.withoutLineFeed);
            fault = messageDifference(d.withoutLineFeed, fresh, fresh.kind != SMsg::MsgInvalid);
            if (!fault.isEmpty())
                return QStringLiteral("with and without the line feed: ") + fault;
        }
        known = d.fresh.insert(own, fresh);
    }

    // Decoded where it lies, as the receiving loop decodes each request.
    SMsg& reused = d.reused;
    const int kind = decodeLine(bytes, size, reused);
    if (kind != reused.kind)
        return QStringLiteral("decodeLine returned %1, kind is %2").arg(kind).arg(reused.kind);
    // An invalid line keeps the code of the line before: not compared, but in range.
    if (reused.commandCode < 0 || reused.commandCode > SMsg::UnknownCommand)
        return QStringLiteral("command code %1 out of range").arg(reused.commandCode);
    const QString fault = messageDifference(reused, *known, known->kind != SMsg::MsgInvalid);
    if (!fault.isEmpty())
        return QStringLiteral("decoded into a used record: ") + fault;
    return QString();
}

// ---- configuration and key files ----

QString configFault(const QMap<QString, QString>& map)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QString& key = it.key();
        if (key.isEmpty())
            return QStringLiteral("empty key");
        if (key != key.toUpper())
            return QStringLiteral("key %1 is not upper case").arg(quoted(key));
        if (hasSpace(key))
            return QStringLiteral("key %1 holds white space").arg(quoted(key));
        if (key.startsWith(QLatin1Char('#')))
            return QStringLiteral("comment %1 read as a key").arg(quoted(key));
        if (hasSpace(it.value()))
            return QStringLiteral("value %1 of %2 holds white space").arg(quoted(it.value()), quoted(key));
        if (it.value().startsWith(QLatin1Char('#')))
            return QStringLiteral("comment %1 read as the value of %2").arg(quoted(it.value()), quoted(key));
    }
    return QString();
}

QString wordsFault(const QStringList& words)
{
    for (const QString& word : words) {
        if (word.isEmpty())
            return QStringLiteral("empty key word");
        if (hasSpace(word))
            return QStringLiteral("key word %1 holds white space").arg(quoted(word));
    }
    return QString();
}

QString codecName(QTextCodec* codec)
{
    return QString::fromLatin1(codec->name());
}

} // namespace

QString checkParse(const QByteArray& input)
{
    const struct
    {
        const char* name;
        QString text;
    } views[] = {
        {"UTF-8", QString::fromUtf8(input)},
        {"Latin-1", QString::fromLatin1(input)},
        {"UTF-16", fromUtf16Bytes(input)},
    };
    for (const auto& view : views) {
        const QString fault = parseFault(view.text);
        if (!fault.isEmpty())
            return QStringLiteral("%1 %2: %3").arg(QLatin1String(view.name), quoted(view.text), fault);
    }
    return QString();
}

QString checkConfig(const QByteArray& input)
{
    for (QTextCodec* codec : fileCodecs()) {
        QBuffer buffer;
        buffer.setData(input);
        buffer.open(QIODevice::ReadOnly | QIODevice::Text);
        QTextStream stream(&buffer);
        stream.setCodec(codec);
        QMap<QString, QString> map;
        readConfigLines(stream, map);
        QString fault = configFault(map);
        if (!fault.isEmpty())
            return codecName(codec) + QStringLiteral(": ") + fault;

        // What was read, written out as a configuration again, reads the same.
        QString written;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            written.append(it.key()).append(QLatin1Char(' '));
            if (it.value().isEmpty())
                written.append(QLatin1Char('#'));
            else
                written.append(it.value());
            written.append(QLatin1Char('\n'));
        }
        QTextStream again(&written);
        QMap<QString, QString> reread;
        readConfigLines(again, reread);
        if (reread != map)
            return codecName(codec) + QStringLiteral(": written out and read again differs: ") + quoted(written);
    }
    return QString();
}

QString checkKeys(const QByteArray& input)
{
    for (QTextCodec* codec : fileCodecs()) {
        QBuffer buffer;
        buffer.setData(input);
        buffer.open(QIODevice::ReadOnly | QIODevice::Text);
        QTextStream stream(&buffer);
        stream.setCodec(codec);
        const QStringList words = readKeyWords(stream);
        const QString fault = wordsFault(words);
        if (!fault.isEmpty())
            return codecName(codec) + QStringLiteral(": ") + fault;

        // The key number counts words: one per line or all on one line is
        // the same key file.
        for (const QLatin1String separator : {QLatin1String(" "), QLatin1String("\n")}) {
            QString written = words.join(separator);
            QTextStream again(&written);
            const QStringList reread = readKeyWords(again);
            if (reread != words)
                return codecName(codec) + QStringLiteral(": written out and read again differs: ")
                       + quoted(words.join(QLatin1Char('|'))) + QStringLiteral(" against ")
                       + quoted(reread.join(QLatin1Char('|')));
        }
    }
    return QString();
}

QByteArray fileNameInput(bool useSeqFileNo, int encoding, qint32 seqFileNo, qint32 imageIndex, qint32 alternative,
                         const QByteArray& name)
{
    QByteArray bytes;
    bytes.append(char((useSeqFileNo ? 1 : 0) | ((encoding & 3) << 1)));
    appendInt32(bytes, seqFileNo);
    appendInt32(bytes, imageIndex);
    appendInt32(bytes, alternative);
    return bytes + name;
}

QString checkFileName(const QByteArray& input)
{
    const quint8 flags = input.isEmpty() ? 0 : quint8(input.at(0));
    const bool useSeqFileNo = flags & 1;
    const qint32 seqBefore = readInt32(input, 1);
    const qint32 imageIndex = readInt32(input, 5);
    const qint32 alternative = readInt32(input, 9);
    const QByteArray nameBytes = input.mid(13);
    QString fileName;
    switch ((flags >> 1) & 3) {
    case 1:
        fileName = QString::fromLatin1(nameBytes);
        break;
    case 2:
        fileName = fromUtf16Bytes(nameBytes);
        break;
    default:
        fileName = QString::fromUtf8(nameBytes);
        break;
    }

    int seqFileNo = seqBefore;
    const QString name = imagefile::composeName(fileName, useSeqFileNo, seqFileNo, imageIndex);
    const QString what = quoted(fileName) + QStringLiteral(" gave ") + quoted(name) + QStringLiteral(": ");

    if (name.contains(QLatin1Char('/')) || QFile::encodeName(name).contains('/'))
        return what + QStringLiteral("'/' in the name");
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return what + QStringLiteral("not a file name");
    if (useSeqFileNo) {
        // Past the largest number the count starts again at 0.
        const bool advanced = qint64(seqFileNo) - qint64(seqBefore) == 1 || (seqBefore == INT_MAX && seqFileNo == 0);
        if (!advanced)
            return what + QStringLiteral("sequence number %1 became %2").arg(seqBefore).arg(seqFileNo);
        if (!name.contains(QString::asprintf("%04d-%04d.", seqBefore, imageIndex)))
            return what + QStringLiteral("sequence and picture numbers %1, %2 missing").arg(seqBefore).arg(imageIndex);
    } else {
        if (seqFileNo != seqBefore)
            return what + QStringLiteral("unused sequence number %1 became %2").arg(seqBefore).arg(seqFileNo);
        if (!name.contains(QString::asprintf("-%04d.", imageIndex)))
            return what + QStringLiteral("picture number %1 missing").arg(imageIndex);
    }
    const QString component = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && !name.endsWith(component.mid(dot)))
        return what + QStringLiteral("extension %1 lost").arg(quoted(component.mid(dot)));

    const QString alt = imagefile::alternativeName(name, alternative);
    const QString altWhat = what + QStringLiteral("alternative %1 is %2: ").arg(alternative).arg(quoted(alt));
    if (alt.contains(QLatin1Char('/')) || QFile::encodeName(alt).contains('/'))
        return altWhat + QStringLiteral("'/' in the name");
    if (alt == name)
        return altWhat + QStringLiteral("same as the taken name");
    if (!alt.contains(QString::asprintf("-%04d", imageIndex)))
        return altWhat + QStringLiteral("picture number missing");
    if (dot >= 0 && !alt.endsWith(component.mid(dot)))
        return altWhat + QStringLiteral("extension lost");
    if (alternative < INT_MAX && imagefile::alternativeName(name, alternative + 1) == alt)
        return altWhat + QStringLiteral("the next alternative is the same");
    return QString();
}

QByteArray receiveInput(const QList<int>& chunkSizes, int repeats, const QByteArray& stream)
{
    QByteArray bytes;
    const int n = qMin(chunkSizes.size(), 15);
    bytes.append(char(n | (((qBound(1, repeats, 8) - 1) & 7) << 4)));
    for (int i = 0; i < n; ++i) {
        bytes.append(char(chunkSizes.at(i) & 0xff));
        bytes.append(char((chunkSizes.at(i) >> 8) & 0xff));
    }
    return bytes + stream;
}

QString checkReceive(const QByteArray& input)
{
    const quint8 head = input.isEmpty() ? 0 : quint8(input.at(0));
    const int n = head & 15;
    const int repeats = ((head >> 4) & 7) + 1;
    const Take chunksTake = head & 0x80 ? Take::Views : Take::Copies;
    ChunkSizes sizes;
    for (int i = 0; i < n; ++i) {
        const int at = 1 + 2 * i;
        const int lo = at < input.size() ? quint8(input.at(at)) : 0;
        const int hi = at + 1 < input.size() ? quint8(input.at(at + 1)) : 0;
        sizes.append((lo | (hi << 8)) % 8192);
    }
    const int offset = qMin(1 + 2 * n, input.size());
    const int bodySize = input.size() - offset;
    QByteArray stream;
    stream.reserve(bodySize * repeats);
    for (int i = 0; i < repeats; ++i)
        stream.append(input.constData() + offset, bodySize);

    // Fed whole, each line is decoded where it lies, as the client does.
    Framing whole;
    Decoding decoding;
    QString fault = feed(stream, ChunkSizes(), Take::Views, whole.pending, [&](const char* line, int size, int end) {
        const int begin = end - size;
        whole.ends.append(end);
        const QString decodeFailure = decodeFault(line, size, decoding);
        if (decodeFailure.isEmpty())
            return decodeFailure;
        const QByteArray text = QByteArray::fromRawData(stream.constData() + begin, qMin(end - begin, 200));
        return QStringLiteral("line %1: %2").arg(quoted(QString::fromLatin1(text)), decodeFailure);
    });
    if (!fault.isEmpty())
        return QStringLiteral("fed whole: ") + fault;
    if (!sizes.isEmpty()) {
        fault = framingFault(stream, sizes, chunksTake, whole);
        if (!fault.isEmpty())
            return QStringLiteral("fed in chunks: ") + fault;
    }
    if (stream.size() <= 512) {
        fault = framingFault(stream, ChunkSizes{1}, chunksTake == Take::Views ? Take::Copies : Take::Views, whole);
        if (!fault.isEmpty())
            return QStringLiteral("fed byte by byte: ") + fault;
    }
    return QString();
}

QString check(const QString& target, const QByteArray& input)
{
    if (target == QLatin1String("parse"))
        return checkParse(input);
    if (target == QLatin1String("config"))
        return checkConfig(input);
    if (target == QLatin1String("keys"))
        return checkKeys(input);
    if (target == QLatin1String("filename"))
        return checkFileName(input);
    if (target == QLatin1String("receive"))
        return checkReceive(input);
    return QStringLiteral("no target named ") + target;
}

void abortOn(const QString& violation)
{
    if (violation.isEmpty())
        return;
    std::fprintf(stderr, "invariant violated: %s\n", violation.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzzchecks
