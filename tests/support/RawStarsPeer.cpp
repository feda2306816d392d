#include "RawStarsPeer.h"
#include "KeyFile.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {
// Room for the log-in line and little more: a peer that stops reading leaves
// what the node writes in the node's own buffers.
constexpr qint64 StalledReadBufferBytes = 64;
} // namespace

RawStarsPeer::RawStarsPeer(Conduct conduct, QObject* parent) : QObject(parent), conductKind(conduct)
{
    connect(&server, &QTcpServer::newConnection, this, &RawStarsPeer::acceptConnection);
}

bool RawStarsPeer::listen()
{
    return server.listen(QHostAddress::LocalHost, 0);
}

void RawStarsPeer::expectLogin(const QString& node, const QStringList& keys)
{
    QString key;
    QString why;
    chooseKey(keys, KeyNumber, key, why); // no key: the log-in line ends in the blank
    expectedLogin = (node + QLatin1Char(' ') + key).toLatin1();
}

bool RawStarsPeer::isConnected() const
{
    return peerSocket && peerSocket->state() == QAbstractSocket::ConnectedState;
}

void RawStarsPeer::write(const QByteArray& bytes)
{
    if (!isConnected())
        return;
    peerSocket->write(bytes);
    peerSocket->flush();
}

qint64 RawStarsPeer::bytesToWrite() const
{
    return peerSocket ? peerSocket->bytesToWrite() : 0;
}

void RawStarsPeer::abort()
{
    if (peerSocket)
        peerSocket->abort();
}

void RawStarsPeer::acceptConnection()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        ++connections;
        if (conductKind == Conduct::CloseAtOnce) {
            socket->close();
            socket->deleteLater();
            continue;
        }
        if (peerSocket) {
            // One node only: a second connection is a fault of the test.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        peerSocket = socket;
        peerSocket->setParent(this);
        if (conductKind == Conduct::StallAfterLogIn)
            peerSocket->setReadBufferSize(StalledReadBufferBytes);
        connect(peerSocket, &QTcpSocket::readyRead, this, &RawStarsPeer::readAvailable);
        peerSocket->write(QByteArray::number(KeyNumber) + '\n');
    }
}

void RawStarsPeer::readAvailable()
{
    if (loggedIn && conductKind == Conduct::StallAfterLogIn)
        return;
    reader.append(peerSocket->readAll());
    while (reader.hasLine()) {
        QByteArray line = reader.takeLine();
        if (line.endsWith('\n'))
            line.chop(1); // a CR before it is the service's own
        if (!loggedIn) {
            login = line;
            if (line != expectedLogin) {
                peerSocket->disconnectFromHost();
                break;
            }
            loggedIn = true;
            peerSocket->write("System>" + line.left(line.indexOf(' ')) + " Ok:\n");
            emit loggedInNode();
            if (conductKind == Conduct::StallAfterLogIn)
                break;
            continue;
        }
        emit lineReceived(line);
    }
}
