#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal, so the server can leave its
// event loop and close its sockets in an orderly way. The handler only writes
// one byte to a socket pair; everything else happens in the event loop.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    bool isValid() const { return m_notifier != nullptr; }

signals:
    void terminationRequested(int signalNumber);

private:
    static void handle(int signalNumber);
    void readSignal();

    static int s_fds[2];
    QSocketNotifier* m_notifier = nullptr;
};
