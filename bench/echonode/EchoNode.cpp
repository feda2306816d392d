#include "EchoNode.h"

#include <QCoreApplication>
#include <QFile>
#include <QMap>
#include <QTcpSocket>

#include <cstdio>

EchoNode::EchoNode() : QObject(nullptr) {}

bool EchoNode::start()
{
    QFile cfg(QStringLiteral("config.cfg"));
    if (!cfg.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "echonode: no config.cfg\n");
        return false;
    }
    QMap<QByteArray, QByteArray> config;
    for (const QByteArray& line : cfg.readAll().split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 2 && !words.at(0).startsWith('#'))
            config.insert(words.at(0).toUpper(), words.at(1));
    }
    nodeName = config.value("NAME_ON_STARS");
    QFile keyFile(QString::fromLatin1(config.value("KEY_FILE_NAME") + ".key"));
    if (nodeName.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "echonode: no node name or key file\n");
        return false;
    }
    keys = keyFile.readAll().simplified().split(' ');

    socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::connected, this,
            [this] { socket->setSocketOption(QAbstractSocket::LowDelayOption, 1); });
    connect(socket, &QTcpSocket::readyRead, this, &EchoNode::readLines);
    connect(socket, &QTcpSocket::disconnected, qApp, &QCoreApplication::quit);
    connect(socket, &QAbstractSocket::errorOccurred, qApp, &QCoreApplication::quit);
    socket->connectToHost(QString::fromLatin1(config.value("STARS_IP")), quint16(config.value("STARS_PORT").toUInt()));
    return true;
}

void EchoNode::readLines()
{
    while (socket->bytesAvailable() > 0) {
        reader.append(socket->readAll());
        while (reader.hasLine())
            answer(reader.takeLine());
    }
}

void EchoNode::answer(const QByteArray& line)
{
    switch (state) {
    case WaitKeyNumber: {
        const int number = line.trimmed().toInt();
        socket->write(nodeName + ' ' + keys.value(number % keys.size()) + '\n');
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
