#include "ServiceProcess.h"

#include "BusNode.h"
#include "StarsTestServer.h"
#include "TestWait.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

ServiceProcess::ServiceProcess(StarsTestServer& server, QObject* parent)
    : QObject(parent), bus(server),
      runner(QStringLiteral(STARSCAM_BIN), {QStringLiteral("k7Yq"), QStringLiteral("Rw2p"), QStringLiteral("z9Lm"),
                                            QStringLiteral("Hc4x"), QStringLiteral("bQ6t")})
{
    runner.setConfigValue(QStringLiteral("NAME_ON_STARS"), QStringLiteral("cam1"));
    runner.setConfigValue(QStringLiteral("KEY_FILE_NAME"), QStringLiteral("cam1"));
    runner.setConfigValue(QStringLiteral("STARS_IP"), QStringLiteral("127.0.0.1"));
    runner.setConfigValue(QStringLiteral("STARS_PORT"), QString::number(server.port()));
    runner.setConfigValue(QStringLiteral("CAMERA_LIBRARY"), backend());
    if (backend() == QLatin1String("fli"))
        runner.setConfigValue(QStringLiteral("FLI_LIBRARY"), qEnvironmentVariable(FliLibraryVariable));
    runner.environment().insert(QStringLiteral("QT_MESSAGE_PATTERN"),
                                QStringLiteral("[%{file}:%{line} %{function}] %{message}"));
    runner.environment().insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));

    QProcess& process = runner.process();
    connect(&process, &QProcess::readyReadStandardError, this,
            [this, &process] { logBytes += process.readAllStandardError(); });
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [this, &process] { outputBytes += process.readAllStandardOutput(); });
}

ServiceProcess::~ServiceProcess()
{
    runner.process().disconnect(this);
    runner.kill();
}

QString ServiceProcess::backend()
{
    return qEnvironmentVariable(BackendVariable, QStringLiteral("sim"));
}

void ServiceProcess::setConfigValue(const QString& key, const QString& value)
{
    runner.setConfigValue(key, value);
}

void ServiceProcess::removeConfigValue(const QString& key)
{
    runner.removeConfigValue(key);
}

void ServiceProcess::setEnvironmentValue(const QString& name, const QString& value)
{
    runner.environment().insert(name, value);
}

bool ServiceProcess::writeFile(const QString& name, const QByteArray& contents)
{
    return runner.writeFile(name, contents);
}

bool ServiceProcess::start(int timeoutMs)
{
    if (runner.program().isEmpty() || !QFile::exists(runner.program())) {
        qWarning() << "the service is not built:" << runner.program();
        return false;
    }
    if (!runner.hasWorkDir() || !writeSetUpFiles()) {
        qWarning() << "cannot write the service's files into" << runner.workDir();
        return false;
    }
    QString why;
    if (!runner.start(programArguments, timeoutMs, &why)) {
        qWarning().noquote() << why;
        return false;
    }
    return true;
}

bool ServiceProcess::writeSetUpFiles()
{
    if (writeConfig && !writeFile(QStringLiteral("config.cfg"), configText()))
        return false;
    if (writeKeyFile && !runner.writeKeyFile(keyFileName()))
        return false;
    return nodeName().isEmpty() || bus.addKeys(nodeName(), runner.keys());
}

QByteArray ServiceProcess::configText() const
{
    return useConfigText ? configFileText.toUtf8() : runner.configText();
}

QMap<QString, QString> ServiceProcess::effectiveConfig() const
{
    // Read the way the service reads config.cfg: upper-case key and second
    // word, '#' starts a comment, a line of one word holds no value.
    QMap<QString, QString> config;
    if (!writeConfig)
        return config;
    const QRegularExpression whiteSpace(QStringLiteral("\\s+"));
    for (const QString& line : QString::fromUtf8(configText()).split(QLatin1Char('\n'))) {
        const QStringList words = line.simplified().split(whiteSpace, Qt::SkipEmptyParts);
        if (words.size() < 2 || words.at(0).startsWith(QLatin1Char('#')))
            continue;
        config[words.at(0).toUpper()] = words.at(1).startsWith(QLatin1Char('#')) ? QString() : words.at(1);
    }
    return config;
}

QString ServiceProcess::nodeName() const
{
    return effectiveConfig().value(QStringLiteral("NAME_ON_STARS"), QLatin1String(ServiceDefaultName));
}

QString ServiceProcess::keyFileName() const
{
    return effectiveConfig().value(QStringLiteral("KEY_FILE_NAME"), QLatin1String(ServiceDefaultName));
}
bool ServiceProcess::waitForLogin(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // A fresh name each time: the previous probe may not be logged out yet.
    static int probeCount = 0;
    const QString probeName = QStringLiteral("loginprobe%1").arg(++probeCount);
    const QStringList probeKeys{QStringLiteral("probekey")};
    if (!bus.addKeys(probeName, probeKeys))
        return false;
    BusNode probe;
    if (!probe.login(bus.port(), probeName, probeKeys, int(qMax<qint64>(1, deadline.remainingTime()))))
        return false;
    bool loggedIn = false;
    while (!loggedIn && isRunning() && !deadline.hasExpired()) {
        const QString reply = probe.request(QStringLiteral("System"), QStringLiteral("listnodes"),
                                            int(qMax<qint64>(1, deadline.remainingTime())));
        loggedIn = BusNode::textOf(reply).split(QLatin1Char(' ')).mid(1).contains(nodeName());
        if (!loggedIn)
            TestWait::until([] { return false; }, 20);
    }
    // Leave through the server, so the probe is off its node list before we return.
    probe.request(QStringLiteral("System"), QStringLiteral("disconnect ") + probeName);
    return loggedIn;
}

bool ServiceProcess::waitForExit(int timeoutMs)
{
    return TestWait::until([this] { return !runner.isRunning(); }, timeoutMs);
}

void ServiceProcess::terminate()
{
    runner.process().terminate();
}

void ServiceProcess::kill()
{
    runner.kill();
}

bool ServiceProcess::isRunning() const
{
    return runner.isRunning();
}

QString ServiceProcess::filePath(const QString& name) const
{
    return runner.filePath(name);
}

QStringList ServiceProcess::files() const
{
    return QDir(runner.workDir()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QString ServiceProcess::log()
{
    logBytes += runner.process().readAllStandardError();
    return QString::fromUtf8(logBytes);
}

QString ServiceProcess::output()
{
    outputBytes += runner.process().readAllStandardOutput();
    return QString::fromUtf8(outputBytes);
}
