#pragma once

#include <QList>
#include <QTcpServer>

// The STARS server's listening end on loopback. Accepted connections are
// handed out as plain non-blocking descriptors: the benchmarks drive them
// with poll(2), send(2) and recv(2) so that the measuring side adds no event
// loop and no buffering of its own to what is measured.
class BenchServer : public QTcpServer
{
    Q_OBJECT

public:
    explicit BenchServer(QObject* parent = nullptr);

    // Listens on 127.0.0.1 at a port the system picks.
    bool listenLoopback();
    // The next node's descriptor, waiting up to timeoutMs; -1 if none came.
    int acceptDescriptor(int timeoutMs);

protected:
    void incomingConnection(qintptr handle) override;

private:
    QList<qintptr> accepted;
};
