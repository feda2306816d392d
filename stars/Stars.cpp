#include "Stars.h"

#include "KeyFile.h"
#include "SmallFile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTimer>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

const char* socketErrorText(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return "connection refused";
    case QAbstractSocket::RemoteHostClosedError:
        return "closed by the server";
    case QAbstractSocket::HostNotFoundError:
        return "host not found";
    case QAbstractSocket::SocketAccessError:
        return "access denied";
    case QAbstractSocket::SocketTimeoutError:
        return "timed out";
    case QAbstractSocket::NetworkError:
        return "network error";
    default:
        return "socket error";
    }
}

} // namespace

Stars::Stars() : QObject(nullptr) {}

Stars::~Stars() = default;

bool Stars::ReadStarsKeys(QString keyFileName, QString node)
{
    qDebug() << "key file names " << keyFileName << node;
    this->nodeName = node;

    QString path;
    if (!keyFileName.isEmpty()) {
        path = keyFileName + QStringLiteral(".key");
        QByteArray bytes;
        QString reason;
        if (readSmallFile(path, bytes, reason)) {
            setKeys(keyWords(bytes));
            return true;
        }
        qDebug() << "Unreadable key file" << path << reason;
        qDebug() << QStringLiteral("Cannot open [%1.key]").arg(keyFileName);
    }
    // Keys may also be built into the program as resources; none are.
    QFile resource(QStringLiteral(":") + node + QStringLiteral(".key"));
    if (!resource.open(QIODevice::ReadOnly)) {
        // The resource name means nothing to whoever has to mend it: say
        // which file on disk was wanted and how to point at another.
        if (path.isEmpty())
            qDebug().noquote() << QStringLiteral("No key file: KEY_FILE_NAME in config.cfg is empty; set it to the "
                                                 "key file's name without \".key\" (looked for in %1)")
                                      .arg(QDir::currentPath());
        else
            qDebug().noquote() << QStringLiteral("No key file: %1 cannot be read; put the node's key file there, or "
                                                 "set KEY_FILE_NAME in config.cfg to its name without \".key\"")
                                      .arg(QFileInfo(path).absoluteFilePath());
        qDebug() << QStringLiteral("Cannot open both [%1.key] and [:%2.key]").arg(keyFileName, node);
        return false;
    }
    setKeys(keyWords(resource.readAll()));
    return true;
}

void Stars::setKeys(const QStringList& words)
{
    keys = words;
    keyCount = keys.size();
}

void Stars::ConnectToServer()
{
    if (socket && socket->state() == QAbstractSocket::ConnectedState)
        return;
    if (!connectAllowed)
        return;
    connectAllowed = false;

    if (!socket) {
        // A child, so it goes with the client (a replaced one goes by deleteLater()).
        socket = new QTcpSocket(this);
        QTcpSocket* s = socket;
        connect(s, &QTcpSocket::connected, this, [this, s]() {
            // Replies and events are single short lines: send each at once
            // rather than waiting for the previous one to be acknowledged.
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            applyLiveness();
            qDebug() << "Connected to" << serverAddress << serverPort;
            reportDroppedLines();
            linesWritten = 0;
            bytesWritten = 0;
        });
        connect(s, &QAbstractSocket::errorOccurred, this, [this, s](QAbstractSocket::SocketError error) {
            qDebug() << "Stars connection:" << socketErrorText(error) << serverAddress << serverPort;
            // Not reached at all: try again later. A connection that was made
            // ends through disconnected() instead.
            if (s->state() != QAbstractSocket::ConnectedState && s->state() != QAbstractSocket::ClosingState)
                connectLater();
        });
    }
    connectState = WaitKeyNumber;
    reader.clear();
    connect(socket, &QTcpSocket::readyRead, this, &Stars::ReceiveMessageFromStars, Qt::UniqueConnection);
    connect(socket, &QTcpSocket::disconnected, this, &Stars::Disconnected, Qt::UniqueConnection);
    socket->connectToHost(serverAddress, serverPort, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

bool Stars::setLiveness(int idleS, int timeoutS)
{
    if (idleS < 1 || idleS > MaxLivenessS || timeoutS < 1 || timeoutS > MaxLivenessS)
        return false;
    keepAliveIdleS = idleS;
    userTimeoutS = timeoutS;
    return true;
}

void Stars::applyLiveness()
{
    const int fd = int(socket->socketDescriptor());
    const int on = 1;
    const int interval = KeepAliveIntervalS;
    const int probes = KeepAliveProbes;
    const unsigned int timeoutMs = unsigned(userTimeoutS) * 1000u;
    struct Option
    {
        int level;
        int name;
        const void* value;
        socklen_t size;
        const char* what;
    };
    const Option options[] = {
        {SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on), "SO_KEEPALIVE"},
        {IPPROTO_TCP, TCP_KEEPIDLE, &keepAliveIdleS, sizeof(keepAliveIdleS), "TCP_KEEPIDLE"},
        {IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof(interval), "TCP_KEEPINTVL"},
        {IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof(probes), "TCP_KEEPCNT"},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, &timeoutMs, sizeof(timeoutMs), "TCP_USER_TIMEOUT"},
    };
    for (const Option& o : options) {
        if (setsockopt(fd, o.level, o.name, o.value, o.size) != 0)
            qDebug() << "Cannot set" << o.what << "on the bus socket:" << std::strerror(errno);
    }
}

