#pragma once

#include "LineReader.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>

// The server's side of one node connection, on a non-blocking descriptor:
// log-in, sending, and cutting what arrives into lines.
class BusLink
{
public:
    explicit BusLink(int socketFd); // takes the descriptor over
    ~BusLink();
    BusLink(const BusLink&) = delete;
    BusLink& operator=(const BusLink&) = delete;

    // The log-in as a STARS server runs it: sends keyNumber, reads the
    // node's "name key" line (its arrival time goes to keyLineNs), checks it
    // against keys and sends the verdict "System>name Ok:".
    bool logIn(const QString& node, const QStringList& keys, int keyNumber, std::int64_t* keyLineNs, int timeoutMs,
               QString* why);

    // Sends all of it (waiting while the socket buffer is full).
    bool send(const char* data, std::size_t size);
    bool send(const QByteArray& bytes) { return send(bytes.constData(), std::size_t(bytes.size())); }

    // Waits up to timeoutNs for bytes and reads what is there: the number of
    // bytes read, 0 when none came in time, -1 when the node closed.
    int receive(std::int64_t timeoutNs);

    // The next complete line without its line feed, as a view into the
    // buffer that stays valid until the next receive().
    bool nextLine(const char*& begin, int& size);

    // The next line, receiving as needed; false after timeoutMs or on close.
    bool waitLine(QByteArray& line, int timeoutMs);

    bool isClosed() const { return closed; }

private:
    int fd = -1;
    LineReader reader{LineReader::ObserverMaxLineBytes};
    bool closed = false;
};
