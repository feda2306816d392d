#pragma once

#include "CtlOptions.h"
#include "HistoryFile.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QStringList>

class SignalPipe;
class LineEditor;
class StarsCtl;
class StdinReader;

// The operator's side of an interactive run: a prompt naming the target,
// each line read sent to it at once, and the local commands (":to", ":wait",
// ...). On a terminal the line editor shows the prompt and keeps the input
// intact while bus lines are printed. From a pipe each line is printed after
// the prompt when it is taken, so the output reads like a terminal transcript.
// Lines read while the client is not ready (logging in, waiting for an
// event) are kept until it is.
class InteractiveConsole : public QObject
{
    Q_OBJECT
public:
    static const int HistoryLines = 500;

    InteractiveConsole(StarsCtl& ctl, const CtlOptions& options, bool useLineEditor, QObject* parent = nullptr);
    ~InteractiveConsole() override;

private:
    void takeLine(const QByteArray& bytes);
    void inputEnded();
    void interrupted();
    void runQueue();
    void runLine(const QString& line);
    void runLocal(const QString& line);
    void print(const QString& text, bool isError = false);
    void write(const QByteArray& bytes, bool isError);
    QString prompt() const;

    StarsCtl& client;
    CtlOptions settings;
    SignalPipe* interrupts = nullptr; // with the editor
    LineEditor* editor = nullptr;
    StdinReader* reader = nullptr; // without it
    bool fromTerminal = false;     // typed, but without the editor
    HistoryFile historyFile;
    QStringList queue;
    QSet<QString> subscribed; // nodes whose events were asked for
    bool inputHasEnded = false;
    bool running = false; // in runQueue()
};
