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
    enum { UnknownCommand = 37 };

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

    // Sets commandCode from command by an exact, case-sensitive look-up.
    void LookUpCommandCode();

    // True for a line that is itself an answer: a reply ('@...') or an error
    // answer ("Er:"). Answering those again makes two nodes (or a node and the
    // server's "is down" bounce) talk to each other forever.
    bool isAnswer() const;
};

// The command words of this node with their codes 0..36, closed by an entry
// with an empty name and the code 37 (UnknownCommand).
struct CommandTableEntry
{
    const char* name;
    int code;
};
extern const CommandTableEntry CommandTable[];
