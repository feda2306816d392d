#include "Body.h"
#include "SignalPipe.h"
#include "Version.h"

#include <QCoreApplication>
#include <QStringList>

#include <csignal>
#include <cstdio>

namespace {

// sysexits.h's EX_USAGE; the units do not restart on it.
constexpr int ExitUsage = 64;

// Answers --help and --version; the service itself takes no arguments, so
// anything else is refused. Returns the exit status, or -1 to start serving.
int handleArguments(const QStringList& arguments)
{
    if (arguments.isEmpty())
        return -1;
    if (arguments == QStringList{QStringLiteral("--version")}) {
        std::printf("starscam %s\n", STARSCAM_VERSION);
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("--help")}) {
        std::printf("Usage: starscam [--help | --version]\n"
                    "Camera-control node on the STARS bus. Takes no arguments: reads config.cfg\n"
                    "and the key file from the working directory, logs in to the STARS server and\n"
                    "serves the camera's commands until the connection is lost.\n"
                    "Exit status: 0 connection lost or stopped (SIGTERM), 1 no key file, 2 configuration\n"
                    "refused (config.cfg unreadable, no STARS_IP or STARS_PORT, log-in refused),\n"
                    "64 bad command line.\n");
        return 0;
    }
    // Name the word that is wrong: an unknown one, else the second of two known ones.
    QString wrong = arguments.value(1);
    for (const QString& argument : arguments)
        if (argument != QLatin1String("--help") && argument != QLatin1String("--version")) {
            wrong = argument;
            break;
        }
    std::fprintf(stderr, "starscam: unexpected argument \"%s\"\nUsage: starscam [--help | --version]\n",
                 qPrintable(wrong));
    return ExitUsage;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int status = handleArguments(QCoreApplication::arguments().mid(1));
    if (status >= 0)
        return status;
    // Before Body: a stop asked for during start-up waits in the pipe.
    SignalPipe stopSignals({SIGTERM, SIGINT, SIGHUP});
    // Lives until the process ends: the service stops only through Body's exits.
    Body* body = new Body();
    QObject::connect(&stopSignals, &SignalPipe::arrived, body, &Body::stop);
    return app.exec();
}
