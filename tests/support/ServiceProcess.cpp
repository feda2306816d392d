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
    : QObject(parent), bus(server), serviceKeys{QStringLiteral("k7Yq"), QStringLiteral("Rw2p"), QStringLiteral("z9Lm"),
                                                QStringLiteral("Hc4x"), QStringLiteral("bQ6t")},
      programPath(QStringLiteral(STARSCAM_BIN)), environment(QProcessEnvironment::systemEnvironment())
{
    configValues.insert(QStringLiteral("NAME_ON_STARS"), QStringLiteral("cam1"));
    configValues.insert(QStringLiteral("KEY_FILE_NAME"), QStringLiteral("cam1"));
    configValues.insert(QStringLiteral("STARS_IP"), QStringLiteral("127.0.0.1"));
    configValues.insert(QStringLiteral("STARS_PORT"), QString::number(server.port()));
    configValues.insert(QStringLiteral("CAMERA_LIBRARY"), backend());
    if (backend() == QLatin1String("fli"))
        configValues.insert(QStringLiteral("FLI_LIBRARY"), qEnvironmentVariable(FliLibraryVariable));
    environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"),
                       QStringLiteral("[%{file}:%{line} %{function}] %{message}"));
    environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));

    connect(&process, &QProcess::readyReadStandardError, this, [this] { logBytes += process.readAllStandardError(); });
    connect(&process, &QProcess::readyReadStandardOutput, this,
            [this] { outputBytes += process.readAllStandardOutput(); });
}

ServiceProcess::~ServiceProcess()
{
    process.disconnect(this);
    kill();
}

QString ServiceProcess::backend()
{
    return qEnvironmentVariable(BackendVariable, QStringLiteral("sim"));
}

void ServiceProcess::setConfigValue(const QString& key, const QString& value)
{
    configValues.insert(key, value);
}

void ServiceProcess::removeConfigValue(const QString& key)
{
    configValues.remove(key);
}

void ServiceProcess::setEnvironmentValue(const QString& name, const QString& value)
{
    environment.insert(name, value);
}

bool ServiceProcess::writeFile(const QString& name, const QByteArray& contents)
{
    QFile file(filePath(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

bool ServiceProcess::start(int timeoutMs)
{
    if (programPath.isEmpty() || !QFile::exists(programPath)) {
        qWarning() << "the service is not built:" << programPath;
        return false;
    }
    if (!workDirectory.isValid() || !writeSetUpFiles()) {
        qWarning() << "cannot write the service's files into" << workDirectory.path();
        return false;
    }
    process.setWorkingDirectory(workDirectory.path());
    process.setProcessEnvironment(environment);
    process.start(programPath, programArguments);
    if (!process.waitForStarted(timeoutMs)) {
        qWarning() << "cannot start" << programPath << process.errorString();
        return false;
    }
    return true;
}

bool ServiceProcess::writeSetUpFiles()
{
    if (writeConfig && !writeFile(QStringLiteral("config.cfg"), configText()))
        return false;
    if (writeKeyFile
        && !writeFile(keyFileName() + QStringLiteral(".key"), serviceKeys.join(QLatin1Char('\n')).toLatin1() + '\n'))
        return false;
    return nodeName().isEmpty() || bus.addKeys(nodeName(), serviceKeys);
}

QByteArray ServiceProcess::configText() const
{
    if (useConfigText)
        return configFileText.toUtf8();
    QByteArray text;
    for (auto it = configValues.cbegin(); it != configValues.cend(); ++it)
        text += it.key().toUtf8() + ' ' + it.value().toUtf8() + '\n';
    return text;
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
    return TestWait::until([this] { return process.state() == QProcess::NotRunning; }, timeoutMs);
}

void ServiceProcess::terminate()
{
    process.terminate();
}

void ServiceProcess::kill()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}

bool ServiceProcess::isRunning() const
{
    return process.state() != QProcess::NotRunning;
}

QString ServiceProcess::filePath(const QString& name) const
{
    return QDir(workDirectory.path()).filePath(name);
}

QStringList ServiceProcess::files() const
{
    return QDir(workDirectory.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QString ServiceProcess::log()
{
    logBytes += process.readAllStandardError();
    return QString::fromUtf8(logBytes);
}

QString ServiceProcess::output()
{
    outputBytes += process.readAllStandardOutput();
    return QString::fromUtf8(outputBytes);
}