void Stars::connectLater()
{
    if (!retryTimer) {
        retryTimer = new QTimer(this);
        retryTimer->setSingleShot(true);
        connect(retryTimer, &QTimer::timeout, this, [this]() {
            dropQuietly();
            connectAllowed = true;
            ConnectToServer();
        });
    }
    if (retryTimer->isActive())
        return;
    qDebug() << "Next attempt to reach" << serverAddress << serverPort << "in" << retryDelayMs / 1000.0 << "s";
    retryTimer->start(retryDelayMs);
    retryDelayMs = qMin(retryDelayMs * 2, MaxRetryMs);
}

void Stars::dropQuietly()
{
    if (!socket)
        return;
    QTcpSocket* old = socket;
    socket = nullptr;
    old->disconnect(this);
    old->abort();
    old->deleteLater();
}

void Stars::reset()
{
    if (!socket)
        return;
    QTcpSocket* old = socket;
    socket = nullptr;
    old->disconnectFromHost();
    old->deleteLater();
    connectAllowed = true;
    ConnectToServer();
}

void Stars::SetNewSVAddress(const QString& item)
{
    serverAddress = item;
    qDebug() << "Stars Server " << serverAddress;
    reset();
}

void Stars::SetNewSVPort(const QString& item)
{
    serverPort = quint16(item.toInt());
    qDebug() << "Stars Port " << serverPort;
    reset();
}

void Stars::ReConnect()
{
    reset();
    emit ReConnected();
}

