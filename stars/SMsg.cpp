#include "SMsg.h"

#include <QHash>

const CommandTableEntry CommandTable[] = {
    {"IsBusy", 0},         {"GetLibVer", 1},       {"GetModel", 2},
    {"GetSerialSTR", 3},   {"GetHWRev", 4},        {"GetPixSize", 5},
    {"GetArrayArea", 6},   {"GetVisArea", 7},      {"SetTemp", 8},
    {"GetTemp", 9},        {"GetCCDTemp", 10},     {"GetBaseTemp", 11},
    {"GetCoolerPWR", 12},  {"SetBin", 13},         {"GetBin", 14},
    {"SetRBIFlushes", 15}, {"GetRBIFlushes", 16},  {"SetRBIExpTime", 17},
    {"GetRBIExpTime", 18}, {"SetTDIRate", 19},     {"GetTDIRate", 20},
    {"SetImages", 21},     {"GetImages", 22},      {"SetExpTime", 23},
    {"GetExpTime", 24},    {"SetInterval", 25},    {"GetInterval", 26},
    {"SetFileName", 27},   {"GetFileName", 28},    {"Exposure", 29},
    {"StartExposure", 30}, {"RBIFlush", 31},       {"DownLoadImage", 32},
    {"SetSeqFileNo", 33},  {"GetSeqFileNo", 34},   {"SetUseSeqFNo", 35},
    {"GetUseSeqFNo", 36},  {"Abort", 37},          {"GetProgress", 38},
    {"GetLastFile", 39},   {"GetLastOutcome", 40}, {"", SMsg::UnknownCommand},
};

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
    // Every request is looked up: a hash of the table, built once, instead of
    // comparing the word with each name in turn. The empty closing entry is
    // left out, so an empty word stays unknown.
    static const QHash<QString, int> codes = [] {
        QHash<QString, int> table;
        for (const CommandTableEntry* entry = CommandTable; entry->code != UnknownCommand; ++entry) {
            const QString name = QLatin1String(entry->name);
            if (!table.contains(name))
                table.insert(name, entry->code);
        }
        return table;
    }();
    commandCode = codes.value(command, UnknownCommand);
}

bool SMsg::isAnswer() const
{
    return command.startsWith(QLatin1Char('@')) || command == QLatin1String("Er:");
}

int decodeLine(QByteArray line, SMsg& msg)
{
    // Simplified in place when the caller hands its line over.
    QByteArray bytes = std::move(line).simplified();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return msg.Parse(QString::fromUtf8(bytes));
}
