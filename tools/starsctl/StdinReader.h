#pragma once

#include "LineReader.h"

#include <QByteArray>
#include <QObject>

class QSocketNotifier;

// Reads standard input in the event loop and hands it on line by line, so
// lines from the server keep being printed while the user is typing.
class StdinReader : public QObject
{
    Q_OBJECT
public:
    explicit StdinReader(QObject* parent = nullptr);

signals:
    void lineRead(const QByteArray& line);
    void endOfInput();

private:
    void readAvailable();

    QSocketNotifier* notifier;
    LineReader reader;
};
