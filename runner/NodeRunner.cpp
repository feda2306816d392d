#include "NodeRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {
// QTemporaryDir's own default: <temp>/<application>-XXXXXX.
QString defaultDirTemplate()
{
    const QString name = QCoreApplication::applicationName();
    return QDir(QDir::tempPath())
        .filePath((name.isEmpty() ? QStringLiteral("qt_temp") : name) + QStringLiteral("-XXXXXX"));
}
} // namespace

NodeRunner::NodeRunner(const QString& program, const QStringList& keys, const QString& dirTemplate)
    : programPath(program), keyList(keys), dir(dirTemplate.isEmpty() ? defaultDirTemplate() : dirTemplate),
      env(QProcessEnvironment::systemEnvironment())
{}

NodeRunner::~NodeRunner()
{
    kill();
}

QByteArray NodeRunner::configText() const
{
    QByteArray text;
    for (auto it = configValues.cbegin(); it != configValues.cend(); ++it)
        text += it.key().toUtf8() + ' ' + it.value().toUtf8() + '\n';
    return text;
}

bool NodeRunner::writeFile(const QString& name, const QByteArray& contents)
{
    QFile file(filePath(name));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

bool NodeRunner::writeKeyFile(const QString& baseName)
{
    return writeFile(baseName + QStringLiteral(".key"), keyList.join(QLatin1Char('\n')).toLatin1() + '\n');
}

bool NodeRunner::start(const QStringList& arguments, int timeoutMs, QString* why)
{
    proc.setWorkingDirectory(dir.path());
    proc.setProcessEnvironment(env);
    proc.start(programPath, arguments);
    if (!proc.waitForStarted(timeoutMs)) {
        *why = QStringLiteral("cannot start %1: %2").arg(programPath, proc.errorString());
        return false;
    }
    return true;
}

void NodeRunner::kill()
{
    if (proc.state() == QProcess::NotRunning)
        return;
    proc.kill();
    proc.waitForFinished(5000);
}
