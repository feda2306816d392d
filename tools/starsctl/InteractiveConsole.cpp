#include "InteractiveConsole.h"

#include "LineEditor.h"
#include "SMsg.h"
#include "SignalPipe.h"
#include "StarsCtl.h"
#include "StdinReader.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

const char HelpText[] =
    "Each line is sent to the target at once (\"GetTemp\" goes out as \"<node>><target> GetTemp\");\n"
    "replies and events are printed as they arrive. Lines starting with ':' stay here:\n"
    "  :to NODE             send the lines that follow to NODE (without NODE: show the target)\n"
    "  :wait EVENT          hold the prompt until that event comes from the target,\n"
    "                       e.g. :wait _ChangedIsBusy 0 (counts from the last line sent)\n"
    "  :subscribe [NODE]    receive the events of NODE (default the target)\n"
    "  :unsubscribe [NODE]  stop receiving them\n"
    "  :help                this text\n"
    "  :quit                leave at once\n"
    "Ctrl-D leaves once every line sent has its reply; Ctrl-C drops the line being\n"
    "typed or ends a wait. Up and down recall earlier lines.\n"
    "\"Abort\" ends the sequence the target runs; its _ChangedIsBusy 0 comes before the reply.";

// What Tab completes: the node's command words and the local commands.
QStringList completionWords()
{
    QStringList words;
    for (const CommandTableEntry* entry = CommandTable; entry->name[0] != '\0'; ++entry)
        words << QLatin1String(entry->name);
    words << QStringLiteral(":to") << QStringLiteral(":wait") << QStringLiteral(":subscribe")
          << QStringLiteral(":unsubscribe") << QStringLiteral(":help") << QStringLiteral(":quit");
    return words;
}

bool isCommand(const QString& word, std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        if (word == QLatin1String(name))
            return true;
    }
    return false;
}

} // namespace

InteractiveConsole::InteractiveConsole(StarsCtl& ctl, const CtlOptions& options, bool useLineEditor, QObject* parent)
    : QObject(parent), m_ctl(ctl), m_options(options), m_history(options.historyFile, HistoryLines)
{
    m_ctl.setPrinter([this](const QString& text, bool isError) { print(text, isError); });
    connect(&m_ctl, &StarsCtl::ready, this, &InteractiveConsole::runQueue);
    if (options.subscribe)
        m_subscribed.insert(options.to.section(QLatin1Char('.'), 0, 0));

    const QStringList history = m_history.load();
    if (useLineEditor && LineEditor::isAvailable()) {
        // Ctrl-C drops the line being typed or ends a wait instead of killing
        // starsctl; termination goes through the event loop so the terminal
        // gets its settings back.
        m_interrupts = new SignalPipe({SIGINT, SIGTERM, SIGHUP}, this);
        connect(m_interrupts, &SignalPipe::arrived, this, [this](int signalNumber) {
            if (signalNumber == SIGINT)
                interrupted();
            else
                m_ctl.quit();
        });
        m_editor = new LineEditor(this);
        m_editor->setHistory(history, HistoryLines);
        m_editor->setCompletions(completionWords());
        connect(m_editor, &LineEditor::lineRead, this, &InteractiveConsole::takeLine);
        connect(m_editor, &LineEditor::endOfInput, this, [this] {
            // Ctrl-D leaves the cursor after the prompt.
            print(QString());
            inputEnded();
        });
    } else {
        m_fromTerminal = ::isatty(STDIN_FILENO);
        m_reader = new StdinReader(this);
        connect(m_reader, &StdinReader::lineRead, this, &InteractiveConsole::takeLine);
        connect(m_reader, &StdinReader::endOfInput, this, &InteractiveConsole::inputEnded);
    }
}

InteractiveConsole::~InteractiveConsole()
{
    // The client may outlive us by a few lines; they go straight out.
    m_ctl.setPrinter(StarsCtl::Printer());
}

void InteractiveConsole::takeLine(const QByteArray& bytes)
{
    QString line = QString::fromLocal8Bit(bytes);
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    m_queue.append(line);
    runQueue();
}

void InteractiveConsole::inputEnded()
{
    m_inputEnded = true;
    runQueue();
}

