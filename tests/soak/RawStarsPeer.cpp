#include "RawStarsPeer.h"
#include "KeyFile.h"

#include <QHostAddress>
#include <QTcpSocket>

RawStarsPeer::RawStarsPeer(QObject* parent) : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &RawStarsPeer::acceptConnection);
}

bool RawStarsPeer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void RawStarsPeer::expectLogin(const QString& node, const QStringList& keys)
{
    QString key;
    QString why;
    chooseKey(keys, KeyNumber, key, why); // no key: the log-in line ends in the blank
    m_expectedLogin = (node + QLatin1Char(' ') + key).toLatin1();
}

bool RawStarsPeer::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void RawStarsPeer::write(const QByteArray& bytes)
{
    if (!isConnected())
        return;
    m_socket->write(bytes);
    m_socket->flush();
}

qint64 RawStarsPeer::bytesToWrite() const
{
    return m_socket ? m_socket->bytesToWrite() : 0;
}

void RawStarsPeer::acceptConnection()
{
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        if (m_socket) {
            // One node only: a second connection is a fault of the test.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        m_socket = socket;
        m_socket->setParent(this);
        connect(m_socket, &QTcpSocket::readyRead, this, &RawStarsPeer::readAvailable);
        m_socket->write(QByteArray::number(KeyNumber) + '\n');
    }
}

void RawStarsPeer::readAvailable()
{
    m_reader.append(m_socket->readAll());
    while (m_reader.hasLine()) {
        QByteArray line = m_reader.takeLine();
        if (line.endsWith('\n'))
            line.chop(1); // a CR before it is the service's own
        if (!m_loggedIn) {
            m_loginLine = line;
            if (line != m_expectedLogin) {
                m_socket->disconnectFromHost();
                break;
            }
            m_loggedIn = true;
            m_socket->write("System>" + line.left(line.indexOf(' ')) + " Ok:\n");
            continue;
        }
        emit lineReceived(line);
    }
}
