#include "EchoNode.h"

#include "ConfigLines.h"
#include "KeyFile.h"
#include "SmallFile.h"

#include <QCoreApplication>
#include <QMap>
#include <QTcpSocket>

#include <cstdio>

EchoNode::EchoNode() : QObject(nullptr) {}

bool EchoNode::start()
{
    // The service's own readers, so both read the same files the same way.
    QByteArray text;
    QString reason;
    if (!readSmallFile(QStringLiteral("config.cfg"), text, reason)) {
        std::fprintf(stderr, "echonode: no config.cfg: %s\n", qPrintable(reason));
        return false;
    }
    QMap<QString, QString> config;
    readConfigText(text, config);
    nodeName = config.value(QStringLiteral("NAME_ON_STARS")).toLatin1();
    const QString keyPath = config.value(QStringLiteral("KEY_FILE_NAME")) + QStringLiteral(".key");
    if (nodeName.isEmpty() || !readSmallFile(keyPath, text, reason)) {
        std::fprintf(stderr, "echonode: no node name or key file: %s\n", qPrintable(reason));
        return false;
    }
    keys = keyWords(text);

    socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this,
            [this] { socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    connect(socket, &QTcpSocket::readyRead, this, &EchoNode::readLines);
    connect(socket, &QTcpSocket::disconnected, qApp, &QCoreApplication::quit);
    connect(socket, &QAbstractSocket::errorOccurred, qApp, &QCoreApplication::quit);
    socket->connectToHost(config.value(QStringLiteral("STARS_IP")),
                          quint16(config.value(QStringLiteral("STARS_PORT")).toUInt()));
    return true;
}

void EchoNode::readLines()
{
    while (socket->bytesAvailable() > 0) {
        const int room = int(qMin<qint64>(socket->bytesAvailable(), 1 << 20));
        reader.appendReserved(int(qMax<qint64>(0, socket->read(reader.reserve(room), room))));
        while (reader.hasLine())
            answer(reader.takeLine());
    }
}

void EchoNode::answer(const QByteArray& line)
{
    switch (state) {
    case WaitKeyNumber: {
        QString key;
        QString why;
        if (!chooseKey(keys, line.trimmed().toInt(), key, why)) {
            std::fprintf(stderr, "echonode: %s\n", qPrintable(why));
            socket->disconnectFromHost();
            return;
        }
        socket->write(nodeName + ' ' + key.toLatin1() + '\n');
        state = WaitVerdict;
        return;
    }
    case WaitVerdict:
        state = Ready;
        return;
    case Ready:
        break;
    }
    const int end = line.endsWith('\n') ? line.size() - 1 : line.size();
    const int gt = line.indexOf('>');
    const int blank = line.indexOf(' ', gt + 1);
    if (gt < 0 || blank < 0 || blank >= end)
        return;
    QByteArray reply;
    reply.reserve(end + 8);
    reply.append(line.constData() + gt + 1, blank - gt - 1); // to
    reply.append('>');
    reply.append(line.constData(), gt); // from
    reply.append(" @", 2);
    reply.append(line.constData() + blank + 1, end - blank - 1); // command and parameters
    reply.append(" 0\n", 3);
    socket->write(reply);
}
