// starsctl: log in to a STARS server as a node and talk to another node.
//
//   starsctl --to cam1 GetTemp "SetBin 2 2 1"
//   starsctl --subscribe StartExposure "wait _ChangedIsBusy 0"
//   starsctl < steps.txt
//   starsctl --interactive --subscribe      (or just starsctl, on a terminal)
//
// Exit status: 0 every step answered, 1 an error answer (Err:, Er:), 2 a time-out
// or no connection or log-in, 64 a bad command line.

#include "CtlOptions.h"
#include "InteractiveConsole.h"
#include "LineEditor.h"
#include "StarsCtl.h"
#include "StdinReader.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

int usageError(const QString& message)
{
    std::fprintf(stderr, "starsctl: %s\n", qPrintable(message));
    return StarsCtl::UsageError;
}

QString defaultHistoryFile()
{
    const QByteArray home = qgetenv("HOME");
    return home.isEmpty() ? QString()
                          : QDir(QString::fromLocal8Bit(home)).filePath(QStringLiteral(".starsctl_history"));
}

// The editor draws with ANSI sequences on the terminal it reads from.
bool terminalCanEdit()
{
    return ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO) && qgetenv("TERM") != "dumb";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("starsctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(STARSCAM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Logs in to a STARS server as a node and runs steps against another node.\n"
                       "A step is a command (\"GetTemp\", \"SetBin 2 2 1\"), sent as \"<node>><to> <command>\" and\n"
                       "done when the reply \"@GetTemp ...\" arrives, or \"wait <event text>\"\n"
                       "(\"wait _ChangedIsBusy 0\"), done when that event from <to> arrives.\n"
                       "Without steps on the command line they are read from standard input, one a line,\n"
                       "unless that is a terminal.\n"
                       "\n"
                       "Interactive mode (--interactive, and without steps when standard input is a\n"
                       "terminal): a prompt \"<to>> \"; each line typed is sent to <to> at once, and\n"
                       "replies and events are printed as they arrive. Lines starting with ':' are\n"
                       "local: :to NODE, :wait EVENT, :subscribe [NODE], :unsubscribe [NODE], :help,\n"
                       "and :quit (Ctrl-D or the end of input leave once every line sent has its reply).\n"
                       "On a terminal the line is edited in place, Tab completes command names, Ctrl-C\n"
                       "drops the line or ends a :wait, and up/down recall earlier lines, kept in the\n"
                       "history file (the newest 500).\n"
                       "From a pipe each line is printed after the prompt as it is taken.\n"
                       "\n"
                       "Exit status, in both modes: 0 all steps done; 1 an error answer (Err: or Er:);\n"
                       "2 a time-out (interactive: a :wait or the last replies), a connection or log-in\n"
                       "failure, or the connection lost; 64 a bad command line."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("STARS server address (default 127.0.0.1)."),
                                        QStringLiteral("H"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("STARS server port (default 6057)."),
                                        QStringLiteral("P"), QStringLiteral("6057"));
    const QCommandLineOption nodeOption(QStringLiteral("node"), QStringLiteral("Our node name (default term1)."),
                                        QStringLiteral("NAME"), QStringLiteral("term1"));
    const QCommandLineOption keyFileOption(QStringLiteral("keyfile"), QStringLiteral("Key file (default <node>.key)."),
                                           QStringLiteral("PATH"));
    const QCommandLineOption toOption(QStringLiteral("to"), QStringLiteral("Node the commands go to (default cam1)."),
                                      QStringLiteral("NAME"), QStringLiteral("cam1"));
    const QCommandLineOption subscribeOption(QStringLiteral("subscribe"),
                                             QStringLiteral("Receive the events of the target node (System flgon)."));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("Seconds to wait for each answer (default 10)."),
                                           QStringLiteral("SECONDS"), QStringLiteral("10"));
    const QCommandLineOption quietOption(QStringLiteral("quiet"),
                                         QStringLiteral("Print only the replies' text (interactive: the text of "
                                                        "every line received, and no prompts from a pipe)."));
    const QCommandLineOption interactiveOption(QStringList{QStringLiteral("i"), QStringLiteral("interactive")},
                                               QStringLiteral("Prompt for lines and send each at once."));
    const QCommandLineOption historyOption(QStringLiteral("history"),
                                           QStringLiteral("Interactive history file (default ~/.starsctl_history; "
                                                          "--history= keeps none)."),
                                           QStringLiteral("PATH"));
    parser.addOptions({hostOption, portOption, nodeOption, keyFileOption, toOption, subscribeOption, timeoutOption,
                       quietOption, interactiveOption, historyOption});
    parser.addPositionalArgument(QStringLiteral("step"), QStringLiteral("Command or \"wait <event>\"."),
                                 QStringLiteral("[STEP...]"));
    // Not process(): it ends a bad command line with status 1, which here means an error answer.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();

    CtlOptions options;
    options.host = parser.value(hostOption);
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return usageError(QStringLiteral("bad port \"%1\"").arg(parser.value(portOption)));
    options.port = quint16(port);
    options.node = parser.value(nodeOption);
    if (options.node.isEmpty() || options.node.contains(QLatin1Char(' ')))
        return usageError(QStringLiteral("bad node name \"%1\"").arg(options.node));
    options.keyFile = parser.value(keyFileOption);
    options.to = parser.value(toOption);
    if (options.to.isEmpty() || options.to.contains(QLatin1Char(' ')))
        return usageError(QStringLiteral("bad target node \"%1\"").arg(options.to));
    options.subscribe = parser.isSet(subscribeOption);
    options.timeoutSeconds = parser.value(timeoutOption).toInt(&ok);
    if (!ok || options.timeoutSeconds <= 0 || options.timeoutSeconds > 86400)
        return usageError(QStringLiteral("bad time-out \"%1\"").arg(parser.value(timeoutOption)));
    options.quiet = parser.isSet(quietOption);
    options.steps = parser.positionalArguments();
    options.interactive = parser.isSet(interactiveOption) || (options.steps.isEmpty() && ::isatty(STDIN_FILENO));
    if (options.interactive && !options.steps.isEmpty())
        return usageError(QStringLiteral("--interactive takes its lines from standard input, not as arguments"));
    options.historyFile = parser.isSet(historyOption) ? parser.value(historyOption) : defaultHistoryFile();

    StarsCtl ctl(options);
    QObject::connect(&ctl, &StarsCtl::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    std::unique_ptr<InteractiveConsole> console;
    if (options.interactive) {
        console = std::make_unique<InteractiveConsole>(ctl, options, terminalCanEdit());
    } else if (options.steps.isEmpty()) {
        auto* input = new StdinReader(&app);
        QObject::connect(input, &StdinReader::lineRead, &ctl,
                         [&ctl](const QByteArray& line) { ctl.addStep(QString::fromLocal8Bit(line)); });
        QObject::connect(input, &StdinReader::endOfInput, &ctl, &StarsCtl::endSteps);
    }
    QTimer::singleShot(0, &ctl, &StarsCtl::start);
    return app.exec();
}
