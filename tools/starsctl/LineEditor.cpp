#include "LineEditor.h"

#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#ifdef STARSCTL_HAVE_LIBEDIT
#include <editline/readline.h>
#endif

LineEditor* LineEditor::s_instance = nullptr;

bool LineEditor::isAvailable()
{
#ifdef STARSCTL_HAVE_LIBEDIT
    return true;
#else
    return false;
#endif
}

LineEditor::LineEditor(QObject* parent)
    : QObject(parent), m_notifier(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    s_instance = this;
    m_notifier->setEnabled(false);
#ifdef STARSCTL_HAVE_LIBEDIT
    // "starsctl:" lines in ~/.editrc apply to us.
    rl_readline_name = "starsctl";
    rl_initialize();
    using_history();
    rl_attempted_completion_function = &LineEditor::complete;
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        rl_callback_read_char();
        // libedit updates rl_point only in its read call, so after a new
        // prompt it still holds the last line's cursor: keep our own.
        if (m_shown)
            m_point = rl_point;
    });
#endif
    holdKeys();
}

LineEditor::~LineEditor()
{
    // Leave the terminal as it was, without a prompt nobody answers.
    if (m_shown)
        clearInputArea();
    hide();
    releaseKeys();
    if (s_instance == this)
        s_instance = nullptr;
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
    m_completions.clear();
    for (const QString& word : words)
        m_completions.append(word.toLocal8Bit());
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
    if (!s_instance)
        return nullptr;
    const QList<QByteArray>& words = s_instance->m_completions;
    while (next < words.size()) {
        const QByteArray& word = words.at(next++);
        if (word.startsWith(text))
            return ::strdup(word.constData()); // libedit frees it
    }
    return nullptr;
}

void LineEditor::show(const QString& prompt)
{
    if (m_shown)
        return;
    m_prompt = prompt.toLocal8Bit();
#ifdef STARSCTL_HAVE_LIBEDIT
    // libedit takes the terminal's settings as they are now for the ones to
    // go back to, so the echo must be on again first.
    releaseKeys();
    std::fflush(stdout);
    // Puts the terminal in raw mode and draws the prompt.
    rl_callback_handler_install(m_prompt.constData(), &LineEditor::handleLine);
    m_shown = true;
    m_point = 0;
    m_notifier->setEnabled(true);
#endif
}

void LineEditor::hide()
{
    if (!m_shown)
        return;
    m_shown = false;
    m_notifier->setEnabled(false);
#ifdef STARSCTL_HAVE_LIBEDIT
    rl_callback_handler_remove();
#endif
    holdKeys();
}

void LineEditor::discardLine()
{
    if (!m_shown)
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
    if (m_shown)
        clearInputArea();
    else
        std::fflush(stdout);
    std::fwrite(text.constData(), 1, size_t(text.size()), stream);
    std::fflush(stream);
#ifdef STARSCTL_HAVE_LIBEDIT
    // Draws prompt and input anew from the start of the current row.
    if (m_shown)
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
    const int up = columns > 0 ? (m_prompt.size() + m_point) / columns : 0;
    std::fputs("\r", stdout);
    if (up > 0)
        std::fprintf(stdout, "\033[%dA", up);
    std::fputs("\033[J", stdout);
    std::fflush(stdout);
#endif
}

void LineEditor::holdKeys()
{
    if (m_holding || ::tcgetattr(STDIN_FILENO, &m_terminal) != 0)
        return;
    struct termios silent = m_terminal;
    silent.c_lflag &= tcflag_t(~(ECHO | ECHONL));
    // TCSANOW: what was typed already stays in the terminal's queue.
    if (::tcsetattr(STDIN_FILENO, TCSANOW, &silent) == 0)
        m_holding = true;
}

void LineEditor::releaseKeys()
{
    if (!m_holding)
        return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &m_terminal);
    m_holding = false;
}

void LineEditor::handleLine(char* line)
{
    LineEditor* self = s_instance;
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
