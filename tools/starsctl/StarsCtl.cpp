#include "StarsCtl.h"

#include "KeyFile.h"
#include "SMsg.h"
#include "SmallFile.h"

#include <cstdio>

StarsCtl::StarsCtl(const CtlOptions& options, QObject* parent)
    : QObject(parent), settings(options), toNode(busNode(options.to)), out(stdout)
{
    if (settings.keyFile.isEmpty())
        settings.keyFile = settings.node + QStringLiteral(".key");
    steps = settings.steps;
    stepsEnded = !settings.steps.isEmpty();
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &StarsCtl::timedOut);
    connect(&socket, &QTcpSocket::connected, this,
            [this] { await(State::AwaitKeyNumber, QStringLiteral("the key number from the server")); });
    connect(&socket, &QTcpSocket::readyRead, this, &StarsCtl::readSocket);
    connect(&socket, &QTcpSocket::disconnected, this, &StarsCtl::connectionLost);
    connect(&socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (waitState == State::Connecting)
            fail(ConnectionFailed, QStringLiteral("cannot connect to %1 port %2: %3")
                                       .arg(settings.host)
                                       .arg(settings.port)
                                       .arg(socket.errorString()));
        else if (error == QAbstractSocket::RemoteHostClosedError)
            connectionLost();
    });
}

void StarsCtl::start()
{
    QByteArray keyText;
    QString reason;
    if (!readSmallFile(settings.keyFile, keyText, reason)) {
        fail(ConnectionFailed, QStringLiteral("cannot read the key file %1: %2").arg(settings.keyFile, reason));
        return;
    }
    keys = keyWords(keyText);
    if (keys.isEmpty()) {
        fail(ConnectionFailed, QStringLiteral("the key file %1 holds no keys").arg(settings.keyFile));
        return;
    }
    await(State::Connecting, QStringLiteral("the connection to %1 port %2").arg(settings.host).arg(settings.port));
    socket.connectToHost(settings.host, settings.port);
}

void StarsCtl::addStep(const QString& step)
{
    steps.append(step);
    if (waitState == State::Ready)
        runNextStep();
}

void StarsCtl::endSteps()
{
    stepsEnded = true;
    if (waitState == State::Ready)
        runNextStep();
}

void StarsCtl::send(const QString& command)
{
    if (waitState != State::Ready)
        return;
    events.clear();
    pendingReplies.append({toNode, QLatin1Char('@') + command.section(QLatin1Char(' '), 0, 0)});
    sendLine(settings.node + QLatin1Char('>') + settings.to + QLatin1Char(' ') + command);
}

void StarsCtl::waitForEvent(const QString& event)
{
    if (waitState != State::Ready)
        return;
    awaitedEvent = event.simplified();
    if (takeAwaitedEvent())
        return;
    await(State::AwaitEvent, QStringLiteral("the event \"%1\" from %2").arg(awaitedEvent, settings.to));
}

void StarsCtl::setTarget(const QString& to)
{
    settings.to = to;
    toNode = busNode(to);
    events.clear();
    if (settings.subscribe)
        subscribe(to, true);
}

void StarsCtl::subscribe(const QString& node, bool on)
{
    if (waitState != State::Ready)
        return;
    const QString command = on ? QStringLiteral("flgon") : QStringLiteral("flgoff");
    pendingReplies.append({QStringLiteral("System"), QLatin1Char('@') + command});
    sendLine(settings.node + QStringLiteral(">System ") + command + QLatin1Char(' ') + node);
}

void StarsCtl::endInput()
{
    if (waitState != State::Ready)
        return;
    if (pendingReplies.isEmpty()) {
        finish(exitStatus);
        return;
    }
    const auto& oldest = pendingReplies.constFirst();
    await(State::Draining, QStringLiteral("the reply %1 from %2").arg(oldest.second, oldest.first));
}

void StarsCtl::quit()
{
    finish(exitStatus);
}

void StarsCtl::interrupt()
{
    switch (waitState) {
    case State::Ready:
    case State::Done:
        break;
    case State::AwaitEvent:
        complain(QStringLiteral("stopped waiting for %1").arg(awaitedWhat));
        waitState = State::Ready;
        timer.stop();
        emit ready();
        break;
    case State::Draining:
        finish(exitStatus);
        break;
    default:
        fail(ConnectionFailed, QStringLiteral("interrupted while waiting for %1").arg(awaitedWhat));
        break;
    }
}

