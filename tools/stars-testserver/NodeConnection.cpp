#include "NodeConnection.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <cstdio>

NodeConnection::NodeConnection(QTcpSocket* socket, bool verbose, QObject* parent)
    : QObject(parent), peerSocket(socket), traceLines(verbose)
{
    peerSocket->setParent(this);
    peer = peerSocket->peerAddress().toString().toLatin1() + ':' + QByteArray::number(peerSocket->peerPort());
    connect(peerSocket, &QTcpSocket::readyRead, this, &NodeConnection::readAvailable);
    connect(peerSocket, &QTcpSocket::disconnected, this, [this] {
        closing = true;
        if (!closedEmitted) {
            closedEmitted = true;
            emit closed(this);
        }
    });
}

NodeConnection::~NodeConnection()
{
    // The socket goes down with us; its last signals must not reach a half-destroyed object.
    peerSocket->disconnect(this);
}

QHostAddress NodeConnection::peerAddress() const
{
    return peerSocket->peerAddress();
}

QByteArray NodeConnection::label() const
{
    return nodeName.isEmpty() ? peer : nodeName;
}

void NodeConnection::sendKeyNumber(int number)
{
    challenge = number;
    sendLine(QByteArray::number(number));
}

void NodeConnection::sendLine(const QByteArray& line)
{
    if (peerSocket->state() != QAbstractSocket::ConnectedState)
        return;
    trace("-> " + label() + ": " + line);
    peerSocket->write(line + '\n');
}

void NodeConnection::close()
{
    if (closing)
        return;
    closing = true;
    trace("closing " + label());
    peerSocket->disconnectFromHost();
}

void NodeConnection::trace(const QByteArray& text) const
{
    if (!traceLines)
        return;
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void NodeConnection::readAvailable()
{
    reader.append(peerSocket->readAll());
    while (!closing && reader.hasLine()) {
        const QByteArray line = reader.takeLine();
        if (!line.endsWith('\n')) {
            // A piece of an over-long line: keep only the fact that we are inside one.
            if (!discarding)
                trace(label() + ": line longer than " + QByteArray::number(MaxLineLength) + " bytes, discarding it");
            discarding = true;
            discarded += line.size();
        } else if (discarding) {
            trace(label() + ": discarded a line of " + QByteArray::number(discarded + line.size() - 1) + " bytes");
            discarding = false;
            discarded = 0;
        } else {
            const QByteArray text = LineReader::withoutLineEnd(line);
            trace(label() + " -> " + text);
            emit lineReceived(this, text);
        }
    }
}
