#pragma once

#include "LineReader.h"

#include <QByteArray>
#include <QObject>

class QHostAddress;
class QTcpSocket;

// One client connection: the socket, the bytes received so far and the node
// name once the client has logged in. Cuts the byte stream into lines; a line
// is handed on without its "\n" (and without a CR before it).
class NodeConnection : public QObject
{
    Q_OBJECT
public:
    // A peer that sends this much without an end of line loses the text, so
    // it cannot make the server's buffer grow without bound.
    static constexpr int MaxLineLength = 64 * 1024;

    NodeConnection(QTcpSocket* socket, bool verbose, QObject* parent = nullptr);
    ~NodeConnection() override;

    QByteArray name() const { return m_name; }
    void setName(const QByteArray& name) { m_name = name; }
    bool isLoggedIn() const { return !m_name.isEmpty(); }

    // The key number sent on connect; the log-in line must answer it.
    int keyNumber() const { return m_keyNumber; }
    void sendKeyNumber(int number);

    QHostAddress peerAddress() const;

    // Node name, or the peer address before the log-in; used in traces.
    QByteArray label() const;

    // Sends one line (a "\n" is appended) in a single write.
    void sendLine(const QByteArray& line);

    // Closes after the pending output is written; no more lines are handed on.
    void close();
    bool isClosing() const { return m_closing; }

    void trace(const QByteArray& text) const;

signals:
    void lineReceived(NodeConnection* connection, const QByteArray& line);
    void closed(NodeConnection* connection);

private:
    void readAvailable();

    QTcpSocket* m_socket;
    bool m_verbose;
    QByteArray m_name;
    QByteArray m_peer;
    LineReader m_reader{MaxLineLength + 1}; // the line feed comes on top
    qint64 m_discarded = 0;                 // bytes of an over-long line thrown away so far
    bool m_discarding = false;
    bool m_closing = false;
    bool m_closedEmitted = false;
    int m_keyNumber = 0;
};
