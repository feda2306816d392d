#include "TestServer.h"

#include "KeyFile.h"
#include "NodeConnection.h"
#include "SMsg.h"
#include "SmallFile.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTcpSocket>

namespace {

const QByteArray SystemNode = "System";

// Node names become file names (<node>.key) and routing keys, so only plain
// words are accepted.
bool isValidNodeName(const QByteArray& name)
{
    if (name.isEmpty() || name == SystemNode)
        return false;
    for (char c : name) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!plain)
            return false;
    }
    return true;
}

QByteArray firstWord(const QByteArray& text)
{
    const int blank = text.indexOf(' ');
    return blank < 0 ? text : text.left(blank);
}

QByteArray afterFirstWord(const QByteArray& text)
{
    const int blank = text.indexOf(' ');
    return blank < 0 ? QByteArray() : text.mid(blank + 1);
}

} // namespace

TestServer::TestServer(const ServerOptions& options, QObject* parent) : QObject(parent), settings(options)
{
    connect(&server, &QTcpServer::newConnection, this, &TestServer::acceptConnections);
}

TestServer::~TestServer()
{
    for (NodeConnection* connection : findChildren<NodeConnection*>())
        connection->disconnect(this);
}

bool TestServer::listen()
{
    return server.listen(settings.host, settings.port);
}

void TestServer::acceptConnections()
{
    while (QTcpSocket* socket = server.nextPendingConnection()) {
        auto* connection = new NodeConnection(socket, settings.verbose, this);
        connect(connection, &NodeConnection::lineReceived, this, &TestServer::handleLine);
        connect(connection, &NodeConnection::closed, this, [this](NodeConnection* c) {
            c->trace(c->label() + " disconnected");
            forget(c);
            c->deleteLater();
        });
        connection->trace(connection->label() + " connected");
        if (settings.refuseHosts) {
            connection->sendLine("Bad host. " + connection->peerAddress().toString().toLatin1());
            connection->close();
            continue;
        }
        connection->sendKeyNumber(int(QRandomGenerator::global()->bounded(10000)));
    }
}

void TestServer::handleLine(NodeConnection* connection, const QByteArray& line)
{
    if (connection->isLoggedIn())
        route(connection, line);
    else
        handleLogin(connection, line);
}

void TestServer::handleLogin(NodeConnection* connection, const QByteArray& line)
{
    if (settings.dropAfterKey) {
        connection->close();
        return;
    }
    const QList<QByteArray> words = line.simplified().split(' ');
    const QByteArray node = words.value(0);
    // Refused as a STARS server refuses: the key first, so a wrong key
    // learns nothing of the host rule or of who is logged in.
    QByteArray refusal;
    if (words.size() != 2 || !isValidNodeName(node) || !keyMatches(node, connection->keyNumber(), words.value(1)))
        refusal = "Er: Bad node name or key";
    else if (!hostAllowed(node, connection->peerAddress()))
        refusal = "Er: Bad host for " + node;
    else if (nodes.contains(node))
        refusal = "Er: " + node + " already exists.";
    const bool accepted = refusal.isEmpty();
    if (accepted) {
        connection->setName(node);
        nodes.insert(node, connection);
        loggedIn.append(connection);
        connection->trace(node + " logged in");
    }
    const QByteArray verdict = "System>" + node + ' ' + (accepted ? QByteArray("Ok:") : refusal);
    if (!settings.noVerdict) {
        connection->sendLine(verdict);
        if (settings.doubleVerdict)
            connection->sendLine(verdict);
    }
    if (!accepted)
        connection->close();
}

bool TestServer::hostAllowed(const QByteArray& node, const QHostAddress& peer) const
{
    const auto allowed = settings.allowedHosts.constFind(node);
    if (allowed == settings.allowedHosts.constEnd())
        return true;
    for (const QHostAddress& host : *allowed) {
        if (host.isEqual(peer, QHostAddress::TolerantConversion))
            return true;
    }
    return false;
}

