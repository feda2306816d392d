#include "StarsTestServer.h"

#include "TestWait.h"

#include <QDebug>
#include <QDir>
#include <QFile>

StarsTestServer::StarsTestServer(Faults faults) : m_faults(faults)
{
    // Our stderr shows the server's complaints next to the test's output.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

StarsTestServer::~StarsTestServer()
{
    m_process.disconnect();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool StarsTestServer::start(int timeoutMs)
{
    const QString program = QStringLiteral(STARS_TESTSERVER_BIN);
    if (program.isEmpty() || !m_keyDir.isValid()) {
        qWarning() << "stars-testserver is not built or no key directory:" << program;
        return false;
    }
    QStringList arguments{QStringLiteral("--port"), QString::number(m_requestedPort), QStringLiteral("--keydir"),
                          m_keyDir.path()};
    if (m_verbose)
        arguments << QStringLiteral("--verbose");
    if (m_faults & NoVerdict)
        arguments << QStringLiteral("--no-verdict");
    if (m_faults & DoubleVerdict)
        arguments << QStringLiteral("--double-verdict");
    if (m_faults & DropAfterKey)
        arguments << QStringLiteral("--drop-after-key");
    arguments << m_extraArguments;

    // A server started again reports its port afresh.
    m_process.disconnect();
    m_output.clear();
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(timeoutMs)) {
        qWarning() << "cannot start" << program << m_process.errorString();
        return false;
    }
    // The first line is "listening <address> <port>".
    const bool gotLine = TestWait::until(
        [this] {
            m_output += m_process.readAllStandardOutput();
            return m_output.contains('\n') || m_process.state() == QProcess::NotRunning;
        },
        timeoutMs);
    const QList<QByteArray> words = m_output.left(m_output.indexOf('\n')).split(' ');
    if (!gotLine || words.size() != 3 || words.at(0) != "listening") {
        qWarning() << "stars-testserver did not report its port:" << m_output;
        return false;
    }
    m_port = quint16(words.at(2).toUInt());
    // Keep draining stdout so a verbose server never blocks on a full pipe.
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                     [this] { m_output += m_process.readAllStandardOutput(); });
    return m_port != 0;
}

bool StarsTestServer::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

bool StarsTestServer::addKeys(const QString& node, const QStringList& keys)
{
    QFile file(QDir(m_keyDir.path()).filePath(node + QStringLiteral(".key")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(keys.join(QLatin1Char('\n')).toLatin1() + '\n') > 0;
}

bool StarsTestServer::terminate(int timeoutMs)
{
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QString StarsTestServer::output()
{
    m_output += m_process.readAllStandardOutput();
    return QString::fromLatin1(m_output);
}
