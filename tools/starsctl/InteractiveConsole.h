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

    StarsCtl& m_ctl;
    CtlOptions m_options;
    SignalPipe* m_interrupts = nullptr; // with the editor
    LineEditor* m_editor = nullptr;
    StdinReader* m_reader = nullptr; // without it
    bool m_fromTerminal = false;     // typed, but without the editor
    HistoryFile m_history;
    QStringList m_queue;
    QSet<QString> m_subscribed; // nodes whose events were asked for
    bool m_inputEnded = false;
    bool m_running = false; // in runQueue()
};
