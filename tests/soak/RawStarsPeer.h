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
// or a 100 KB line in front of the service.
class RawStarsPeer : public QObject
{
    Q_OBJECT
public:
    static constexpr int KeyNumber = 3;

    explicit RawStarsPeer(QObject* parent = nullptr);

    // Listens on a loopback port the system picks.
    bool listen();
    quint16 port() const { return server.serverPort(); }

    // The node must answer KeyNumber with "<node> <keys[KeyNumber % n]>".
    void expectLogin(const QString& node, const QStringList& keys);
    bool isLoggedIn() const { return loggedIn; }
    // The log-in line as received, or empty.
    QByteArray loginLine() const { return login; }
    bool isConnected() const;

    // One write of exactly these bytes.
    void write(const QByteArray& bytes);
    qint64 bytesToWrite() const;

signals:
    // Every line the node sends after its log-in, without the line feed.
    void lineReceived(const QByteArray& line);

private:
    void acceptConnection();
    void readAvailable();

    QTcpServer server;
    QTcpSocket* peerSocket = nullptr;
    LineReader reader{LineReader::ObserverMaxLineBytes};
    QByteArray expectedLogin;
    QByteArray login;
    bool loggedIn = false;
};
