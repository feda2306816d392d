#pragma once

#include "ServerOptions.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QTcpServer>

class NodeConnection;

// The STARS server proper: accepts connections, logs nodes in against their
// key files and routes each line to the node named after the '>'. Lines to the
// node "System" are commands to the server itself.
class TestServer : public QObject
{
    Q_OBJECT
public:
    explicit TestServer(const ServerOptions& options, QObject* parent = nullptr);
    ~TestServer() override;

    bool listen();
    QString errorString() const { return server.errorString(); }
    QHostAddress address() const { return server.serverAddress(); }
    quint16 port() const { return server.serverPort(); }

private:
    void acceptConnections();
    void handleLine(NodeConnection* connection, const QByteArray& line);
    void handleLogin(NodeConnection* connection, const QByteArray& line);
    void route(NodeConnection* connection, QByteArray line);
    void handleSystemCommand(NodeConnection* connection, const QByteArray& from, const QByteArray& line,
                             const QByteArray& text);
    void forwardEvent(NodeConnection* source, const QByteArray& line);
    bool keyMatches(const QByteArray& node, int keyNumber, const QByteArray& key) const;
    bool hostAllowed(const QByteArray& node, const QHostAddress& peer) const;
    void forget(NodeConnection* connection);

    ServerOptions settings;
    QTcpServer server;
    QList<NodeConnection*> loggedIn;                       // in log-in order
    QHash<QByteArray, NodeConnection*> nodes;              // node name -> connection
    QHash<QByteArray, QList<QByteArray>> eventSubscribers; // node -> who gets its events
};
