#include "SignalPipe.h"

#include <QDebug>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

int pipeEnds[2] = {-1, -1}; // [0] written by the handler, [1] read by the loop

} // namespace

SignalPipe::SignalPipe(const QList<int>& signalNumbers, QObject* parent) : QObject(parent), watched(signalNumbers)
{
    if (pipeEnds[0] >= 0) {
        qDebug() << "Signals are already watched in this process";
        return;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pipeEnds) != 0) {
        qDebug() << "Cannot watch for signals:" << std::strerror(errno);
        pipeEnds[0] = pipeEnds[1] = -1;
        return;
    }
    notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalPipe::readSignals);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = &SignalPipe::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int s : qAsConst(watched)) {
        if (::sigaction(s, &action, nullptr) != 0)
            qDebug() << "Cannot handle signal" << s << ":" << std::strerror(errno);
    }
}

SignalPipe::~SignalPipe()
{
    if (!notifier)
        return;
    for (const int s : qAsConst(watched))
        std::signal(s, SIG_DFL);
    delete notifier;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void SignalPipe::handler(int signalNumber)
{
    // Only async-signal-safe work here: one byte into the pipe. The
    // interrupted code may be about to read errno, so it is put back.
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    if (::write(pipeEnds[0], &byte, 1) < 0) {
        // The pipe is full of earlier signals: one more would say nothing new.
    }
    errno = savedErrno;
}

void SignalPipe::readSignals()
{
    char bytes[16];
    ssize_t got;
    while ((got = ::read(pipeEnds[1], bytes, sizeof(bytes))) > 0) {
        for (ssize_t i = 0; i < got; ++i)
            emit arrived(int(bytes[i]));
    }
}
