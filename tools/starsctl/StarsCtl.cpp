#include "StarsCtl.h"

#include "KeyFile.h"
#include "SMsg.h"
#include "SmallFile.h"

#include <cstdio>

StarsCtl::StarsCtl(const CtlOptions& options, QObject* parent)
    : QObject(parent), m_options(options), m_toNode(busNode(options.to)), m_out(stdout)
{
    if (m_options.keyFile.isEmpty())
        m_options.keyFile = m_options.node + QStringLiteral(".key");
    m_steps = m_options.steps;
    m_stepsEnded = !m_options.steps.isEmpty();
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &StarsCtl::timedOut);
    connect(&m_socket, &QTcpSocket::connected, this,
            [this] { await(State::AwaitKeyNumber, QStringLiteral("the key number from the server")); });
    connect(&m_socket, &QTcpSocket::readyRead, this, &StarsCtl::readSocket);
    connect(&m_socket, &QTcpSocket::disconnected, this, &StarsCtl::connectionLost);
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (m_state == State::Connecting)
            fail(ConnectionFailed, QStringLiteral("cannot connect to %1 port %2: %3")
                                       .arg(m_options.host)
                                       .arg(m_options.port)
                                       .arg(m_socket.errorString()));
        else if (error == QAbstractSocket::RemoteHostClosedError)
            connectionLost();
    });
}

void StarsCtl::start()
{
    QByteArray keyText;
    QString reason;
    if (!readSmallFile(m_options.keyFile, keyText, reason)) {
        fail(ConnectionFailed, QStringLiteral("cannot read the key file %1: %2").arg(m_options.keyFile, reason));
        return;
    }
    m_keys = keyWords(keyText);
    if (m_keys.isEmpty()) {
        fail(ConnectionFailed, QStringLiteral("the key file %1 holds no keys").arg(m_options.keyFile));
        return;
    }
    await(State::Connecting, QStringLiteral("the connection to %1 port %2").arg(m_options.host).arg(m_options.port));
    m_socket.connectToHost(m_options.host, m_options.port);
}

void StarsCtl::addStep(const QString& step)
{
    m_steps.append(step);
    if (m_state == State::Ready)
        runNextStep();
}

void StarsCtl::endSteps()
{
    m_stepsEnded = true;
    if (m_state == State::Ready)
        runNextStep();
}

void StarsCtl::send(const QString& command)
{
    if (m_state != State::Ready)
        return;
    m_events.clear();
    m_pendingReplies.append({m_toNode, QLatin1Char('@') + command.section(QLatin1Char(' '), 0, 0)});
    sendLine(m_options.node + QLatin1Char('>') + m_options.to + QLatin1Char(' ') + command);
}

void StarsCtl::waitForEvent(const QString& event)
{
    if (m_state != State::Ready)
        return;
    m_awaitedEvent = event.simplified();
    if (takeAwaitedEvent())
        return;
    await(State::AwaitEvent, QStringLiteral("the event \"%1\" from %2").arg(m_awaitedEvent, m_options.to));
}

void StarsCtl::setTarget(const QString& to)
{
    m_options.to = to;
    m_toNode = busNode(to);
    m_events.clear();
    if (m_options.subscribe)
        subscribe(to, true);
}

void StarsCtl::subscribe(const QString& node, bool on)
{
    if (m_state != State::Ready)
        return;
    const QString command = on ? QStringLiteral("flgon") : QStringLiteral("flgoff");
    m_pendingReplies.append({QStringLiteral("System"), QLatin1Char('@') + command});
    sendLine(m_options.node + QStringLiteral(">System ") + command + QLatin1Char(' ') + node);
}

void StarsCtl::endInput()
{
    if (m_state != State::Ready)
        return;
    if (m_pendingReplies.isEmpty()) {
        finish(m_status);
        return;
    }
    const auto& oldest = m_pendingReplies.constFirst();
    await(State::Draining, QStringLiteral("the reply %1 from %2").arg(oldest.second, oldest.first));
}

void StarsCtl::quit()
{
    finish(m_status);
}

