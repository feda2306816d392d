#include "BusLink.h"
#include "KeyFile.h"

#include "Clock.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

BusLink::BusLink(int socketFd) : fd(socketFd) {}

BusLink::~BusLink()
{
    if (fd >= 0)
        ::close(fd);
}

bool BusLink::logIn(const QString& node, const QStringList& keys, int keyNumber, std::int64_t* keyLineNs, int timeoutMs,
                    QString* why)
{
    if (!send(QByteArray::number(keyNumber) + '\n')) {
        *why = QStringLiteral("cannot send the key number");
        return false;
    }
    QByteArray line;
    if (!waitLine(line, timeoutMs)) {
        *why = QStringLiteral("no key line from the node");
        return false;
    }
    if (keyLineNs)
        *keyLineNs = nowNs();
    QString key;
    if (!chooseKey(keys, keyNumber, key, *why))
        return false;
    const QByteArray expected = node.toLatin1() + ' ' + key.toLatin1();
    if (line.trimmed() != expected) {
        *why = QStringLiteral("wrong key line \"%1\"").arg(QString::fromLatin1(line));
        return false;
    }
    return send("System>" + node.toLatin1() + " Ok:\n");
}

bool BusLink::send(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        closed = true;
        return false;
    }
    return true;
}

int BusLink::receive(std::int64_t timeoutNs)
{
    if (closed)
        return -1;
    pollfd p{fd, POLLIN, 0};
    timespec wait{time_t(timeoutNs / 1000000000), long(timeoutNs % 1000000000)};
    int ready;
    do {
        ready = ::ppoll(&p, 1, timeoutNs < 0 ? nullptr : &wait, nullptr);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return 0;

    // Straight into the line buffer: no copy on the hot path.
    constexpr int Room = 1 << 20;
    int total = 0;
    for (;;) {
        const ssize_t n = ::recv(fd, reader.reserve(Room), Room, 0);
        reader.appendReserved(n > 0 ? int(n) : 0);
        if (n > 0) {
            total += int(n);
            if (n < Room)
                break; // took all there was
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        closed = true;
        return total > 0 ? total : -1;
    }
    return total;
}

bool BusLink::nextLine(const char*& begin, int& size)
{
    if (!reader.nextLine(begin, size))
        return false;
    if (size > 0 && begin[size - 1] == '\n')
        --size;
    return true;
}

bool BusLink::waitLine(QByteArray& line, int timeoutMs)
{
    const std::int64_t deadline = nowNs() + std::int64_t(timeoutMs) * 1000000;
    const char* begin;
    int size;
    while (!nextLine(begin, size)) {
        const std::int64_t left = deadline - nowNs();
        if (left <= 0 || receive(left) < 0)
            return false;
    }
    line = QByteArray(begin, size);
    return true;
}
