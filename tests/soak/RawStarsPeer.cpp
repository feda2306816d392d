#include "RawStarsPeer.h"
#include "KeyFile.h"

#include <QHostAddress>
#include <QTcpSocket>

RawStarsPeer::RawStarsPeer(QObject* parent) : QObject(parent)
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

void RawStarsPeer::acceptConnection()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        if (peerSocket) {
            // One node only: a second connection is a fault of the test.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        peerSocket = socket;
        peerSocket->setParent(this);
        connect(peerSocket, &QTcpSocket::readyRead, this, &RawStarsPeer::readAvailable);
        peerSocket->write(QByteArray::number(KeyNumber) + '\n');
    }
}

void RawStarsPeer::readAvailable()
{
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
            continue;
        }
        emit lineReceived(line);
    }
}
