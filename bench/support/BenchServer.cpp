#include "BenchServer.h"

#include <QHostAddress>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

BenchServer::BenchServer(QObject* parent) : QTcpServer(parent) {}

bool BenchServer::listenLoopback()
{
    return listen(QHostAddress::LocalHost, 0);
}

int BenchServer::acceptDescriptor(int timeoutMs)
{
    if (accepted.isEmpty())
        waitForNewConnection(timeoutMs);
    if (accepted.isEmpty())
        return -1;
    const int fd = int(accepted.takeFirst());
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Requests leave one by one in the serial figures: never hold them back.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void BenchServer::incomingConnection(qintptr handle)
{
    accepted.append(handle);
}
