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

    QByteArray name() const { return nodeName; }
    void setName(const QByteArray& name) { nodeName = name; }
    bool isLoggedIn() const { return !nodeName.isEmpty(); }

    // The key number sent on connect; the log-in line must answer it.
    int keyNumber() const { return challenge; }
    void sendKeyNumber(int number);

    QHostAddress peerAddress() const;

    // Node name, or the peer address before the log-in; used in traces.
    QByteArray label() const;

    // Sends one line (a "\n" is appended) in a single write.
    void sendLine(const QByteArray& line);

    // Closes after the pending output is written; no more lines are handed on.
    void close();
    bool isClosing() const { return closing; }

    void trace(const QByteArray& text) const;

signals:
    void lineReceived(NodeConnection* connection, const QByteArray& line);
    void closed(NodeConnection* connection);

private:
    void readAvailable();

    QTcpSocket* peerSocket;
    bool traceLines;
    QByteArray nodeName;
    QByteArray peer;
    LineReader reader{MaxLineLength + 1}; // the line feed comes on top
    qint64 discarded = 0;                 // bytes of an over-long line thrown away so far
    bool discarding = false;
    bool closing = false;
    bool closedEmitted = false;
    int challenge = 0;
};
