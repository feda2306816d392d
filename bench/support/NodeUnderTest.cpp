#include "NodeUnderTest.h"

#include "Clock.h"

NodeUnderTest::NodeUnderTest(const QString& program, const QString& workRoot) : nodeProcess(program, workRoot) {}

NodeUnderTest::~NodeUnderTest()
{
    bus.reset();
    nodeProcess.waitForExit(10000);
}

bool NodeUnderTest::start(QString* why, int timeoutMs)
{
    if (!server.listenLoopback()) {
        *why = QStringLiteral("cannot listen: ") + server.errorString();
        return false;
    }
    if (!nodeProcess.start(server.serverPort(), why))
        return false;
    const int fd = server.acceptDescriptor(timeoutMs);
    if (fd < 0) {
        *why = QStringLiteral("the node did not connect");
        return false;
    }
    bus = std::make_unique<BusLink>(fd);
    return bus->logIn(nodeProcess.nodeName(), nodeProcess.keys(), 12345, &keyLineNs, timeoutMs, why);
}

QByteArray NodeUnderTest::requestLine(const QByteArray& command) const
{
    return "term1>" + nodeProcess.nodeName().toLatin1() + ' ' + command + '\n';
}

QByteArray NodeUnderTest::waitReply(const QByteArray& prefix, int timeoutMs)
{
    const std::int64_t deadline = nowNs() + std::int64_t(timeoutMs) * 1000000;
    const QByteArray eventPrefix = nodeProcess.nodeName().toLatin1() + ">System ";
    QByteArray line;
    for (;;) {
        const int left = int((deadline - nowNs()) / 1000000);
        if (left <= 0 || !bus->waitLine(line, left))
            return QByteArray();
        if (line.startsWith(prefix))
            return line;
        if (line.startsWith(eventPrefix))
            events.append(line);
    }
}

QByteArray NodeUnderTest::request(const QByteArray& command, int timeoutMs)
{
    if (!bus->send(requestLine(command)))
        return QByteArray();
    const QByteArray word = command.split(' ').value(0);
    return waitReply(nodeProcess.nodeName().toLatin1() + ">term1 @" + word, timeoutMs);
}

bool NodeUnderTest::waitEvent(const QByteArray& text, int timeoutMs)
{
    const std::int64_t deadline = nowNs() + std::int64_t(timeoutMs) * 1000000;
    for (;;) {
        for (int i = 0; i < events.size(); ++i) {
            if (events.at(i).endsWith(text)) {
                events.removeAt(i);
                return true;
            }
        }
        QByteArray line;
        const int left = int((deadline - nowNs()) / 1000000);
        if (left <= 0 || !bus->waitLine(line, left))
            return false;
        events.append(line);
    }
}
