#pragma once

#include <QString>
#include <QStringList>

// The command line of one starsctl run.
struct CtlOptions
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 6057;
    QString node = QStringLiteral("term1");
    QString keyFile; // empty: <node>.key in the current directory
    QString to = QStringLiteral("cam1");
    bool subscribe = false;
    int timeoutSeconds = 10;
    bool quiet = false;
    QStringList steps; // empty: steps come from standard input
    // A prompt instead of steps: every line read is sent at once, replies and
    // events are printed as they come, lines starting with ':' are local.
    bool interactive = false;
    QString historyFile; // interactive: the lines typed are kept here; empty: nowhere
};