void Stars::ReceiveMessageFromStars()
{
    // A handler may run for long (an image download); keep draining what
    // arrived meanwhile so no line waits for the next readyRead().
    while (socket && socket->bytesAvailable() > 0) {
        // Read into one kept buffer: readAll() allocates a new array (and
        // shrinks it) for every read.
        readChunk.resize(int(qMin<qint64>(socket->bytesAvailable(), MaxReadChunk)));
        const qint64 got = socket->read(readChunk.data(), readChunk.size());
        if (got <= 0)
            break;
        reader.append(readChunk.constData(), int(got));
        bool progress = true;
        while (progress && reader.hasLine()) {
            switch (connectState) {
            case WaitKeyNumber:
                answerKeyNumber(reader.takeLine());
                break;
            case WaitKeyResult: {
                // Only the verdict line is taken: a request that came with it
                // in the same read is served, not dropped. A server that sends
                // no verdict at all must not cost the first request either.
                const QByteArray line = reader.takeLine();
                SMsg msg;
                const bool isRequest =
                    decodeLine(line, msg) != SMsg::MsgInvalid && msg.fromNode != QLatin1String("System");
                QString why;
                // A plain "Bad host. ..." line, as some servers send before the
                // key number, refuses the host here too.
                const QString plain = QString::fromLatin1(line).simplified();
                const bool badHost = plain.startsWith(QLatin1String("Bad host"));
                if (badHost)
                    why = hostRefused(plain);
                const Verdict verdict = badHost     ? Verdict::Refused
                                        : isRequest ? Verdict::Accepted
                                                    : examineVerdict(msg, why);
                if (verdict != Verdict::Accepted) {
                    qDebug() << "Log-in answer" << QString::fromLatin1(line.trimmed());
                    if (verdict == Verdict::Refused) {
                        giveUp(why);
                    } else {
                        connectState = -1; // nothing more is read from this connection
                        dropQuietly();
                        qDebug().noquote() << "Log-in not accepted yet:" << why;
                        connectLater();
                    }
                    return;
                }
                if (isRequest)
                    qDebug() << "No log-in answer from the server; serving its first line";
                else
                    qDebug() << "Log-in answer" << QString::fromLatin1(line.trimmed());
                connectState = Ready;
                retryDelayMs = FirstRetryMs;
                emit ConnectionIsReady(this);
                if (isRequest)
                    dispatch(msg.kind, msg);
                break;
            }
            case Ready: {
                // The replies to the lines of one read leave in one write.
                // Each line is decoded where it lies in the buffer, before
                // anything else may read into it.
                holdWrites = true;
                const char* line;
                int size;
                while (connectState == Ready && reader.nextLine(line, size))
                    dispatch(decodeLine(line, size, received), received);
                holdWrites = false;
                writeHeld();
                break;
            }
            default:
                progress = false;
                break;
            }
        }
    }
}

void Stars::answerKeyNumber(const QByteArray& line)
{
    const QString text = QString::fromLatin1(line).simplified();
    // A server whose host list lacks this machine says so in place of the
    // key number, then closes: waiting and trying again would not mend it.
    if (text.startsWith(QLatin1String("Bad host"))) {
        giveUp(hostRefused(text));
        return;
    }
    const int number = text.toInt(); // not a number: 0
    QString key;
    QString why;
    if (!chooseKey(keys, number, key, why)) {
        if (keys.isEmpty()) {
            // No key will ever be there until someone writes the key file.
            giveUp(why);
        } else {
            refuseLogIn(why);
        }
        return;
    }
    writeLine(QStringLiteral("%1 %2\n").arg(nodeName, key));
    connectState = WaitKeyResult;
}

void Stars::giveUp(const QString& why)
{
    qDebug().noquote() << "Log-in refused:" << why;
    connectState = -1; // nothing more is read from this connection
    dropQuietly();
    emit logInRefused(why);
}

QString Stars::hostRefused(const QString& text) const
{
    return QStringLiteral("the server %1 port %2 does not accept this host (\"%3\"): add this host to the "
                          "server's host list for node \"%4\", or set STARS_IP to a server that accepts it")
        .arg(serverAddress)
        .arg(serverPort)
        .arg(text, nodeName);
}

void Stars::refuseLogIn(const QString& why)
{
    qDebug().noquote() << "Log-in refused:" << why;
    connectState = -1; // nothing more is read from this connection
    socket->disconnectFromHost();
}

Stars::Verdict Stars::examineVerdict(const SMsg& msg, QString& why) const
{
    const QString text = msg.params;
    if (msg.command != QLatin1String("Er:"))
        return Verdict::Accepted; // "Ok:", or a text we do not know: the server decides
    if (text == QLatin1String("Bad node name or key")) {
        why = QStringLiteral("the server does not accept the node name or key (\"%1\"): the key file must hold, one "
                             "word each, the keys the server has for node \"%2\" (NAME_ON_STARS, KEY_FILE_NAME)")
                  .arg(text, nodeName);
        return Verdict::Refused;
    }
    if (text.startsWith(QLatin1String("Bad host"))) {
        why = hostRefused(text);
        return Verdict::Refused;
    }
    if (text.endsWith(QLatin1String(" already exists."))) {
        // The server has not yet noticed that our previous connection died.
        why = QStringLiteral("the server still holds the node (\"%1\")").arg(text);
        return Verdict::Transient;
    }
    return Verdict::Accepted;
}

