#include "SMsg.h"

#include <QHash>
#include <QStringView>
#include <QVarLengthArray>

#include <cstring>
#include <vector>

namespace {

// A line is parsed from its ASCII bytes (the receiving loop's usual case) or
// from decoded text: the same grammar over either kind of character.
inline ushort unit(char c)
{
    return uchar(c);
}
inline ushort unit(QChar c)
{
    return c.unicode();
}

int indexOf(const char* s, int n, char c, int from = 0)
{
    const void* hit = from < n ? std::memchr(s + from, c, size_t(n - from)) : nullptr;
    return hit ? int(static_cast<const char*>(hit) - s) : -1;
}

int indexOf(const QChar* s, int n, char c, int from = 0)
{
    return from < n ? int(QStringView(s, n).indexOf(QLatin1Char(c), from)) : -1;
}

// Qt's Latin-1 assignment keeps the buffer when it has room, and widens the
// bytes in bulk.
void fill(QString& text, const char* chars, int n)
{
    text = QLatin1String(chars, n);
}

// The same for UTF-16; a string without room gets one of just the size, as
// resizing would round it up.
void fill(QString& text, const QChar* chars, int n)
{
    if (text.isDetached() && text.capacity() >= n)
        text.setUnicode(chars, n);
    else
        text = QString(chars, n);
}

// Sets text to n characters, in its own buffer when that holds enough room:
// the receiving loop refills one record for every line it reads.
template <typename Char> void assign(QString& text, const Char* chars, int n)
{
    if (n > 0)
        fill(text, chars, n);
    else if (text.isDetached())
        text.resize(0);
    else
        text.clear();
}

// Sets text to the characters at chars, which same holds already: shared when
// text has no room for them anyway (a new record's fields never have), copied
// otherwise, so that a record that is refilled keeps its buffers.
template <typename Char> void assignLike(QString& text, const Char* chars, const QString& same)
{
    if (text.isDetached() && text.capacity() >= same.size())
        assign(text, chars, same.size());
    else
        text = same;
}

// A bus name "node.sub", the text of name at chars, cut at its first '.'.
template <typename Char> void splitName(const Char* chars, const QString& name, QString& node, QString& sub)
{
    const int dot = indexOf(chars, name.size(), '.');
    if (dot < 0) {
        assignLike(node, chars, name);
        assign(sub, chars, 0);
    } else {
        assign(node, chars, dot);
        assign(sub, chars + dot + 1, name.size() - dot - 1);
    }
}

// Fills msg from a simplified line: words with one blank between them and
// none at either end.
//   line     = from ">" to " " command { " " parameter }
//   from, to = node [ "." sub ]
template <typename Char> void parseSimplified(const Char* s, int n, SMsg& msg)
{
    const int e = indexOf(s, n, '>');
    const int b = indexOf(s, n, ' ');
    assign(msg.from, s, e < 0 ? 0 : e);
    splitName(s, msg.from, msg.fromNode, msg.fromSub);

    // A blank before the '>' (a sender name with a blank) cannot be cut into
    // sender and receiver: such a line is invalid too. Its command code is
    // left as it was: the command word was never reached.
    if (e < 0 || b < e) {
        for (QString* field : {&msg.to, &msg.toNode, &msg.toSub, &msg.command})
            assign(*field, s, 0);
        msg.paramList.clear();
        assign(msg.params, s + e + 1, n - e - 1);
        msg.kind = SMsg::MsgInvalid;
        return;
    }
    const Char* to = s + e + 1;
    assign(msg.to, to, b - e - 1);
    splitName(to, msg.to, msg.toNode, msg.toSub);
    msg.kind = unit(s[b + 1]) == '_' ? SMsg::MsgEvent : SMsg::MsgCommand;

    const int g = indexOf(s, n, ' ', b + 1);
    const int commandEnd = g < 0 ? n : g;
    assign(msg.command, s + b + 1, commandEnd - b - 1);
    msg.LookUpCommandCode();

    // The receiver's sub-name is the first parameter, and then the only text
    // in params.
    int words = 0;
    const auto nextWord = [&msg, &words]() -> QString& {
        if (words == msg.paramList.size())
            msg.paramList.append(QString());
        return msg.paramList[words++];
    };
    if (!msg.toSub.isEmpty()) {
        const Char* sub = to + msg.toNode.size() + 1;
        assignLike(nextWord(), sub, msg.toSub);
        assignLike(msg.params, sub, msg.toSub);
    } else {
        assign(msg.params, g < 0 ? s : s + g + 1, g < 0 ? 0 : n - g - 1);
    }
    if (g >= 0) {
        int at = g + 1;
        for (int end = indexOf(s, n, ' ', at); end >= 0; end = indexOf(s, n, ' ', at)) {
            assign(nextWord(), s + at, end - at);
            at = end + 1;
        }
        assign(nextWord(), s + at, n - at);
    }
    if (words < msg.paramList.size())
        msg.paramList.erase(msg.paramList.begin() + words, msg.paramList.end());
}

inline bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// True when each of the eight bytes in w is '!' to DEL: no white space, no
// zero, no byte of a multi-byte character. Adding 0x5f sets a byte's top bit
// exactly when it is 0x21 or more; bytes that had it set already fail ~w, and
// without them no addition carries into the next byte.
inline bool allPrintable(quint64 w)
{
    constexpr quint64 top = 0x8080808080808080ull;
    return ((w + 0x5f5f5f5f5f5f5f5full) & ~w & top) == top;
}

// SMsg::Parse for a line of 7-bit characters without a zero byte. For such a line the UTF-8 decoding changes nothing
// and the ASCII white space is all the white space there is, so the fields come out as Parse() makes them from the
// decoded text, without the whole-line QString. False for any other line.
bool parseAscii(const char* in, int size, SMsg& msg)
{
    // Simplified into a copy, so the other path still gets the line as it came.
    QVarLengthArray<char, 512> simple(size);
    char* const s = simple.data();
    char* out = s;
    bool gap = false;
    // This loop sees every byte the service receives: words go eight bytes at
    // a time, and only white space, the ends of words and what is refused go
    // byte by byte.
    for (const char *p = in, *const end = in + size; p != end;) {
        quint64 eight;
        const bool whole = end - p >= 8 && (std::memcpy(&eight, p, 8), allPrintable(eight));
        if (!whole) {
            const uchar c = uchar(*p);
            if (uchar(c - 0x21) >= 0x80 - 0x21) { // not '!' to DEL
                if (c == 0 || c >= 0x80)
                    return false;
                if (isAsciiSpace(char(c))) {
                    gap = out != s;
                    ++p;
                    continue;
                }
            }
        }
        if (gap) {
            *out++ = ' ';
            gap = false;
        }
        if (whole) {
            std::memcpy(out, p, 8);
            out += 8;
            p += 8;
        } else {
            *out++ = *p++;
        }
    }
    parseSimplified(s, int(out - s), msg);
    return true;
}

// The command table, set by the program before its loop starts and only read
// afterwards: every request is looked up in the hash. Made on first use, so a
// program may set it from its own static initialisers.
struct CommandTable
{
    QHash<QString, int> codes;
    std::vector<const char*> words;
};

CommandTable& commandTable()
{
    static CommandTable table;
    return table;
}

} // namespace

