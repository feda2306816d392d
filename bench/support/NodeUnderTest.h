#pragma once

#include "BenchServer.h"
#include "BusLink.h"
#include "NodeProcess.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

// One node logged in to a benchmark server: the server, the node's process
// and the link. Requests go out as "term1>cam1 <command>"; the events the
// node sends in between are kept for waitEvent().
class NodeUnderTest
{
public:
    NodeUnderTest(const QString& program, const QString& workRoot);
    // Closes the connection first: the node then ends by itself, as it does
    // when its server goes away (and a profiler around it can write its data).
    ~NodeUnderTest();

    NodeProcess& process() { return nodeProcess; }
    BusLink& link() { return *bus; }

    // Starts the node and runs the log-in; why says what failed.
    bool start(QString* why, int timeoutMs = 15000);
    // When the node's key line arrived (same clock as its startedAtNs()).
    std::int64_t keyLineAtNs() const { return keyLineNs; }

    // "term1>cam1 <command>" as sent to the node.
    QByteArray requestLine(const QByteArray& command) const;
    // Sends the command and returns its reply line ("cam1>term1 @..."), or
    // an empty array after timeoutMs.
    QByteArray request(const QByteArray& command, int timeoutMs = 10000);
    // Waits for an event line ending in text ("_ChangedIsBusy 0"), also one
    // that came before; false after timeoutMs.
    bool waitEvent(const QByteArray& text, int timeoutMs = 10000);
    // Forgets the events seen so far.
    void clearEvents() { events.clear(); }

    // Reads lines until one starting with prefix arrives and returns it;
    // events on the way are kept. Empty after timeoutMs.
    QByteArray waitReply(const QByteArray& prefix, int timeoutMs = 10000);

private:
    BenchServer server;
    NodeProcess nodeProcess;
    std::unique_ptr<BusLink> bus;
    std::int64_t keyLineNs = 0;
    QList<QByteArray> events;
};
