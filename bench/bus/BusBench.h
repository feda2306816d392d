#pragma once

#include "Latencies.h"

#include <QByteArray>
#include <QVector>

#include <cstdint>

class NodeUnderTest;

// Request patterns on one logged-in node. Every request is an information
// command the node answers from memory (GetBin, GetExpTime ...), so the
// figures are the bus path alone: line cutting, parsing, dispatch, reply.
class BusBench
{
public:
    explicit BusBench(NodeUnderTest& node);

    struct Throughput
    {
        double perSecond = 0.0;
        Latencies latency;
        int badReplies = 0;
        bool complete = false;
    };
    // count requests, at most window of them unanswered at any time.
    Throughput pipelined(int count, int window);

    // One request at a time, each sent when the previous reply is in.
    // Empty latencies when a reply did not come.
    Latencies serial(int count);

    // Requests at a fixed rate (per second) for the given time, whatever
    // the replies do; the latencies of those sent after warmUpMs.
    Latencies fixedRate(int perSecond, int durationMs, int warmUpMs);

    // "Exposure" with SetImages 0: the node writes the busy event and then
    // the reply, back to back. Request-to-reply times over rounds, waiting
    // for "_ChangedIsBusy 0" between rounds. misordered counts replies that
    // came before their event. Each round ends with one plain information
    // request, timed into plain: the round trip the exchange is held
    // against, taken with the node in the same state (just after its event).
    Latencies exposureExchange(int rounds, int* misordered, Latencies* plain);

private:
    const QByteArray& nextRequest();

    NodeUnderTest& node;
    QVector<QByteArray> requests;
    int requestIndex = 0;
    QByteArray replyPrefix;
};
