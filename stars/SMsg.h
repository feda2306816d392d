#pragma once

#include <QString>
#include <QStringList>

// One line of the STARS bus split into its parts.
//
// Grammar of a line (after white space is simplified):
//   line     = from ">" to " " command [ " " params ]
//   from, to = node [ "." sub ]
// A command word starting with '_' makes the line an event; '@' marks a reply.
// When the receiver carries a sub-name it becomes the first parameter, so a
// handler sees 'term1>cam1.ccd SetExpTime 10' as params "ccd" and
// paramList ("ccd", "10").
class SMsg
{
public:
    enum Kind { MsgCommand = 0, MsgEvent = 1, MsgInvalid = 2 };
    // The code of a word not in the command table.
    enum { UnknownCommand = 41 };

    QString from;
    QString fromNode;
    QString fromSub;
    QString to;
    QString toNode;
    QString toSub;
    QString command;
    QString params;
    QStringList paramList;
    qint32 kind = MsgInvalid;
    qint32 commandCode = UnknownCommand;

    // Fills the record from one received line (line feed already removed) and
    // returns the new kind. Never fails: a line without '>' or without a blank
    // comes back as MsgInvalid with the fields filled as far as they could be.
    int Parse(QString line);

    // Sets commandCode from command by an exact, case-sensitive look-up in the
    // command table.
    void LookUpCommandCode();

    // Sets the command table: the words this program serves, a word's code being
    // its place in words (0, 1, ...). Called once at start-up, before the first
    // line is parsed; until then every word is UnknownCommand. A word given
    // twice keeps its first code; more than UnknownCommand words stop the
    // program, as their codes would collide with it.
    static void setCommandTable(const char* const* words, int count);
    // The word of a code from the table; nullptr for any other code.
    static const char* commandWord(int code);

    // True for a line that is itself an answer: a reply ('@...') or an error
    // answer ("Er:"). Answering those again makes two nodes (or a node and the
    // server's "is down" bounce) talk to each other forever.
    bool isAnswer() const;
};

// Turns one received line (line feed included or not) into msg: white space
// simplified, cut at the first zero byte, decoded as UTF-8, parsed. Returns
// the message kind. The bytes are only read: the line may be a view into the
// receiving buffer.
int decodeLine(const char* bytes, int size, SMsg& msg);
inline int decodeLine(const QByteArray& line, SMsg& msg)
{
    return decodeLine(line.constData(), line.size(), msg);
}

// The node part of a bus name: routing goes by it ("cam1.ccd" is at "cam1").
template <typename Text> Text busNode(const Text& name)
{
    const int dot = name.indexOf('.');
    return dot < 0 ? name : name.left(dot);
}

// The address word of a line, "from>to", split at its first '>'. False (and
// both parts empty) when there is no '>'.
template <typename Text> bool splitAddress(const Text& address, Text& from, Text& to)
{
    const int arrow = address.indexOf('>');
    from = arrow < 0 ? Text() : address.left(arrow);
    to = arrow < 0 ? Text() : address.mid(arrow + 1);
    return arrow >= 0;
}
