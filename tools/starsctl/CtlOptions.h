#pragma once

#include <QString>
#include <QStringList>

// The command line of one starsctl run.
struct CtlOptions {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 6057;
    QString node = QStringLiteral("term1");
    QString keyFile;   // empty: <node>.key in the current directory
    QString to = QStringLiteral("cam1");
    bool subscribe = false;
    int timeoutSeconds = 10;
    bool quiet = false;
    QStringList steps; // empty: steps come from standard input
};
