#include "BusBench.h"

#include "Clock.h"
#include "NodeUnderTest.h"

#include <algorithm>
#include <deque>

namespace {

// Answered from the node's settings, without a camera call.
const char* const InformationCommands[] = {"GetBin", "GetExpTime",    "GetImages",  "GetInterval",   "GetFileName",
                                           "IsBusy", "GetRBIFlushes", "GetTDIRate", "GetRBIExpTime", "GetSeqFileNo"};

constexpr int ReplyTimeoutMs = 10000;

} // namespace

BusBench::BusBench(NodeUnderTest& nodeUnderTest) : node(nodeUnderTest)
{
    for (const char* command : InformationCommands)
        requests.append(node.requestLine(command));
    replyPrefix = node.process().nodeName().toLatin1() + ">term1 @";
}

const QByteArray& BusBench::nextRequest()
{
    const QByteArray& line = requests.at(requestIndex);
    requestIndex = (requestIndex + 1) % requests.size();
    return line;
}

BusBench::Throughput BusBench::pipelined(int count, int window)
{
    Throughput result;
    result.latency.reserve(std::size_t(count));
    BusLink& link = node.link();
    std::vector<std::int64_t> sentAt(static_cast<std::size_t>(count));
    QByteArray batch;

    int sent = 0;
    int received = 0;
    const std::int64_t start = nowNs();
    const int first = std::min(window, count);
    for (; sent < first; ++sent)
        batch += nextRequest();
    std::fill(sentAt.begin(), sentAt.begin() + first, nowNs());
    link.send(batch);

    while (received < count) {
        if (link.receive(std::int64_t(ReplyTimeoutMs) * 1000000) <= 0)
            return result;
        batch.clear();
        const char* line;
        int size;
        const int firstNew = sent;
        while (link.nextLine(line, size)) {
            const std::int64_t t = nowNs();
            if (size < replyPrefix.size() || !std::equal(replyPrefix.begin(), replyPrefix.end(), line))
                ++result.badReplies;
            result.latency.add(t - sentAt[std::size_t(received)]);
            ++received;
            if (sent < count) {
                batch += nextRequest();
                ++sent;
            }
        }
        if (!batch.isEmpty()) {
            const std::int64_t t = nowNs();
            std::fill(sentAt.begin() + firstNew, sentAt.begin() + sent, t);
            link.send(batch);
        }
    }
    result.perSecond = double(count) / (double(nowNs() - start) / 1e9);
    result.complete = true;
    return result;
}

Latencies BusBench::serial(int count)
{
    Latencies latency;
    latency.reserve(std::size_t(count));
    BusLink& link = node.link();
    for (int i = 0; i < count; ++i) {
        const QByteArray& request = nextRequest();
        const std::int64_t t0 = nowNs();
        link.send(request);
        const char* line;
        int size;
        while (!link.nextLine(line, size)) {
            if (link.receive(std::int64_t(ReplyTimeoutMs) * 1000000) <= 0)
                return Latencies();
        }
        latency.add(nowNs() - t0);
    }
    return latency;
}

Latencies BusBench::fixedRate(int perSecond, int durationMs, int warmUpMs)
{
    Latencies latency;
    BusLink& link = node.link();
    const std::int64_t period = 1000000000LL / perSecond;
    const std::int64_t start = nowNs();
    const std::int64_t measureFrom = start + std::int64_t(warmUpMs) * 1000000;
    const std::int64_t end = measureFrom + std::int64_t(durationMs) * 1000000;
    std::deque<std::int64_t> outstanding; // send times; replies come in order
    std::int64_t due = start;
    int lost = 0;

    while (due < end || !outstanding.empty()) {
        std::int64_t now = nowNs();
        if (due < end && now >= due) {
            link.send(nextRequest());
            outstanding.push_back(nowNs());
            due += period;
            continue;
        }
        const std::int64_t wait = due < end ? due - now : std::int64_t(ReplyTimeoutMs) * 1000000;
        const int got = link.receive(wait);
        if (got < 0 || (got == 0 && due >= end)) {
            lost = int(outstanding.size());
            break;
        }
        const char* line;
        int size;
        while (link.nextLine(line, size) && !outstanding.empty()) {
            const std::int64_t sentAt = outstanding.front();
            outstanding.pop_front();
            if (sentAt >= measureFrom)
                latency.add(nowNs() - sentAt);
        }
    }
    if (lost > 0)
        return Latencies();
    return latency;
}

Latencies BusBench::exposureExchange(int rounds, int* misordered, Latencies* plain)
{
    Latencies latency;
    *misordered = 0;
    if (node.request("SetImages 0").isEmpty() || node.request("SetExpTime 0").isEmpty())
        return latency;
    BusLink& link = node.link();
    const QByteArray request = node.requestLine("Exposure");
    const QByteArray reply = replyPrefix + "Exposure Ok:";
    const QByteArray busyOn = node.process().nodeName().toLatin1() + ">System _ChangedIsBusy 1";
    for (int i = 0; i < rounds; ++i) {
        node.clearEvents();
        const std::int64_t t0 = nowNs();
        link.send(request);
        bool eventSeen = false;
        QByteArray line;
        for (;;) {
            if (!link.waitLine(line, ReplyTimeoutMs))
                return Latencies();
            if (line == busyOn) {
                eventSeen = true;
                continue;
            }
            if (line.startsWith(replyPrefix))
                break;
        }
        latency.add(nowNs() - t0);
        if (line != reply)
            return Latencies();
        if (!eventSeen)
            ++*misordered;
        if (!node.waitEvent("_ChangedIsBusy 0", ReplyTimeoutMs))
            return Latencies();
        const std::int64_t p0 = nowNs();
        link.send(nextRequest());
        if (!link.waitLine(line, ReplyTimeoutMs) || !line.startsWith(replyPrefix))
            return Latencies();
        plain->add(nowNs() - p0);
    }
    return latency;
}
