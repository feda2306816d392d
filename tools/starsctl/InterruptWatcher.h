#pragma once

#include <QObject>

class QSocketNotifier;

// Turns Ctrl-C (SIGINT) and SIGTERM/SIGHUP into Qt signals for the prompt on
// a terminal: Ctrl-C drops the line being typed or ends a wait instead of
// killing starsctl, and termination goes through the event loop so the
// terminal gets its settings back. The handler only writes a byte to a
// socket pair.
class InterruptWatcher : public QObject
{
    Q_OBJECT
public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;

signals:
    void interrupted();
    void terminationRequested();

private:
    static void handle(int signalNumber);
    void readSignal();

    static int s_fds[2];
    QSocketNotifier* m_notifier = nullptr;
};