void StarsCtl::interrupt()
{
    switch (m_state) {
    case State::Ready:
    case State::Done:
        break;
    case State::AwaitEvent:
        complain(QStringLiteral("stopped waiting for %1").arg(m_awaitedWhat));
        m_state = State::Ready;
        m_timer.stop();
        emit ready();
        break;
    case State::Draining:
        finish(m_status);
        break;
    default:
        fail(ConnectionFailed, QStringLiteral("interrupted while waiting for %1").arg(m_awaitedWhat));
        break;
    }
}

void StarsCtl::readSocket()
{
    m_reader.append(m_socket.readAll());
    while (m_state != State::Done && m_reader.hasLine())
        handleLine(LineReader::withoutLineEnd(m_reader.takeLine()));
}

void StarsCtl::handleLine(const QByteArray& bytes)
{
    // Nodes write ISO 8859-1.
    const QString line = QString::fromLatin1(bytes);
    const bool loggingIn = m_state == State::AwaitKeyNumber || m_state == State::AwaitVerdict;
    if (!m_options.quiet)
        print(QStringLiteral("< ") + line);
    else if (m_options.interactive && !loggingIn)
        print(line.section(QLatin1Char(' '), 1));

    if (m_state == State::AwaitKeyNumber) {
        answerKeyNumber(line);
        return;
    }
    if (m_state == State::AwaitVerdict) {
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
    if (word.startsWith(QLatin1Char('_')) && sender == m_toNode)
        m_events.append(text.simplified());
    // "Er:" answers a line the node could not take (an unknown command word);
    // "@Cmd Err: ..." and the server's "@Cmd Er: ..." refuse a known one.
    const bool plainError = word == QLatin1String("Er:");
    const QString verdict = text.section(QLatin1Char(' '), 1, 1);
    const bool errorAnswer = plainError || verdict == QLatin1String("Err:") || verdict == QLatin1String("Er:");
    const bool answered = (word.startsWith(QLatin1Char('@')) || plainError) && takePendingReply(sender, word);
    if (answered && errorAnswer)
        noteErrorAnswer();

    switch (m_state) {
    case State::Subscribing:
    case State::AwaitReply:
        // The server answers for a target that is not logged in.
        if ((word == m_awaitedReply || plainError) && (sender == m_toNode || sender == QLatin1String("System"))) {
            if (errorAnswer)
                noteErrorAnswer();
            if (m_options.quiet && m_state == State::AwaitReply)
                print(text);
            m_state = State::Ready;
            m_timer.stop();
            runNextStep();
        }
        break;
    case State::AwaitEvent:
        if (takeAwaitedEvent()) {
            m_state = State::Ready;
            m_timer.stop();
            if (m_options.interactive)
                emit ready();
            else
                runNextStep();
        }
        break;
    case State::Draining:
        if (m_pendingReplies.isEmpty())
            finish(m_status);
        else if (answered)
            await(State::Draining, QStringLiteral("the reply %1 from %2")
                                       .arg(m_pendingReplies.constFirst().second, m_pendingReplies.constFirst().first));
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
    if (!ok || !chooseKey(m_keys, number, key, why)) {
        fail(ConnectionFailed, QStringLiteral("expected a key number from the server, got \"%1\"").arg(line));
        return;
    }
    sendLine(m_options.node + QLatin1Char(' ') + key);
    await(State::AwaitVerdict, QStringLiteral("the log-in verdict"));
}

void StarsCtl::handleVerdict(const QString& line)
{
    if (line.section(QLatin1Char(' '), 1, 1) != QLatin1String("Ok:")) {
        fail(ConnectionFailed, QStringLiteral("log-in as %1 refused: %2").arg(m_options.node, line));
        return;
    }
    if (m_options.subscribe) {
        sendLine(m_options.node + QStringLiteral(">System flgon ") + m_options.to);
        m_awaitedReply = QStringLiteral("@flgon");
        await(State::Subscribing, QStringLiteral("the reply @flgon from System"));
        return;
    }
    m_state = State::Ready;
    m_timer.stop();
    runNextStep();
}

void StarsCtl::runNextStep()
{
    if (m_options.interactive) {
        emit ready();
        return;
    }
    while (!m_steps.isEmpty()) {
        const QString step = m_steps.takeFirst().trimmed();
        if (step.isEmpty() || step.startsWith(QLatin1Char('#')))
            continue;
        if (step == QLatin1String("wait") || step.startsWith(QLatin1String("wait "))) {
            m_awaitedEvent = step.mid(4).simplified();
            if (m_awaitedEvent.isEmpty()) {
                fail(UsageError, QStringLiteral("\"wait\" needs the text of an event, e.g. wait _ChangedIsBusy 0"));
                return;
            }
            if (takeAwaitedEvent())
                continue;
            await(State::AwaitEvent, QStringLiteral("the event \"%1\" from %2").arg(m_awaitedEvent, m_options.to));
            return;
        }
        sendCommand(step);
        return;
    }
    if (m_stepsEnded)
        finish(m_status);
}

void StarsCtl::sendCommand(const QString& command)
{
    m_events.clear();
    m_awaitedReply = QLatin1Char('@') + command.section(QLatin1Char(' '), 0, 0);
    sendLine(m_options.node + QLatin1Char('>') + m_options.to + QLatin1Char(' ') + command);
    await(State::AwaitReply, QStringLiteral("the reply %1 from %2").arg(m_awaitedReply, m_options.to));
}

bool StarsCtl::takeAwaitedEvent()
{
    const int index = m_events.indexOf(m_awaitedEvent);
    if (index < 0)
        return false;
    m_events.erase(m_events.begin(), m_events.begin() + index + 1);
    return true;
}

bool StarsCtl::takePendingReply(const QString& sender, const QString& word)
{
    // The server answers for nodes that are not logged in.
    for (int i = 0; i < m_pendingReplies.size(); ++i) {
        const auto& pending = m_pendingReplies.at(i);
        const bool matches = pending.second == word || word == QLatin1String("Er:");
        if (matches && (pending.first == sender || sender == QLatin1String("System"))) {
            m_pendingReplies.removeAt(i);
            return true;
        }
    }
    return false;
}

void StarsCtl::noteErrorAnswer()
{
    // A time-out already recorded is the graver news.
    if (m_status == Success)
        m_status = ErrorAnswer;
}

void StarsCtl::await(State state, const QString& what)
{
    m_state = state;
    m_awaitedWhat = what;
    m_timer.start(m_options.timeoutSeconds * 1000);
}

void StarsCtl::sendLine(const QString& line)
{
    if (!m_options.quiet)
        print(QStringLiteral("> ") + line);
    // The nodes read UTF-8.
    m_socket.write(line.toUtf8() + '\n');
}

void StarsCtl::print(const QString& line)
{
    if (m_printer)
        m_printer(line, false);
    else
        m_out << line << Qt::endl;
}

void StarsCtl::complain(const QString& message)
{
    const QString text = QStringLiteral("starsctl: ") + message;
    if (m_printer) {
        m_printer(text, true);
        return;
    }
    m_out.flush();
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

void StarsCtl::timedOut()
{
    const QString message =
        QStringLiteral("no answer within %1 s while waiting for %2").arg(m_options.timeoutSeconds).arg(m_awaitedWhat);
    // At the prompt a wait that ends without its event only costs the exit status.
    if (m_options.interactive && m_state == State::AwaitEvent) {
        complain(message);
        m_status = TimedOut;
        m_state = State::Ready;
        emit ready();
        return;
    }
    const int status =
        (m_state == State::Connecting || m_state == State::AwaitKeyNumber || m_state == State::AwaitVerdict)
            ? ConnectionFailed
            : TimedOut;
    fail(status, message);
}

void StarsCtl::connectionLost()
{
    if (m_state == State::Done || m_state == State::Connecting)
        return;
    if (m_state == State::AwaitVerdict)
        fail(ConnectionFailed,
             QStringLiteral("log-in as %1 refused: the server closed the connection").arg(m_options.node));
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
    if (m_state == State::Done)
        return;
    m_state = State::Done;
    m_timer.stop();
    m_out.flush();
    m_socket.disconnectFromHost();
    emit finished(status);
}
