#include "SMsg.h"

#include <QHash>
#include <QVarLengthArray>

#include <cstring>
#include <vector>

namespace {

// Fills text with n ASCII bytes, reusing its buffer when it holds enough
// room: the receiving loop refills one record for every line of a read.
void assignAscii(QString& text, const char* bytes, int n)
{
    if (n == 0) {
        if (!text.isEmpty())
            text.resize(0);
        return;
    }
    text.resize(n);
    QChar* out = text.data();
    for (int i = 0; i < n; ++i)
        out[i] = QChar(ushort(uchar(bytes[i])));
}

void splitAsciiBusName(const char* name, int n, QString& node, QString& sub)
{
    const void* dot = std::memchr(name, '.', size_t(n));
    const int at = dot ? int(static_cast<const char*>(dot) - name) : n;
    assignAscii(node, name, at);
    assignAscii(sub, dot ? name + at + 1 : name, dot ? n - at - 1 : 0);
}

int indexOf(const char* s, int n, char c, int from = 0)
{
    const void* hit = from < n ? std::memchr(s + from, c, size_t(n - from)) : nullptr;
    return hit ? int(static_cast<const char*>(hit) - s) : -1;
}

inline bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// SMsg::Parse for a line of 7-bit characters without a zero byte. For such a line the UTF-8 decoding changes nothing
// and the ASCII white space is all the white space there is, so the fields come out as Parse() makes them from the
// decoded text, without the whole-line QString and the copies cut from it. False for any other line.
bool parseAscii(const char* in, int size, SMsg& msg)
{
    // Simplified into a copy, so the other path still gets the line as it came.
    QVarLengthArray<char, 512> simple(size);
    char* s = simple.data();
    int n = 0;
    bool gap = false;
    for (int i = 0; i < size; ++i) {
        const uchar c = uchar(in[i]);
        const bool printable = c > ' ' && c < 0x80; // the usual case first
        if (!printable) {
            if (c == 0 || c >= 0x80)
                return false;
            if (isAsciiSpace(char(c))) {
                gap = n > 0;
                continue;
            }
        }
        if (gap)
            s[n++] = ' ';
        gap = false;
        s[n++] = char(c);
    }

    const int e = indexOf(s, n, '>');
    const int b = indexOf(s, n, ' ');
    const bool addressed = e >= 0 && b >= e;
    if (e < 0) {
        assignAscii(msg.from, s, 0);
        assignAscii(msg.fromNode, s, 0);
        assignAscii(msg.fromSub, s, 0);
    } else {
        assignAscii(msg.from, s, e);
        splitAsciiBusName(s, e, msg.fromNode, msg.fromSub);
    }
    if (!addressed) {
        msg.to.clear();
        msg.toNode.clear();
        msg.toSub.clear();
        msg.command.clear();
        msg.paramList.clear();
        if (e < 0)
            assignAscii(msg.params, s, n);
        else
            assignAscii(msg.params, s + e + 1, n - e - 1);
        msg.kind = SMsg::MsgInvalid;
        return true;
    }
    assignAscii(msg.to, s + e + 1, b - e - 1);
    splitAsciiBusName(s + e + 1, b - e - 1, msg.toNode, msg.toSub);
    msg.kind = s[b + 1] == '_' ? SMsg::MsgEvent : SMsg::MsgCommand;

    const int g = indexOf(s, n, ' ', b + 1);
    const int commandEnd = g < 0 ? n : g;
    assignAscii(msg.command, s + b + 1, commandEnd - b - 1);
    msg.LookUpCommandCode();

    // The words after the command; the receiver's sub-name goes first.
    const bool sub = !msg.toSub.isEmpty();
    int words = sub ? 1 : 0;
    for (int i = commandEnd; i < n; ++i)
        words += s[i] == ' ';
    while (msg.paramList.size() > words)
        msg.paramList.removeLast();
    while (msg.paramList.size() < words)
        msg.paramList.append(QString());
    int word = 0;
    if (sub) {
        msg.paramList[word++] = msg.toSub;
        msg.params = msg.toSub;
    } else if (g < 0) {
        assignAscii(msg.params, s, 0);
    } else {
        assignAscii(msg.params, s + g + 1, n - g - 1);
    }
    for (int at = commandEnd + 1; word < words; ++word) {
        const int end = indexOf(s, n, ' ', at);
        const int stop = end < 0 ? n : end;
        assignAscii(msg.paramList[word], s + at, stop - at);
        at = stop + 1;
    }
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
    from.clear();
    fromNode.clear();
    fromSub.clear();
    to.clear();
    toNode.clear();
    toSub.clear();
    command.clear();
    params.clear();
    paramList.clear();

    // QString::simplified() treats every Unicode space (tab, CR, no-break
    // space ...) as white space. The line is ours: simplified in place.
    const QString s = std::move(line).simplified();

    const int e = s.indexOf(QLatin1Char('>'));
    if (e < 0) {
        kind = MsgInvalid;
        params = s;
        return kind;
    }
    from = s.left(e);
    splitBusName(from, fromNode, fromSub);

    const int b = s.indexOf(QLatin1Char(' '));
    // A blank before the '>' (a sender name with a blank) cannot be cut into
    // sender and receiver: such a line is invalid too.
    if (b < 0 || b < e) {
        kind = MsgInvalid;
        params = s.mid(e + 1);
        return kind;
    }
    to = s.mid(e + 1, b - e - 1);
    splitBusName(to, toNode, toSub);

    kind = (b + 1 < s.size() && s.at(b + 1) == QLatin1Char('_')) ? MsgEvent : MsgCommand;

    const int g = s.indexOf(QLatin1Char(' '), b + 1);
    if (g < 0) {
        command = s.mid(b + 1);
    } else {
        command = s.mid(b + 1, g - b - 1);
        params = s.mid(g + 1).simplified();
        paramList = params.split(QLatin1Char(' '));
    }

    LookUpCommandCode();

    if (!toSub.isEmpty()) {
        paramList.prepend(toSub);
        params = toSub;
    }
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

int decodeLine(QByteArray line, SMsg& msg)
{
    // Nearly every line on the bus is plain ASCII: parsed from the bytes.
    if (parseAscii(line.constData(), line.size(), msg))
        return msg.kind;
    // Simplified in place when the caller hands its line over.
    QByteArray bytes = std::move(line).simplified();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return msg.Parse(QString::fromUtf8(bytes));
}
