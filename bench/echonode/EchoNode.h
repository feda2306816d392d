#pragma once

#include "LineReader.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpSocket;

// The least a STARS node can do: log in like the service (key number in,
// "name key" out, one verdict line in), then answer every line
// "from>to command params" at once with "to>from @command params" — one
// line of about the reply's length, one write per line. Reads config.cfg
// (NAME_ON_STARS, KEY_FILE_NAME, STARS_IP, STARS_PORT) and <key file>.key from
// the working directory; ends when the connection does.
class EchoNode : public QObject
{
    Q_OBJECT

public:
    EchoNode();

    // Reads the files and connects; false (with a message) when it cannot.
    bool start();

private slots:
    void readLines();

private:
    void answer(const QByteArray& line);

    enum State { WaitKeyNumber, WaitVerdict, Ready };

    QTcpSocket* socket = nullptr;
    LineReader reader;
    State state = WaitKeyNumber;
    QByteArray nodeName;
    QStringList keys;
};
