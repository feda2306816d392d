#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered by the event
// loop, so the stop happens between two steps of the service rather than in
// the middle of one. The handler only writes the signal number into a pipe.
// One instance per process.
class StopSignals : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers; on failure logs why and leaves the default actions.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    // Once for every signal that arrived, in arrival order.
    void stopRequested(int signalNumber);

private:
    static void handler(int signalNumber);
    void readSignals();

    QSocketNotifier* notifier = nullptr;
};
