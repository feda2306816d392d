#pragma once

#include "CtlOptions.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

// One starsctl run: logs in as a node, optionally subscribes to the
// target's events, then runs the steps one after the other. A step is either
// a command for the target ("GetTemp"), done when its reply "@GetTemp ..."
// arrives, or "wait <event text>", done when that event from the target
// arrives. Every line on the wire is printed ("> " sent, "< " received).
class StarsCtl : public QObject {
    Q_OBJECT
public:
    enum ExitStatus { Success = 0, TimedOut = 1, ConnectionFailed = 2 };

    explicit StarsCtl(const CtlOptions &options, QObject *parent = nullptr);

    void start();
    // Steps may keep coming while the run goes on (from standard input).
    void addStep(const QString &step);
    void endSteps();

signals:
    void finished(int status);

private:
    enum class State { Idle, Connecting, AwaitKeyNumber, AwaitVerdict, Subscribing, Ready,
                       AwaitReply, AwaitEvent, Done };

    void readSocket();
    void handleLine(const QByteArray &line);
    void answerKeyNumber(const QString &line);
    void handleVerdict(const QString &line);
    void runNextStep();
    void sendCommand(const QString &command);
    void await(State state, const QString &what);
    bool takeAwaitedEvent();
    void sendLine(const QString &line);
    void timedOut();
    void connectionLost();
    void fail(int status, const QString &message);
    void finish(int status);

    CtlOptions m_options;
    QString m_toNode;     // routing part of the target name
    QStringList m_keys;
    QTcpSocket m_socket;
    QTimer m_timer;
    QTextStream m_out;
    State m_state = State::Idle;
    QByteArray m_buffer;
    QStringList m_steps;
    bool m_stepsEnded = false;
    QString m_awaitedReply; // "@GetTemp"
    QString m_awaitedEvent; // "_ChangedIsBusy 0"
    QString m_awaitedWhat;  // for the time-out message
    // Events from the target since the last command was sent: an event may
    // overtake the reply to the command that caused it.
    QStringList m_events;
};
