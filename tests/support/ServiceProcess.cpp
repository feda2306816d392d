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
    : QObject(parent), m_server(server), m_keys{QStringLiteral("k7Yq"), QStringLiteral("Rw2p"), QStringLiteral("z9Lm"),
                                                QStringLiteral("Hc4x"), QStringLiteral("bQ6t")},
      m_program(QStringLiteral(STARSCAM_BIN)), m_environment(QProcessEnvironment::systemEnvironment())
{
    m_config.insert(QStringLiteral("NAME_ON_STARS"), QStringLiteral("cam1"));
    m_config.insert(QStringLiteral("KEY_FILE_NAME"), QStringLiteral("cam1"));
    m_config.insert(QStringLiteral("STARS_IP"), QStringLiteral("127.0.0.1"));
    m_config.insert(QStringLiteral("STARS_PORT"), QString::number(server.port()));
    m_config.insert(QStringLiteral("CAMERA_LIBRARY"), backend());
    if (backend() == QLatin1String("fli"))
        m_config.insert(QStringLiteral("FLI_LIBRARY"), qEnvironmentVariable(FliLibraryVariable));
    m_environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"),
                         QStringLiteral("[%{file}:%{line} %{function}] %{message}"));
    m_environment.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));

    connect(&m_process, &QProcess::readyReadStandardError, this, [this] { m_log += m_process.readAllStandardError(); });
    connect(&m_process, &QProcess::readyReadStandardOutput, this,
            [this] { m_output += m_process.readAllStandardOutput(); });
}

ServiceProcess::~ServiceProcess()
{
    m_process.disconnect(this);
    kill();
}

QString ServiceProcess::backend()
{
    return qEnvironmentVariable(BackendVariable, QStringLiteral("sim"));
}

void ServiceProcess::setConfigValue(const QString& key, const QString& value)
{
    m_config.insert(key, value);
}

void ServiceProcess::removeConfigValue(const QString& key)
{
    m_config.remove(key);
}

void ServiceProcess::setEnvironmentValue(const QString& name, const QString& value)
{
    m_environment.insert(name, value);
}

bool ServiceProcess::writeFile(const QString& name, const QByteArray& contents)
{
    QFile file(filePath(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

bool ServiceProcess::start(int timeoutMs)
{
    if (m_program.isEmpty() || !QFile::exists(m_program)) {
        qWarning() << "the service is not built:" << m_program;
        return false;
    }
    if (!m_workDir.isValid() || !writeSetUpFiles()) {
        qWarning() << "cannot write the service's files into" << m_workDir.path();
        return false;
    }
    m_process.setWorkingDirectory(m_workDir.path());
    m_process.setProcessEnvironment(m_environment);
    m_process.start(m_program, m_arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        qWarning() << "cannot start" << m_program << m_process.errorString();
        return false;
    }
    return true;
}

bool ServiceProcess::writeSetUpFiles()
{
    if (m_writeConfig && !writeFile(QStringLiteral("config.cfg"), configText()))
        return false;
    if (m_writeKeyFile
        && !writeFile(keyFileName() + QStringLiteral(".key"), m_keys.join(QLatin1Char('\n')).toLatin1() + '\n'))
        return false;
    return nodeName().isEmpty() || m_server.addKeys(nodeName(), m_keys);
}

QByteArray ServiceProcess::configText() const
{
    if (m_useConfigText)
        return m_configText.toUtf8();
    QByteArray text;
    for (auto it = m_config.cbegin(); it != m_config.cend(); ++it)
        text += it.key().toUtf8() + ' ' + it.value().toUtf8() + '\n';
    return text;
}

QMap<QString, QString> ServiceProcess::effectiveConfig() const
{
    // Read the way the service reads config.cfg: upper-case key and second
    // word, '#' starts a comment, a line of one word holds no value.
    QMap<QString, QString> config;
    if (!m_writeConfig)
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
    if (!m_server.addKeys(probeName, probeKeys))
        return false;
    BusNode probe;
    if (!probe.login(m_server.port(), probeName, probeKeys, int(qMax<qint64>(1, deadline.remainingTime()))))
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
    return TestWait::until([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
}

void ServiceProcess::terminate()
{
    m_process.terminate();
}

void ServiceProcess::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

bool ServiceProcess::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

QString ServiceProcess::filePath(const QString& name) const
{
    return QDir(m_workDir.path()).filePath(name);
}

QStringList ServiceProcess::files() const
{
    return QDir(m_workDir.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
}

QString ServiceProcess::log()
{
    m_log += m_process.readAllStandardError();
    return QString::fromUtf8(m_log);
}

QString ServiceProcess::output()
{
    m_output += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_output);
}
