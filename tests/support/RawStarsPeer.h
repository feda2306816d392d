#pragma once

#include "LineReader.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTcpServer>

class QTcpSocket;

// A STARS server for exactly one node, inside the test process: it logs the
// node in with a fixed key number and then passes bytes both ways untouched.
// The bus's own server trims carriage returns, routes only addressed lines
// and drops lines over 64 KiB, so only this peer can put a line without '>'
// or a 100 KB line in front of the service. It can also misbehave the ways a
// real server's connection does (see Conduct).
class RawStarsPeer : public QObject
{
    Q_OBJECT
public:
    static constexpr int KeyNumber = 3;

    // What the peer does with a connection.
    enum class Conduct {
        Serve,           // key number, log-in checked, verdict, then bytes both ways
        CloseAtOnce,     // takes the connection and closes it without a word
        StallAfterLogIn, // serves the log-in, then never reads again
    };

    explicit RawStarsPeer(Conduct conduct = Conduct::Serve, QObject* parent = nullptr);

    // Listens on a loopback port the system picks.
    bool listen();
    quint16 port() const { return server.serverPort(); }

    // The node must answer KeyNumber with "<node> <keys[KeyNumber % n]>".
    void expectLogin(const QString& node, const QStringList& keys);
    bool isLoggedIn() const { return loggedIn; }
    // The log-in line as received, or empty.
    QByteArray loginLine() const { return login; }
    bool isConnected() const;
    // Connections taken so far, the refused ones included.
    int connectionCount() const { return connections; }

    // One write of exactly these bytes.
    void write(const QByteArray& bytes);
    qint64 bytesToWrite() const;
    // Resets the connection, the way a crashing server's ends.
    void abort();

signals:
    // The verdict "Ok:" went out.
    void loggedInNode();
    // Every line the node sends after its log-in, without the line feed.
    void lineReceived(const QByteArray& line);

private:
    void acceptConnection();
    void readAvailable();

    Conduct conductKind;
    QTcpServer server;
    QTcpSocket* peerSocket = nullptr;
    LineReader reader{LineReader::ObserverMaxLineBytes};
    QByteArray expectedLogin;
    QByteArray login;
    bool loggedIn = false;
    int connections = 0;
};
