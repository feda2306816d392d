// starsctl: log in to a STARS server as a node and talk to another node.
//
//   starsctl --to cam1 GetTemp "SetBin 2 2 1"
//   starsctl --subscribe StartExposure "wait _ChangedIsBusy 0"
//   starsctl < steps.txt
//
// Exit status: 0 every step answered, 1 a time-out, 2 no connection or log-in.

#include "CtlOptions.h"
#include "StarsCtl.h"
#include "StdinReader.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {

int usageError(const QString &message)
{
    std::fprintf(stderr, "starsctl: %s\n", qPrintable(message));
    return StarsCtl::ConnectionFailed;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("starsctl"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Logs in to a STARS server as a node and runs steps against another node.\n"
        "A step is a command (\"GetTemp\", \"SetBin 2 2 1\"), sent as \"<node>><to> <command>\" and\n"
        "done when the reply \"@GetTemp ...\" arrives, or \"wait <event text>\"\n"
        "(\"wait _ChangedIsBusy 0\"), done when that event from <to> arrives.\n"
        "Without steps on the command line they are read from standard input, one a line.\n"
        "Exit status: 0 all steps done, 1 a time-out, 2 connection or log-in failure."));
    parser.addHelpOption();
    const QCommandLineOption hostOption(QStringLiteral("host"), QStringLiteral("STARS server address (default 127.0.0.1)."),
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
    const QCommandLineOption quietOption(QStringLiteral("quiet"), QStringLiteral("Print only the replies' text."));
    parser.addOptions({hostOption, portOption, nodeOption, keyFileOption, toOption, subscribeOption,
                       timeoutOption, quietOption});
    parser.addPositionalArgument(QStringLiteral("step"), QStringLiteral("Command or \"wait <event>\"."),
                                 QStringLiteral("[STEP...]"));
    parser.process(app);

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

    StarsCtl ctl(options);
    QObject::connect(&ctl, &StarsCtl::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);
    if (options.steps.isEmpty()) {
        auto *input = new StdinReader(&app);
        QObject::connect(input, &StdinReader::lineRead, &ctl,
                         [&ctl](const QByteArray &line) { ctl.addStep(QString::fromLocal8Bit(line)); });
        QObject::connect(input, &StdinReader::endOfInput, &ctl, &StarsCtl::endSteps);
    }
    QTimer::singleShot(0, &ctl, &StarsCtl::start);
    return app.exec();
}
