#include "LineEditor.h"

#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#ifdef STARSCTL_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

LineEditor* LineEditor::instance = nullptr;

bool LineEditor::isAvailable()
{
#ifdef STARSCTL_HAVE_LIBEDIT
    return true;
#else
    return false;
#endif
}

LineEditor::LineEditor(QObject* parent)
    : QObject(parent), notifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    instance = this;
    notifier->setEnabled(false);
#ifdef STARSCTL_HAVE_LIBEDIT
    // "starsctl:" lines in ~/.editrc apply to us.
    rl_readline_name = "starsctl";
    rl_initialize();
    using_history();
    rl_attempted_completion_function = &LineEditor::complete;
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        rl_callback_read_char();
        // libedit updates rl_point only in its read call, so after a new
        // prompt it still holds the last line's cursor: keep our own.
        if (shown)
            point = rl_point;
    });
#endif
    holdKeys();
}

LineEditor::~LineEditor()
{
    // Leave the terminal as it was, without a prompt nobody answers.
    if (shown)
        clearInputArea();
    hide();
    releaseKeys();
    if (instance == this)
        instance = nullptr;
}

void LineEditor::setHistory(const QStringList& lines, int maxLines)
{
#ifdef STARSCTL_HAVE_LIBEDIT
    clear_history();
    stifle_history(maxLines);
    for (const QString& line : lines)
        add_history(line.toLocal8Bit().constData());
#else
    Q_UNUSED(lines)
    Q_UNUSED(maxLines)
#endif
}

void LineEditor::addHistory(const QString& line)
{
#ifdef STARSCTL_HAVE_LIBEDIT
    add_history(line.toLocal8Bit().constData());
#else
    Q_UNUSED(line)
#endif
}

void LineEditor::setCompletions(const QStringList& words)
{
    completions.clear();
    for (const QString& word : words)
        completions.append(word.toLocal8Bit());
}

char** LineEditor::complete(const char* text, int start, int end)
{
    Q_UNUSED(end)
#ifdef STARSCTL_HAVE_LIBEDIT
    // Only the command word; parameters are numbers and names, not files.
    rl_attempted_completion_over = 1;
    if (start == 0)
        return rl_completion_matches(text, &LineEditor::nextCompletion);
#else
    Q_UNUSED(text)
    Q_UNUSED(start)
#endif
    return nullptr;
}

char* LineEditor::nextCompletion(const char* text, int state)
{
    // libedit asks again and again, state 0 first, until it gets null.
    static int next = 0;
    if (state == 0)
        next = 0;
    if (!instance)
        return nullptr;
    const QList<QByteArray>& words = instance->completions;
    while (next < words.size()) {
        const QByteArray& word = words.at(next++);
        if (word.startsWith(text))
            return ::strdup(word.constData()); // libedit frees it
    }
    return nullptr;
}

void LineEditor::show(const QString& prompt)
{
    if (shown)
        return;
    promptText = prompt.toLocal8Bit();
#ifdef STARSCTL_HAVE_LIBEDIT
    // libedit takes the terminal's settings as they are now for the ones to
    // go back to, so the echo must be on again first.
    releaseKeys();
    std::fflush(stdout);
    // Puts the terminal in raw mode and draws the prompt.
    rl_callback_handler_install(promptText.constData(), &LineEditor::handleLine);
    shown = true;
    point = 0;
    notifier->setEnabled(true);
#endif
}

void LineEditor::hide()
{
    if (!shown)
        return;
    shown = false;
    notifier->setEnabled(false);
#ifdef STARSCTL_HAVE_LIBEDIT
    rl_callback_handler_remove();
#endif
    holdKeys();
}

void LineEditor::discardLine()
{
    if (!shown)
        return;
    // libedit's own signal handler has put the terminal in its normal mode
    // already; the input stays on the screen, the cursor goes below it.
    hide();
    std::fputs("\n", stdout);
    std::fflush(stdout);
#ifdef STARSCTL_HAVE_LIBEDIT
    rl_replace_line("", 0);
#endif
}

void LineEditor::print(const QByteArray& text, bool toStandardError)
{
    FILE* stream = toStandardError ? stderr : stdout;
    if (shown)
        clearInputArea();
    else
        std::fflush(stdout);
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fflush(stream);
#ifdef STARSCTL_HAVE_LIBEDIT
    // Draws prompt and input anew from the start of the current row.
    if (shown)
        rl_forced_update_display();
#endif
}

void LineEditor::clearInputArea()
{
#ifdef STARSCTL_HAVE_LIBEDIT
    // The input may wrap over several rows: go up to the prompt's row, then
    // clear to the end of the screen.
    int rows = 0;
    int columns = 0;
    rl_get_screen_size(&rows, &columns);
    const int up = columns > 0 ? (promptText.size() + point) / columns : 0;
    std::fputs("\r", stdout);
    if (up > 0)
        std::fprintf(stdout, "\033[%dA", up);
    std::fputs("\033[J", stdout);
    std::fflush(stdout);
#endif
}

void LineEditor::holdKeys()
{
    if (holding || ::tcgetattr(STDIN_FILENO, &terminal) != 0)
        return;
    struct termios silent = terminal;
    silent.c_lflag &= tcflag_t(~(ECHO | ECHONL));
    // TCSANOW: what was typed already stays in the terminal's queue.
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &silent) == 0)
        holding = true;
}

void LineEditor::releaseKeys()
{
    if (!holding)
        return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &terminal);
    holding = false;
}

void LineEditor::handleLine(char* line)
{
    LineEditor* self = instance;
    const bool ended = line == nullptr;
    const QByteArray bytes = ended ? QByteArray() : QByteArray(line);
    std::free(line);
    if (!self)
        return;
    // libedit has left raw mode for this line. The line is handed on once
    // libedit is out of its read call; the next prompt comes with show().
    self->hide();
    QMetaObject::invokeMethod(
        self,
        [self, bytes, ended] {
            if (ended)
                emit self->endOfInput();
            else
                emit self->lineRead(bytes);
        },
        Qt::QueuedConnection);
}