void InteractiveConsole::interrupted()
{
    // At the prompt Ctrl-C drops the line being typed, as in a shell.
    if (m_editor && m_editor->isShown()) {
        m_editor->discardLine();
        runQueue();
        return;
    }
    m_ctl.interrupt();
}

void InteractiveConsole::runQueue()
{
    if (m_running)
        return;
    m_running = true;
    while (m_ctl.isReady() && !m_queue.isEmpty())
        runLine(m_queue.takeFirst());
    m_running = false;
    if (!m_ctl.isReady()) {
        if (m_editor)
            m_editor->hide();
        return;
    }
    if (m_inputEnded) {
        m_ctl.endInput();
        return;
    }
    if (m_editor)
        m_editor->show(prompt());
    else if (m_fromTerminal)
        write(prompt().toLocal8Bit(), false);
}

void InteractiveConsole::runLine(const QString& line)
{
    // From a pipe nobody saw the line next to its prompt: show both.
    if (!m_editor && !m_fromTerminal && !m_options.quiet)
        print(prompt() + line);
    const QString text = line.trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return;
    if (m_history.append(text) && m_editor)
        m_editor->addHistory(text);
    if (text.startsWith(QLatin1Char(':')))
        runLocal(text);
    else
        m_ctl.send(text);
}

void InteractiveConsole::runLocal(const QString& line)
{
    const QString simplified = line.simplified();
    const QString command = simplified.section(QLatin1Char(' '), 0, 0);
    const QString argument = simplified.section(QLatin1Char(' '), 1);
    if (isCommand(command, {":help", ":h", ":?"})) {
        print(QString::fromLatin1(HelpText));
    } else if (isCommand(command, {":quit", ":q", ":exit"})) {
        m_ctl.quit();
    } else if (command == QLatin1String(":to")) {
        if (argument.isEmpty())
            print(QStringLiteral("lines go to %1").arg(m_ctl.target()));
        else if (argument.contains(QLatin1Char(' ')) || argument.contains(QLatin1Char('>')))
            print(QStringLiteral("starsctl: bad target node \"%1\"").arg(argument), true);
        else {
            m_ctl.setTarget(argument);
            if (m_options.subscribe)
                m_subscribed.insert(argument.section(QLatin1Char('.'), 0, 0));
        }
    } else if (command == QLatin1String(":wait")) {
        const QString node = m_ctl.target().section(QLatin1Char('.'), 0, 0);
        if (argument.isEmpty()) {
            print(QStringLiteral("starsctl: :wait needs the text of an event, e.g. :wait _ChangedIsBusy 0"), true);
        } else {
            // Broadcast events (to System) reach only subscribers: without one
            // the wait would run into its time-out.
            if (!m_subscribed.contains(node) && !m_options.quiet)
                print(QStringLiteral("(not subscribed to the events of %1: only events sent to us count;"
                                     " :subscribe asks for them)")
                          .arg(node));
            m_ctl.waitForEvent(argument);
        }
        // On a terminal, say why the prompt is gone.
        if (m_editor && !m_ctl.isReady())
            print(QStringLiteral("(waiting for %1 from %2; Ctrl-C stops)").arg(argument, m_ctl.target()));
    } else if (isCommand(command, {":subscribe", ":unsubscribe"})) {
        const QString node = argument.isEmpty() ? m_ctl.target().section(QLatin1Char('.'), 0, 0) : argument;
        const bool on = command == QLatin1String(":subscribe");
        if (node.contains(QLatin1Char(' '))) {
            print(QStringLiteral("starsctl: %1 takes one node name").arg(command), true);
        } else {
            m_ctl.subscribe(node, on);
            if (on)
                m_subscribed.insert(node);
            else
                m_subscribed.remove(node);
        }
    } else {
        print(QStringLiteral("starsctl: unknown local command %1 (:help lists them)").arg(command), true);
    }
}

void InteractiveConsole::print(const QString& text, bool isError)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    if (m_editor)
        m_editor->print(bytes, isError);
    else
        write(bytes, isError);
}

void InteractiveConsole::write(const QByteArray& bytes, bool isError)
{
    FILE* stream = isError ? stderr : stdout;
    std::fflush(stdout);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString InteractiveConsole::prompt() const
{
    return m_ctl.target() + QStringLiteral("> ");
}