void Stars::dispatch(int kind, SMsg& msg)
{
    if (kind == SMsg::MsgEvent) {
        SendReply(msg, QStringLiteral("Er: Undefined Event"));
        return;
    }
    if (kind == SMsg::MsgInvalid) {
        SendReply(msg, QStringLiteral("Er: Undefined Command"));
        return;
    }
    if (msg.isAnswer()) {
        qDebug() << "Not answering an answer from" << msg.from << msg.command << msg.params;
        return;
    }
    emit receivedCommand(msg);
}

void Stars::writeLine(const QString& text)
{
    writeParts({text});
}

void Stars::writeParts(std::initializer_list<QStringView> parts)
{
    if (!socket || socket->state() != QAbstractSocket::ConnectedState) {
        // One line in the log, the rest counted: a sequence keeps writing.
        if (droppedLines++ == 0) {
            QString text;
            for (const QStringView part : parts)
                text += part;
            qDebug() << "Not connected, line dropped:" << text.trimmed();
        }
        return;
    }
    if (socket->bytesToWrite() + heldLines.size() > MaxPendingWriteBytes) {
        // abort(): a graceful close would wait for the very data the server
        // does not read. The loss is then handled like any other.
        qDebug() << "The server reads nothing:" << socket->bytesToWrite() << "bytes, about" << pendingLines()
                 << "lines, wait to be sent; dropping the connection";
        ++droppedLines;
        connectState = -1; // what was received is not answered any more
        socket->abort();
        return;
    }
    // ISO 8859-1, '?' for what it cannot hold (as QString::toLatin1()),
    // straight into a buffer that keeps its capacity from line to line.
    qsizetype size = 0;
    for (const QStringView part : parts)
        size += part.size();
    QByteArray& line = holdWrites ? heldLines : outLine;
    const int at = holdWrites ? line.size() : 0;
    line.resize(at + int(size));
    char* out = line.data() + at;
    for (const QStringView part : parts) {
        const char16_t* units = part.utf16();
        const qsizetype count = part.size();
        for (qsizetype i = 0; i < count; ++i)
            out[i] = units[i] < 0x100 ? char(units[i]) : '?';
        out += count;
    }
    ++linesWritten;
    bytesWritten += size;
    if (!holdWrites)
        socket->write(line.constData(), size);
}

void Stars::writeHeld()
{
    // Lines held for a connection that has gone meanwhile are lost with it,
    // like those still in its write buffer.
    if (!heldLines.isEmpty() && socket && socket->state() == QAbstractSocket::ConnectedState)
        socket->write(heldLines.constData(), heldLines.size());
    heldLines.resize(0);
}

qint64 Stars::pendingLines() const
{
    const qint64 pending = pendingWriteBytes();
    return bytesWritten > 0 ? (pending * linesWritten + bytesWritten - 1) / bytesWritten : 0;
}

qint64 Stars::pendingWriteBytes() const
{
    return socket ? socket->bytesToWrite() + heldLines.size() : 0;
}

qintptr Stars::socketDescriptor() const
{
    return socket ? socket->socketDescriptor() : -1;
}

void Stars::reportDroppedLines()
{
    if (droppedLines > 0)
        qDebug() << droppedLines << "line(s) could not be sent while not connected";
    droppedLines = 0;
}

void Stars::flush()
{
    writeHeld();
    if (socket)
        socket->flush();
}

void Stars::SendReply(const SMsg& msg, const QString& text)
{
    writeParts({msg.to, u">", msg.from, u" ", text, u"\n"});
}

void Stars::SendEvent(const QString& sender, const QString& text)
{
    writeParts({sender, u">System ", text, u"\n"});
}
