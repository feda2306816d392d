#pragma once

#include <QByteArray>
#include <QObject>
#include <QStringList>

#include <termios.h>

class QSocketNotifier;

// The prompt on a terminal, edited with libedit's readline interface in its
// callback form: keys are read in the event loop as they come, so lines from
// the bus can be printed above the line being typed, which is then drawn
// again. Up and down recall earlier lines. libedit keeps one global editor,
// so there is at most one LineEditor at a time.
class LineEditor : public QObject
{
    Q_OBJECT
public:
    // False when starsctl was built without libedit.
    static bool isAvailable();

    explicit LineEditor(QObject* parent = nullptr);
    ~LineEditor() override;

    // Lines for up/down, oldest first; at most maxLines are kept.
    void setHistory(const QStringList& lines, int maxLines);
    void addHistory(const QString& line);
    // Words that Tab completes at the start of the line (command names).
    void setCompletions(const QStringList& words);

    // Shows the prompt and reads keys until a line is complete; the editor
    // then hides itself until shown again. Keys typed while it is hidden wait
    // in the terminal without echo and turn up in the next input line.
    void show(const QString& prompt);
    void hide();
    bool isShown() const { return shown; }
    // After Ctrl-C at the prompt: forgets the input and hides.
    void discardLine();

    // Prints text ending in "\n" on standard output (or standard error),
    // above the prompt and the input while they are shown.
    void print(const QByteArray& text, bool toStandardError);

signals:
    void lineRead(const QByteArray& line);
    // Ctrl-D on an empty line.
    void endOfInput();

private:
    static void handleLine(char* line);
    static char** complete(const char* text, int start, int end);
    static char* nextCompletion(const char* text, int state);
    void clearInputArea();
    void holdKeys();
    void releaseKeys();

    static LineEditor* instance;
    QSocketNotifier* notifier;
    QByteArray promptText;
    QList<QByteArray> completions;
    bool shown = false;
    int point = 0; // cursor position in the input
    bool holding = false;
    struct termios terminal = {}; // the settings while keys are held
};
