#include "BusNode.h"
#include "KeyFile.h"

#include "TestWait.h"

#include <QDebug>

BusNode::BusNode(QObject* parent) : QObject(parent)
{
    connect(&socket, &QTcpSocket::readyRead, this, &BusNode::readAvailable);
}

bool BusNode::connectTo(quint16 port, int timeoutMs)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return TestWait::until(
               [this] {
                   return socket.state() == QAbstractSocket::ConnectedState
                          || socket.state() == QAbstractSocket::UnconnectedState;
               },
               timeoutMs)
           && socket.state() == QAbstractSocket::ConnectedState;
}

bool BusNode::login(quint16 port, const QString& node, const QStringList& keys, int timeoutMs)
{
    if (keys.isEmpty())
        return false;
    if (!connectTo(port, timeoutMs)) {
        qWarning() << "cannot connect to port" << port << socket.errorString();
        return false;
    }
    bool numberOk = false;
    const int number = nextLine(timeoutMs).toInt(&numberOk);
    QString key;
    QString why;
    if (!numberOk || !chooseKey(keys, number, key, why)) {
        qWarning() << "no key for the server's key number:" << why;
        return false;
    }
    send(node + QLatin1Char(' ') + key);
    logInVerdict = nextLine(timeoutMs);
    if (logInVerdict.section(QLatin1Char(' '), 1, 1) != QLatin1String("Ok:")) {
        qWarning() << "log-in as" << node << "refused:" << logInVerdict;
        return false;
    }
    nodeName = node;
    return true;
}

bool BusNode::isConnected() const
{
    return socket.state() == QAbstractSocket::ConnectedState;
}

bool BusNode::waitForDisconnected(int timeoutMs)
{
    return TestWait::until([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeoutMs);
}

void BusNode::close()
{
    socket.disconnectFromHost();
}

void BusNode::send(const QString& line)
{
    QByteArray bytes = line.toUtf8();
    if (!bytes.endsWith('\n'))
        bytes += '\n';
    sendRaw(bytes);
}

void BusNode::sendRaw(const QByteArray& bytes)
{
    socket.write(bytes);
    socket.flush();
}

QString BusNode::nextLine(int timeoutMs)
{
    return waitForLine([](const QString&) { return true; }, timeoutMs);
}

QString BusNode::waitForLine(const LinePredicate& accept, int timeoutMs)
{
    QString found;
    TestWait::until(
        [&] {
            for (int i = 0; i < queue.size(); ++i) {
                if (accept(queue.at(i))) {
                    found = queue.takeAt(i);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

QString BusNode::request(const QString& to, const QString& command, int timeoutMs)
{
    send(nodeName + QLatin1Char('>') + to + QLatin1Char(' ') + command);
    const QString reply = QLatin1Char('@') + command.section(QLatin1Char(' '), 0, 0);
    const QString toNode = to.section(QLatin1Char('.'), 0, 0);
    return waitForLine(
        [&](const QString& line) {
            const QString from = senderOf(line).section(QLatin1Char('.'), 0, 0);
            return commandOf(line) == reply && (from == toNode || from == QLatin1String("System"));
        },
        timeoutMs);
}

bool BusNode::syncWithServer(int timeoutMs)
{
    // A command to a node nobody uses comes back from the server as
    // "System>me @SyncN Er: ... is down.", a line no test sends or expects.
    static int count = 0;
    const QString token = QStringLiteral("Sync%1").arg(++count);
    send(nodeName + QStringLiteral(">sync-point ") + token);
    const QString reply = QStringLiteral("System>%1 @%2 ").arg(nodeName, token);
    return !waitForLine([&](const QString& line) { return line.startsWith(reply); }, timeoutMs).isNull();
}

bool BusNode::receivesNothing(int ms)
{
    return !TestWait::until([this] { return !queue.isEmpty(); }, ms);
}

QString BusNode::senderOf(const QString& line)
{
    return line.section(QLatin1Char(' '), 0, 0).section(QLatin1Char('>'), 0, 0);
}

QString BusNode::textOf(const QString& line)
{
    return line.section(QLatin1Char(' '), 1);
}

QString BusNode::commandOf(const QString& line)
{
    return line.section(QLatin1Char(' '), 1, 1);
}

void BusNode::readAvailable()
{
    reader.append(socket.readAll());
    while (reader.hasLine()) {
        const QString text = QString::fromLatin1(LineReader::withoutLineEnd(reader.takeLine()));
        queue.enqueue(text);
        emit lineReceived(text);
    }
}
