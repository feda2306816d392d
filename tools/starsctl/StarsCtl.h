#pragma once

#include "CtlOptions.h"
#include "LineReader.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>
#include <functional>

// One starsctl run: logs in as a node, optionally subscribes to the
// target's events, then runs the steps one after the other. A step is either
// a command for the target ("GetTemp"), done when its reply "@GetTemp ..."
// or an error answer "Er: ..." arrives, or "wait <event text>", done when that event from the target
// arrives. Every line on the wire is printed ("> " sent, "< " received).
//
// In interactive use (CtlOptions::interactive) there are no steps: once
// ready() has come, send() puts a command on the wire at once and its reply
// is printed whenever it arrives; waitForEvent() holds the run until an
// event comes, and ready() says when it takes lines again.
class StarsCtl : public QObject
{
    Q_OBJECT
public:
    // An error answer ("Err:" or "Er:") does not stop the run, it only makes
    // the status ErrorAnswer; a time-out or a lost connection ends it at once.
    enum ExitStatus { Success = 0, ErrorAnswer = 1, TimedOut = 2, ConnectionFailed = 2, UsageError = 64 };
    // Takes each line of output, without its "\n"; isError for complaints.
    using Printer = std::function<void(const QString& text, bool isError)>;

    explicit StarsCtl(const CtlOptions& options, QObject* parent = nullptr);

    // Without a printer, output goes to standard output and complaints to
    // standard error.
    void setPrinter(const Printer& printer) { printFunction = printer; }

    void start();
    // Steps may keep coming while the run goes on (from standard input).
    void addStep(const QString& step);
    void endSteps();

    // Interactive use.
    bool isReady() const { return waitState == State::Ready; }
    QString target() const { return settings.to; }
    void send(const QString& command);
    void waitForEvent(const QString& event);
    // With --subscribe the new target's events are asked for as well.
    void setTarget(const QString& to);
    void subscribe(const QString& node, bool on);
    // No more lines: the run ends once every command sent has its reply.
    void endInput();
    void quit();
    // Ctrl-C: ends a wait, or the wait for the last replies, or a log-in.
    void interrupt();

signals:
    void finished(int status);
    // Logged in, or a wait is over: the run takes the next line.
    void ready();

private:
    enum class State {
        Idle,
        Connecting,
        AwaitKeyNumber,
        AwaitVerdict,
        Subscribing,
        Ready,
        AwaitReply,
        AwaitEvent,
        Draining,
        Done
    };

    void readSocket();
    void handleLine(const QByteArray& line);
    void answerKeyNumber(const QString& line);
    void handleVerdict(const QString& line);
    void runNextStep();
    void sendCommand(const QString& command);
    void await(State state, const QString& what);
    bool takeAwaitedEvent();
    bool takePendingReply(const QString& sender, const QString& word);
    void noteErrorAnswer();
    void sendLine(const QString& line);
    void print(const QString& line);
    void complain(const QString& message);
    void timedOut();
    void connectionLost();
    void fail(int status, const QString& message);
    void finish(int status);

    CtlOptions settings;
    QString toNode; // routing part of the target name
    QStringList keys;
    QTcpSocket socket;
    QTimer timer;
    QTextStream out;
    Printer printFunction;
    State waitState = State::Idle;
    LineReader reader;
    QStringList steps;
    bool stepsEnded = false;
    QString awaitedReply; // "@GetTemp"
    QString awaitedEvent; // "_ChangedIsBusy 0"
    QString awaitedWhat;  // for the time-out message
    // Events from the target since the last command was sent: an event may
    // overtake the reply to the command that caused it.
    QStringList events;
    // Interactive: (node, "@Command") of every command still unanswered, and
    // the status to end with (an error answer makes it ErrorAnswer, a wait
    // that timed out TimedOut).
    QList<QPair<QString, QString>> pendingReplies;
    int exitStatus = Success;
};
