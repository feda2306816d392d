#include "StopSignals.h"

#include <QDebug>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

int pipeEnds[2] = {-1, -1}; // [0] written by the handler, [1] read by the loop
const int stopSignals[] = {SIGTERM, SIGINT, SIGHUP};

} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pipeEnds) != 0) {
        qDebug() << "Cannot watch for stop signals:" << std::strerror(errno);
        return;
    }
    notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &StopSignals::readSignals);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = &StopSignals::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : stopSignals) {
        if (::sigaction(s, &action, nullptr) != 0)
            qDebug() << "Cannot handle signal" << s << ":" << std::strerror(errno);
    }
}

StopSignals::~StopSignals()
{
    for (const int s : stopSignals)
        std::signal(s, SIG_DFL);
    if (pipeEnds[0] >= 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        pipeEnds[0] = pipeEnds[1] = -1;
    }
}

void StopSignals::handler(int signalNumber)
{
    // Only async-signal-safe work here: one byte into the pipe.
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    if (::write(pipeEnds[0], &byte, 1) < 0) {
        // The pipe is full of earlier signals: one stop is as good as many.
    }
    errno = savedErrno;
}

void StopSignals::readSignals()
{
    char bytes[16];
    ssize_t got;
    while ((got = ::read(pipeEnds[1], bytes, sizeof(bytes))) > 0) {
        for (ssize_t i = 0; i < got; ++i)
            emit stopRequested(int(bytes[i]));
    }
}
