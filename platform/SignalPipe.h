#pragma once

#include <QList>
#include <QObject>

class QSocketNotifier;

// Turns process signals (SIGTERM, SIGINT, ...) into a Qt signal delivered by
// the event loop, so what follows them runs between two steps of the program
// rather than in the middle of one. The handler only writes the signal
// number into a socket pair, keeping errno as it found it. One instance per
// process; its destruction gives the signals their default actions back.
class SignalPipe : public QObject
{
    Q_OBJECT

public:
    // Installs the handlers for signalNumbers; on failure logs why and
    // leaves the default actions (isValid() false).
    explicit SignalPipe(const QList<int>& signalNumbers, QObject* parent = nullptr);
    ~SignalPipe() override;

    bool isValid() const { return notifier != nullptr; }

signals:
    // Once for every signal that arrived, in arrival order.
    void arrived(int signalNumber);

private:
    static void handler(int signalNumber);
    void readSignals();

    QList<int> watched;
    QSocketNotifier* notifier = nullptr;
};