bool TestServer::keyMatches(const QByteArray& node, int keyNumber, const QByteArray& key) const
{
    // One key per line, as a STARS server reads key files: a file with all
    // its keys on one line holds one key.
    const QString path = QDir(settings.keyDir).filePath(QString::fromLatin1(node) + QStringLiteral(".key"));
    QByteArray text;
    QString reason;
    if (!readSmallFile(path, text, reason))
        return false;
    QString expected;
    return chooseKey(keyLines(text), keyNumber, expected, reason) && expected == QString::fromLatin1(key);
}

void TestServer::route(NodeConnection* connection, QByteArray line)
{
    if (line.isEmpty())
        return;
    if (!firstWord(line).contains('>'))
        line = connection->name() + '>' + line;

    QByteArray from;
    QByteArray to;
    splitAddress(firstWord(line), from, to);
    const QByteArray text = afterFirstWord(line);
    if (from.isEmpty() || to.isEmpty() || text.isEmpty()) {
        connection->sendLine("System>" + connection->name() + "> @");
        return;
    }

    const QByteArray receiver = busNode(to);
    if (receiver == SystemNode) {
        handleSystemCommand(connection, from, line, text);
        return;
    }
    if (NodeConnection* target = nodes.value(receiver)) {
        target->sendLine(line);
        return;
    }
    // Nobody waits for an answer to a reply or an event, so those just vanish.
    if (text.startsWith('@') || text.startsWith('_')) {
        connection->trace("dropped, " + receiver + " is not logged in");
        return;
    }
    connection->sendLine("System>" + from + " @" + text + " Er: " + receiver + " is down.");
}

void TestServer::handleSystemCommand(NodeConnection* connection, const QByteArray& from, const QByteArray& line,
                                     const QByteArray& text)
{
    const QByteArray command = firstWord(text);
    const QByteArray argument = afterFirstWord(text).trimmed();
    if (command.startsWith('_')) {
        forwardEvent(connection, line);
        return;
    }
    if (command.startsWith('@'))
        return;

    const QByteArray reply = "System>" + from + " @" + command + ' ';
    if (command == "listnodes") {
        QByteArrayList names;
        for (const NodeConnection* node : qAsConst(loggedIn))
            names.append(node->name());
        connection->sendLine(reply + names.join(' '));
    } else if (command == "flgon" || command == "flgoff") {
        if (argument.isEmpty() || argument.contains(' ')) {
            connection->sendLine(reply + "Er: Node name is missing or not single.");
            return;
        }
        QList<QByteArray>& subscribers = eventSubscribers[argument];
        subscribers.removeAll(connection->name());
        if (command == "flgon")
            subscribers.append(connection->name());
        connection->sendLine(reply + "Ok:");
    } else if (command == "disconnect") {
        NodeConnection* target = nodes.value(argument);
        if (!target) {
            connection->sendLine(reply + "Er: " + argument + " is down.");
            return;
        }
        connection->sendLine(reply + "Ok:");
        forget(target);
        target->close();
    } else {
        connection->sendLine(reply + "Er: Command is not found or not available.");
    }
}

void TestServer::forwardEvent(NodeConnection* source, const QByteArray& line)
{
    for (const QByteArray& subscriber : eventSubscribers.value(source->name())) {
        if (NodeConnection* target = nodes.value(subscriber))
            target->sendLine(line);
    }
}

void TestServer::forget(NodeConnection* connection)
{
    const QByteArray name = connection->name();
    if (name.isEmpty() || nodes.value(name) != connection)
        return;
    nodes.remove(name);
    loggedIn.removeAll(connection);
    // A subscription ends when its subscriber leaves; the source's list
    // stays so a restarted node is still watched.
    for (auto it = eventSubscribers.begin(); it != eventSubscribers.end(); ++it)
        it->removeAll(name);
}
