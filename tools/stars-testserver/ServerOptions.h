#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QString>

// What the command line chooses for one server run.
struct ServerOptions
{
    QHostAddress host{QHostAddress::LocalHost};
    quint16 port = 6057;
    QString keyDir = QStringLiteral(".");
    bool verbose = false;
    // Nodes that may log in only from these addresses; a node not listed may
    // log in from anywhere.
    QHash<QByteArray, QList<QHostAddress>> allowedHosts;

    // Fault switches, so tests can see how a node copes with a broken server.
    bool noVerdict = false;     // check the key and register, but never answer it
    bool doubleVerdict = false; // send the verdict line twice
    bool dropAfterKey = false;  // close the connection as soon as the key line arrives
    // Refuse every connection before the key number, as a server whose host
    // list lacks the client: "Bad host. <address>", then close.
    bool refuseHosts = false;
};
