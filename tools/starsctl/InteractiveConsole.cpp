#include "InteractiveConsole.h"

#include "CommandWords.h"
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
    for (const char* word : commandWords)
        words << QLatin1String(word);
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
    : QObject(parent), client(ctl), settings(options), historyFile(options.historyFile, HistoryLines)
{
    client.setPrinter([this](const QString& text, bool isError) { print(text, isError); });
    connect(&client, &StarsCtl::ready, this, &InteractiveConsole::runQueue);
    if (options.subscribe)
        subscribed.insert(options.to.section(QLatin1Char('.'), 0, 0));

    const QStringList history = historyFile.load();
    if (useLineEditor && LineEditor::isAvailable()) {
        // Ctrl-C drops the line being typed or ends a wait instead of killing
        // starsctl; termination goes through the event loop so the terminal
        // gets its settings back.
        interrupts = new SignalPipe({SIGINT, SIGTERM, SIGHUP}, this);
        connect(interrupts, &SignalPipe::arrived, this, [this](int signalNumber) {
            if (signalNumber == SIGINT)
                interrupted();
            else
                client.quit();
        });
        editor = new LineEditor(this);
        editor->setHistory(history, HistoryLines);
        editor->setCompletions(completionWords());
        connect(editor, &LineEditor::lineRead, this, &InteractiveConsole::takeLine);
        connect(editor, &LineEditor::endOfInput, this, [this] {
            // Ctrl-D leaves the cursor after the prompt.
            print(QString());
            inputEnded();
        });
    } else {
        fromTerminal = ::isatty(STDIN_FILENO);
        reader = new StdinReader(this);
        connect(reader, &StdinReader::lineRead, this, &InteractiveConsole::takeLine);
        connect(reader, &StdinReader::endOfInput, this, &InteractiveConsole::inputEnded);
    }
}

InteractiveConsole::~InteractiveConsole()
{
    // The client may outlive us by a few lines; they go straight out.
    client.setPrinter(StarsCtl::Printer());
}

void InteractiveConsole::takeLine(const QByteArray& bytes)
{
    QString line = QString::fromLocal8Bit(bytes);
    if (line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    queue.append(line);
    runQueue();
}

void InteractiveConsole::inputEnded()
{
    inputHasEnded = true;
    runQueue();
}

void InteractiveConsole::interrupted()
{
    // At the prompt Ctrl-C drops the line being typed, as in a shell.
    if (editor && editor->isShown()) {
        editor->discardLine();
        runQueue();
        return;
    }
    client.interrupt();
}

void InteractiveConsole::runQueue()
{
    if (running)
        return;
    running = true;
    while (client.isReady() && !queue.isEmpty())
        runLine(queue.takeFirst());
    running = false;
    if (!client.isReady()) {
        if (editor)
            editor->hide();
        return;
    }
    if (inputHasEnded) {
        client.endInput();
        return;
    }
    if (editor)
        editor->show(prompt());
    else if (fromTerminal)
        write(prompt().toLocal8Bit(), false);
}

void InteractiveConsole::runLine(const QString& line)
{
    // From a pipe nobody saw the line next to its prompt: show both.
    if (!editor && !fromTerminal && !settings.quiet)
        print(prompt() + line);
    const QString text = line.trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return;
    if (historyFile.append(text) && editor)
        editor->addHistory(text);
    if (text.startsWith(QLatin1Char(':')))
        runLocal(text);
    else
        client.send(text);
}

void InteractiveConsole::runLocal(const QString& line)
{
    const QString simplified = line.simplified();
    const QString command = simplified.section(QLatin1Char(' '), 0, 0);
    const QString argument = simplified.section(QLatin1Char(' '), 1);
    if (isCommand(command, {":help", ":h", ":?"})) {
        print(QString::fromLatin1(HelpText));
    } else if (isCommand(command, {":quit", ":q", ":exit"})) {
        client.quit();
    } else if (command == QLatin1String(":to")) {
        if (argument.isEmpty())
            print(QStringLiteral("lines go to %1").arg(client.target()));
        else if (argument.contains(QLatin1Char(' ')) || argument.contains(QLatin1Char('>')))
            print(QStringLiteral("starsctl: bad target node \"%1\"").arg(argument), true);
        else {
            client.setTarget(argument);
            if (settings.subscribe)
                subscribed.insert(argument.section(QLatin1Char('.'), 0, 0));
        }
    } else if (command == QLatin1String(":wait")) {
        const QString node = client.target().section(QLatin1Char('.'), 0, 0);
        if (argument.isEmpty()) {
            print(QStringLiteral("starsctl: :wait needs the text of an event, e.g. :wait _ChangedIsBusy 0"), true);
        } else {
            // Broadcast events (to System) reach only subscribers: without one
            // the wait would run into its time-out.
            if (!subscribed.contains(node) && !settings.quiet)
                print(QStringLiteral("(not subscribed to the events of %1: only events sent to us count;"
                                     " :subscribe asks for them)")
                          .arg(node));
            client.waitForEvent(argument);
        }
        // On a terminal, say why the prompt is gone.
        if (editor && !client.isReady())
            print(QStringLiteral("(waiting for %1 from %2; Ctrl-C stops)").arg(argument, client.target()));
    } else if (isCommand(command, {":subscribe", ":unsubscribe"})) {
        const QString node = argument.isEmpty() ? client.target().section(QLatin1Char('.'), 0, 0) : argument;
        const bool on = command == QLatin1String(":subscribe");
        if (node.contains(QLatin1Char(' '))) {
            print(QStringLiteral("starsctl: %1 takes one node name").arg(command), true);
        } else {
            client.subscribe(node, on);
            if (on)
                subscribed.insert(node);
            else
                subscribed.remove(node);
        }
    } else {
        print(QStringLiteral("starsctl: unknown local command %1 (:help lists them)").arg(command), true);
    }
}

void InteractiveConsole::print(const QString& text, bool isError)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    if (editor)
        editor->print(bytes, isError);
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
    return client.target() + QStringLiteral("> ");
}
