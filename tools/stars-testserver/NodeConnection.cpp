#include "NodeConnection.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <cstdio>

NodeConnection::NodeConnection(QTcpSocket* socket, bool verbose, QObject* parent)
    : QObject(parent), m_socket(socket), m_verbose(verbose)
{
    m_socket->setParent(this);
    m_peer = m_socket->peerAddress().toString().toLatin1() + ':' + QByteArray::number(m_socket->peerPort());
    connect(m_socket, &QTcpSocket::readyRead, this, &NodeConnection::readAvailable);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        m_closing = true;
        if (!m_closedEmitted) {
            m_closedEmitted = true;
            emit closed(this);
        }
    });
}

NodeConnection::~NodeConnection()
{
    // The socket goes down with us; its last signals must not reach a half-destroyed object.
    m_socket->disconnect(this);
}

QHostAddress NodeConnection::peerAddress() const
{
    return m_socket->peerAddress();
}

QByteArray NodeConnection::label() const
{
    return m_name.isEmpty() ? m_peer : m_name;
}

void NodeConnection::sendKeyNumber(int number)
{
    m_keyNumber = number;
    sendLine(QByteArray::number(number));
}

void NodeConnection::sendLine(const QByteArray& line)
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    trace("-> " + label() + ": " + line);
    m_socket->write(line + '\n');
}

void NodeConnection::close()
{
    if (m_closing)
        return;
    m_closing = true;
    trace("closing " + label());
    m_socket->disconnectFromHost();
}

void NodeConnection::trace(const QByteArray& text) const
{
    if (!m_verbose)
        return;
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void NodeConnection::readAvailable()
{
    m_reader.append(m_socket->readAll());
    while (!m_closing && m_reader.hasLine()) {
        const QByteArray line = m_reader.takeLine();
        if (!line.endsWith('\n')) {
            // A piece of an over-long line: keep only the fact that we are inside one.
            if (!m_discarding)
                trace(label() + ": line longer than " + QByteArray::number(MaxLineLength) + " bytes, discarding it");
            m_discarding = true;
            m_discarded += line.size();
        } else if (m_discarding) {
            trace(label() + ": discarded a line of " + QByteArray::number(m_discarded + line.size() - 1) + " bytes");
            m_discarding = false;
            m_discarded = 0;
        } else {
            const QByteArray text = LineReader::withoutLineEnd(line);
            trace(label() + " -> " + text);
            emit lineReceived(this, text);
        }
    }
}
