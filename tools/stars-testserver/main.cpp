// stars-testserver: a small STARS server for tests and demos.
//
// Prints "listening <address> <port>" as its first line once it accepts
// connections (so a caller using --port 0 learns the port), then serves until
// SIGTERM or SIGINT.

#include "ServerOptions.h"
#include "SignalPipe.h"
#include "TestServer.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <csignal>
#include <cstdio>

namespace {

int fail(const QString& message)
{
    std::fprintf(stderr, "stars-testserver: %s\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("stars-testserver"));
    QCoreApplication::setApplicationVersion(QStringLiteral(STARSCAM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A STARS server for tests and demos. Nodes log in with the key file <keydir>/<node>.key,\n"
                       "one key per line; a refused log-in is answered \"Er: Bad node name or key\",\n"
                       "\"Er: <node> already exists.\" or \"Er: Bad host for <node>\" and closed. Then\n"
                       "lines \"from>to command ...\" are routed to node \"to\"; the node System understands\n"
                       "flgon, flgoff, listnodes and disconnect."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption(
        QStringLiteral("port"), QStringLiteral("TCP port to listen on; 0 lets the system pick one (default 6057)."),
        QStringLiteral("N"), QStringLiteral("6057"));
    const QCommandLineOption hostOption(QStringLiteral("host"),
                                        QStringLiteral("Loopback address to listen on (default 127.0.0.1)."),
                                        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption keyDirOption(
        QStringLiteral("keydir"),
        QStringLiteral("Directory holding the <node>.key files (default: current directory)."), QStringLiteral("DIR"),
        QStringLiteral("."));
    const QCommandLineOption allowHostOption(
        QStringLiteral("allow-host"),
        QStringLiteral("Let NODE log in only from HOST (an IP address); repeat for more hosts or "
                       "nodes. Nodes never named here may log in from any host."),
        QStringLiteral("NODE=HOST"));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"),
        QStringLiteral("Print every line received (\"node -> line\") and sent (\"-> node: line\")."));
    const QCommandLineOption noVerdictOption(
        QStringLiteral("no-verdict"), QStringLiteral("Fault: log nodes in as usual but never send the verdict line."));
    const QCommandLineOption doubleVerdictOption(QStringLiteral("double-verdict"),
                                                 QStringLiteral("Fault: send the verdict line twice."));
    const QCommandLineOption dropAfterKeyOption(
        QStringLiteral("drop-after-key"),
        QStringLiteral("Fault: close the connection as soon as the key line arrives."));
    const QCommandLineOption refuseHostsOption(
        QStringLiteral("refuse-hosts"),
        QStringLiteral("Refuse every connection before the key number with \"Bad host. <address>\", then close "
                       "(a server whose host list lacks the client)."));
    parser.addOptions({portOption, hostOption, keyDirOption, allowHostOption, verboseOption, noVerdictOption,
                       doubleVerdictOption, dropAfterKeyOption, refuseHostsOption});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    ServerOptions options;
    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        return fail(QStringLiteral("bad port \"%1\"").arg(parser.value(portOption)));
    options.port = quint16(port);
    // A test server has no business on a network interface.
    if (!options.host.setAddress(parser.value(hostOption)) || !options.host.isLoopback())
        return fail(QStringLiteral("host must be a loopback address, not \"%1\"").arg(parser.value(hostOption)));
    options.keyDir = parser.value(keyDirOption);
    if (!QDir(options.keyDir).exists())
        return fail(QStringLiteral("key directory \"%1\" does not exist").arg(options.keyDir));
    for (const QString& rule : parser.values(allowHostOption)) {
        const QByteArray node = rule.section(QLatin1Char('='), 0, 0).toLatin1();
        QHostAddress host;
        if (node.isEmpty() || !host.setAddress(rule.section(QLatin1Char('='), 1)))
            return fail(QStringLiteral("--allow-host needs NODE=HOST with an IP address, not \"%1\"").arg(rule));
        options.allowedHosts[node].append(host);
    }
    options.verbose = parser.isSet(verboseOption);
    options.noVerdict = parser.isSet(noVerdictOption);
    options.doubleVerdict = parser.isSet(doubleVerdictOption);
    options.dropAfterKey = parser.isSet(dropAfterKeyOption);
    options.refuseHosts = parser.isSet(refuseHostsOption);

    SignalPipe stopSignals({SIGTERM, SIGINT});
    QObject::connect(&stopSignals, &SignalPipe::arrived, &app, &QCoreApplication::quit);

    TestServer server(options);
    if (!server.listen())
        return fail(QStringLiteral("cannot listen on %1 port %2: %3")
                        .arg(options.host.toString())
                        .arg(options.port)
                        .arg(server.errorString()));
    std::printf("listening %s %u\n", qPrintable(server.address().toString()), unsigned(server.port()));
    std::fflush(stdout);

    return app.exec();
}
