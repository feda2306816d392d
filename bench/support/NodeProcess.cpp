#include "NodeProcess.h"

#include "Clock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sched.h>
#include <unistd.h>

int NodeProcess::nodeCpu = -1;

NodeProcess::NodeProcess(const QString& program, const QString& workRoot)
    : runner(program, {QStringLiteral("k7Yq"), QStringLiteral("Rw2p"), QStringLiteral("z9Lm"), QStringLiteral("Hc4x")},
             QDir(workRoot).filePath(QStringLiteral("node-XXXXXX")))
{
    runner.setConfigValue(QStringLiteral("NAME_ON_STARS"), QStringLiteral("cam1"));
    runner.setConfigValue(QStringLiteral("KEY_FILE_NAME"), QStringLiteral("cam1"));
    runner.setConfigValue(QStringLiteral("STARS_IP"), QStringLiteral("127.0.0.1"));
    runner.setConfigValue(QStringLiteral("CAMERA_NO"), QStringLiteral("0"));
    runner.setConfigValue(QStringLiteral("CAMERA_LIBRARY"), QStringLiteral("sim"));
    runner.environment().remove(QStringLiteral("QT_LOGGING_CONF"));
    setDebugOutput(DebugOutput::Off);
}

NodeProcess::~NodeProcess()
{
    stop();
}

void NodeProcess::setDebugOutput(DebugOutput mode)
{
    QProcessEnvironment& environment = runner.environment();
    if (mode == DebugOutput::Off) {
        // qDebug() without a category logs to "default"; this rule (as does
        // "default.debug=false") leaves standard error empty.
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
        environment.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    } else {
        environment.remove(QStringLiteral("QT_LOGGING_RULES"));
        environment.insert(QStringLiteral("QT_MESSAGE_PATTERN"),
                           QStringLiteral("[%{file}:%{line} %{function}] %{message}"));
    }
}

QString NodeProcess::logPath() const
{
    return runner.filePath(QStringLiteral("stderr.log"));
}

qint64 NodeProcess::logSize() const
{
    return QFileInfo(logPath()).size();
}

bool NodeProcess::start(quint16 serverPort, QString* why)
{
    if (!runner.hasWorkDir()) {
        *why = QStringLiteral("cannot create a working directory");
        return false;
    }
    runner.setConfigValue(QStringLiteral("STARS_PORT"), QString::number(serverPort));
    if (!runner.writeConfigFile() || !runner.writeKeyFile(runner.config().value(QStringLiteral("KEY_FILE_NAME")))) {
        *why = QStringLiteral("cannot write the node's files");
        return false;
    }
    QProcess& process = runner.process();
    process.setStandardErrorFile(logPath(), QIODevice::Append);
    process.setStandardOutputFile(QProcess::nullDevice());
    startNs = nowNs();
    if (!runner.start(QStringList(), 10000, why))
        return false;
    if (nodeCpu >= 0) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(nodeCpu, &set);
        ::sched_setaffinity(pid_t(process.processId()), sizeof set, &set);
    }
    return true;
}

void NodeProcess::stop()
{
    runner.kill();
}

bool NodeProcess::isRunning() const
{
    return runner.isRunning();
}

qint64 NodeProcess::statusKiB(const char* field) const
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).simplified().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool NodeProcess::waitForExit(int timeoutMs)
{
    return !runner.isRunning() || runner.process().waitForFinished(timeoutMs);
}

NodeProcess::CpuTime NodeProcess::cpuTime() const
{
    CpuTime t;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid()));
    if (!stat.open(QIODevice::ReadOnly))
        return t;
    // The command name may hold blanks: count the fields after its ')'.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return t;
    // Fields 14 and 15 of the file (utime, stime) are 12 and 13 after the name.
    const std::int64_t tick = 1000000000LL / ::sysconf(_SC_CLK_TCK);
    t.user = fields.at(11).toLongLong() * tick;
    t.system = fields.at(12).toLongLong() * tick;
    return t;
}

std::int64_t NodeProcess::mainThreadRuntimeNs() const
{
    QFile sched(QStringLiteral("/proc/%1/sched").arg(pid()));
    if (!sched.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : sched.readAll().split('\n')) {
        if (line.startsWith("se.sum_exec_runtime")) {
            // "se.sum_exec_runtime   :   1234.567890" in milliseconds
            const QByteArray value = line.mid(line.indexOf(':') + 1).trimmed();
            const int dot = value.indexOf('.');
            if (dot < 0)
                return value.toLongLong() * 1000000;
            const QByteArray fraction = (value.mid(dot + 1) + "000000").left(6);
            return value.left(dot).toLongLong() * 1000000 + fraction.toLongLong();
        }
    }
    return -1;
}