void StarsCtl::readSocket()
{
    reader.append(socket.readAll());
    while (waitState != State::Done && reader.hasLine())
        handleLine(LineReader::withoutLineEnd(reader.takeLine()));
}

void StarsCtl::handleLine(const QByteArray& bytes)
{
    // Nodes write ISO 8859-1.
    const QString line = QString::fromLatin1(bytes);
    const bool loggingIn = waitState == State::AwaitKeyNumber || waitState == State::AwaitVerdict;
    if (!settings.quiet)
        print(QStringLiteral("< ") + line);
    else if (settings.interactive && !loggingIn)
        print(line.section(QLatin1Char(' '), 1));

    if (waitState == State::AwaitKeyNumber) {
        answerKeyNumber(line);
        return;
    }
    if (waitState == State::AwaitVerdict) {
        handleVerdict(line);
        return;
    }

    const QString address = line.section(QLatin1Char(' '), 0, 0);
    const QString text = line.section(QLatin1Char(' '), 1);
    const QString word = text.section(QLatin1Char(' '), 0, 0);
    QString from;
    QString to;
    if (!splitAddress(address, from, to))
        from = address;
    const QString sender = busNode(from);
    if (word.startsWith(QLatin1Char('_')) && sender == toNode)
        events.append(text.simplified());
    // "Er:" answers a line the node could not take (an unknown command word);
    // "@Cmd Err: ..." and the server's "@Cmd Er: ..." refuse a known one.
    const bool plainError = word == QLatin1String("Er:");
    const QString verdict = text.section(QLatin1Char(' '), 1, 1);
    const bool errorAnswer = plainError || verdict == QLatin1String("Err:") || verdict == QLatin1String("Er:");
    const bool answered = (word.startsWith(QLatin1Char('@')) || plainError) && takePendingReply(sender, word);
    if (answered && errorAnswer)
        noteErrorAnswer();

    switch (waitState) {
    case State::Subscribing:
    case State::AwaitReply:
        // The server answers for a target that is not logged in.
        if ((word == awaitedReply || plainError) && (sender == toNode || sender == QLatin1String("System"))) {
            if (errorAnswer)
                noteErrorAnswer();
            if (settings.quiet && waitState == State::AwaitReply)
                print(text);
            waitState = State::Ready;
            timer.stop();
            runNextStep();
        }
        break;
    case State::AwaitEvent:
        if (takeAwaitedEvent()) {
            waitState = State::Ready;
            timer.stop();
            if (settings.interactive)
                emit ready();
            else
                runNextStep();
        }
        break;
    case State::Draining:
        if (pendingReplies.isEmpty())
            finish(exitStatus);
        else if (answered)
            await(State::Draining, QStringLiteral("the reply %1 from %2")
                                       .arg(pendingReplies.constFirst().second, pendingReplies.constFirst().first));
        break;
    default:
        break;
    }
}

void StarsCtl::answerKeyNumber(const QString& line)
{
    bool ok = false;
    const int number = line.trimmed().toInt(&ok);
    QString key;
    QString why;
    if (!ok || !chooseKey(keys, number, key, why)) {
        fail(ConnectionFailed, QStringLiteral("expected a key number from the server, got \"%1\"").arg(line));
        return;
    }
    sendLine(settings.node + QLatin1Char(' ') + key);
    await(State::AwaitVerdict, QStringLiteral("the log-in verdict"));
}

void StarsCtl::handleVerdict(const QString& line)
{
    if (line.section(QLatin1Char(' '), 1, 1) != QLatin1String("Ok:")) {
        fail(ConnectionFailed, QStringLiteral("log-in as %1 refused: %2").arg(settings.node, line));
        return;
    }
    if (settings.subscribe) {
        sendLine(settings.node + QStringLiteral(">System flgon ") + settings.to);
        awaitedReply = QStringLiteral("@flgon");
        await(State::Subscribing, QStringLiteral("the reply @flgon from System"));
        return;
    }
    waitState = State::Ready;
    timer.stop();
    runNextStep();
}

