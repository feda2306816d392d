#include "InterruptWatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

} // namespace

int InterruptWatcher::s_fds[2] = {-1, -1};

InterruptWatcher::InterruptWatcher(QObject* parent) : QObject(parent)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_fds) != 0)
        return;
    m_notifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &InterruptWatcher::readSignal);

    struct sigaction action = {};
    action.sa_handler = &InterruptWatcher::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : WatchedSignals)
        ::sigaction(signalNumber, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher()
{
    for (int signalNumber : WatchedSignals)
        ::signal(signalNumber, SIG_DFL);
    delete m_notifier;
    for (int& fd : s_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void InterruptWatcher::handle(int signalNumber)
{
    const char byte = char(signalNumber);
    if (::write(s_fds[0], &byte, 1) < 0) {
        // Nothing useful can be done inside a signal handler.
    }
}

void InterruptWatcher::readSignal()
{
    char byte = 0;
    if (::read(s_fds[1], &byte, 1) != 1)
        return;
    if (byte == SIGINT)
        emit interrupted();
    else
        emit terminationRequested();
}