void SMsg::setCommandTable(const char* const* words, int count)
{
    if (count > UnknownCommand)
        qFatal("%d command words do not fit the command codes 0 to %d", count, UnknownCommand - 1);
    CommandTable& table = commandTable();
    table.codes.clear();
    table.words.assign(words, words + count);
    for (int code = 0; code < count; ++code) {
        const QString word = QLatin1String(words[code]);
        if (!word.isEmpty() && !table.codes.contains(word))
            table.codes.insert(word, code);
    }
}

const char* SMsg::commandWord(int code)
{
    const std::vector<const char*>& words = commandTable().words;
    return code >= 0 && code < int(words.size()) ? words[size_t(code)] : nullptr;
}

int SMsg::Parse(QString line)
{
    // QString::simplified() treats every Unicode space (tab, CR, no-break
    // space ...) as white space. The line is ours: simplified in place.
    const QString s = std::move(line).simplified();
    parseSimplified(s.constData(), s.size(), *this);
    return kind;
}

void SMsg::LookUpCommandCode()
{
    commandCode = commandTable().codes.value(command, UnknownCommand);
}

bool SMsg::isAnswer() const
{
    return command.startsWith(QLatin1Char('@')) || command == QLatin1String("Er:");
}

int decodeLine(const char* bytes, int size, SMsg& msg)
{
    // The text of a line ends at a zero byte.
    const void* zero = size > 0 ? std::memchr(bytes, 0, size_t(size)) : nullptr;
    // Nearly every line on the bus is plain ASCII: parsed from the bytes.
    if (parseAscii(bytes, zero ? int(static_cast<const char*>(zero) - bytes) : size, msg))
        return msg.kind;
    // Simplified in place in a copy of its own.
    QByteArray text = QByteArray(bytes, size).simplified();
    const int end = text.indexOf('\0');
    if (end >= 0)
        text.truncate(end);
    return msg.Parse(QString::fromUtf8(text));
}
