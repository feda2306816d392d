#include "StarsTestServer.h"

#include "TestWait.h"

#include <QDebug>
#include <QDir>
#include <QFile>

StarsTestServer::StarsTestServer(Faults faults) : faultSet(faults)
{
    // Our stderr shows the server's complaints next to the test's output.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

StarsTestServer::~StarsTestServer()
{
    process.disconnect();
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool StarsTestServer::start(int timeoutMs)
{
    const QString program = QStringLiteral(STARS_TESTSERVER_BIN);
    if (program.isEmpty() || !keyDirectory.isValid()) {
        qWarning() << "stars-testserver is not built or no key directory:" << program;
        return false;
    }
    QStringList arguments{QStringLiteral("--port"), QString::number(requestedPort), QStringLiteral("--keydir"),
                          keyDirectory.path()};
    if (verboseTrace)
        arguments << QStringLiteral("--verbose");
    if (faultSet & NoVerdict)
        arguments << QStringLiteral("--no-verdict");
    if (faultSet & DoubleVerdict)
        arguments << QStringLiteral("--double-verdict");
    if (faultSet & DropAfterKey)
        arguments << QStringLiteral("--drop-after-key");
    arguments << extraArguments;

    // A server started again reports its port afresh.
    process.disconnect();
    outputBytes.clear();
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        qWarning() << "cannot start" << program << process.errorString();
        return false;
    }
    // The first line is "listening <address> <port>".
    const bool gotLine = TestWait::until(
        [this] {
            outputBytes += process.readAllStandardOutput();
            return outputBytes.contains('\n') || process.state() == QProcess::NotRunning;
        },
        timeoutMs);
    const QList<QByteArray> words = outputBytes.left(outputBytes.indexOf('\n')).split(' ');
    if (!gotLine || words.size() != 3 || words.at(0) != "listening") {
        qWarning() << "stars-testserver did not report its port:" << outputBytes;
        return false;
    }
    listenPort = quint16(words.at(2).toUInt());
    // Keep draining stdout so a verbose server never blocks on a full pipe.
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [this] { outputBytes += process.readAllStandardOutput(); });
    return listenPort != 0;
}

bool StarsTestServer::isRunning() const
{
    return process.state() == QProcess::Running;
}

bool StarsTestServer::addKeys(const QString& node, const QStringList& keys)
{
    QFile file(QDir(keyDirectory.path()).filePath(node + QStringLiteral(".key")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(keys.join(QLatin1Char('\n')).toLatin1() + '\n') > 0;
}

bool StarsTestServer::terminate(int timeoutMs)
{
    process.terminate();
    if (!process.waitForFinished(timeoutMs))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString StarsTestServer::output()
{
    outputBytes += process.readAllStandardOutput();
    return QString::fromLatin1(outputBytes);
}