void StarsCtl::runNextStep()
{
    if (settings.interactive) {
        emit ready();
        return;
    }
    while (!steps.isEmpty()) {
        const QString step = steps.takeFirst().trimmed();
        if (step.isEmpty() || step.startsWith(QLatin1Char('#')))
            continue;
        if (step == QLatin1String("wait") || step.startsWith(QLatin1String("wait "))) {
            awaitedEvent = step.mid(4).simplified();
            if (awaitedEvent.isEmpty()) {
                fail(UsageError, QStringLiteral("\"wait\" needs the text of an event, e.g. wait _ChangedIsBusy 0"));
                return;
            }
            if (takeAwaitedEvent())
                continue;
            await(State::AwaitEvent, QStringLiteral("the event \"%1\" from %2").arg(awaitedEvent, settings.to));
            return;
        }
        sendCommand(step);
        return;
    }
    if (stepsEnded)
        finish(exitStatus);
}

void StarsCtl::sendCommand(const QString& command)
{
    events.clear();
    awaitedReply = QLatin1Char('@') + command.section(QLatin1Char(' '), 0, 0);
    sendLine(settings.node + QLatin1Char('>') + settings.to + QLatin1Char(' ') + command);
    await(State::AwaitReply, QStringLiteral("the reply %1 from %2").arg(awaitedReply, settings.to));
}

bool StarsCtl::takeAwaitedEvent()
{
    const int index = events.indexOf(awaitedEvent);
    if (index < 0)
        return false;
    events.erase(events.begin(), events.begin() + index + 1);
    return true;
}

bool StarsCtl::takePendingReply(const QString& sender, const QString& word)
{
    // The server answers for nodes that are not logged in.
    for (int i = 0; i < pendingReplies.size(); ++i) {
        const auto& pending = pendingReplies.at(i);
        const bool matches = pending.second == word || word == QLatin1String("Er:");
        if (matches && (pending.first == sender || sender == QLatin1String("System"))) {
            pendingReplies.removeAt(i);
            return true;
        }
    }
    return false;
}

void StarsCtl::noteErrorAnswer()
{
    // A time-out already recorded is the graver news.
    if (exitStatus == Success)
        exitStatus = ErrorAnswer;
}

void StarsCtl::await(State state, const QString& what)
{
    waitState = state;
    awaitedWhat = what;
    timer.start(settings.timeoutSeconds * 1000);
}

void StarsCtl::sendLine(const QString& line)
{
    if (!settings.quiet)
        print(QStringLiteral("> ") + line);
    // The nodes read UTF-8.
    socket.write(line.toUtf8() + '\n');
}

void StarsCtl::print(const QString& line)
{
    if (printFunction)
        printFunction(line, false);
    else
        out << line << Qt::endl;
}

void StarsCtl::complain(const QString& message)
{
    const QString text = QStringLiteral("starsctl: ") + message;
    if (printFunction) {
        printFunction(text, true);
        return;
    }
    out.flush();
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

void StarsCtl::timedOut()
{
    const QString message =
        QStringLiteral("no answer within %1 s while waiting for %2").arg(settings.timeoutSeconds).arg(awaitedWhat);
    // At the prompt a wait that ends without its event only costs the exit status.
    if (settings.interactive && waitState == State::AwaitEvent) {
        complain(message);
        exitStatus = TimedOut;
        waitState = State::Ready;
        emit ready();
        return;
    }
    const int status =
        (waitState == State::Connecting || waitState == State::AwaitKeyNumber || waitState == State::AwaitVerdict)
            ? ConnectionFailed
            : TimedOut;
    fail(status, message);
}

void StarsCtl::connectionLost()
{
    if (waitState == State::Done || waitState == State::Connecting)
        return;
    if (waitState == State::AwaitVerdict)
        fail(ConnectionFailed,
             QStringLiteral("log-in as %1 refused: the server closed the connection").arg(settings.node));
    else
        fail(ConnectionFailed, QStringLiteral("the server closed the connection"));
}

void StarsCtl::fail(int status, const QString& message)
{
    complain(message);
    finish(status);
}

void StarsCtl::finish(int status)
{
    if (waitState == State::Done)
        return;
    waitState = State::Done;
    timer.stop();
    out.flush();
    socket.disconnectFromHost();
    emit finished(status);
}
