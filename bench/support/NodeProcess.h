#pragma once

#include "NodeRunner.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// A node program (the service or the echo node) run in a fresh working
// directory under the benchmark's work root, with the config.cfg and key file
// this object writes: NAME_ON_STARS cam1, KEY_FILE_NAME cam1, the simulated
// camera 0 and the given server port. Its standard error goes to a file in
// the working directory. Killed on destruction.
class NodeProcess
{
public:
    // How the node's qDebug() lines are treated.
    enum class DebugOutput {
        Off,   // QT_LOGGING_RULES "*.debug=false"
        ToFile // on, with the README's QT_MESSAGE_PATTERN
    };

    NodeProcess(const QString& program, const QString& workRoot);
    ~NodeProcess();
    NodeProcess(const NodeProcess&) = delete;
    NodeProcess& operator=(const NodeProcess&) = delete;

    void setConfigValue(const QString& key, const QString& value) { runner.setConfigValue(key, value); }
    void setDebugOutput(DebugOutput mode);

    // The CPU every node started afterwards is bound to; -1: none.
    static void setNodeCpu(int cpu) { nodeCpu = cpu; }
    static int nodeCpuNumber() { return nodeCpu; }

    // Writes the files and starts the program; startedAtNs() is taken right
    // before the process is created.
    bool start(quint16 serverPort, QString* why);
    void stop();
    // Waits up to timeoutMs for the node to end by itself.
    bool waitForExit(int timeoutMs);
    bool isRunning() const;

    std::int64_t startedAtNs() const { return startNs; }
    qint64 pid() const { return runner.process().processId(); }
    QString nodeName() const { return runner.config().value(QStringLiteral("NAME_ON_STARS")); }
    QStringList keys() const { return runner.keys(); }
    QString workDir() const { return runner.workDir(); }
    QString logPath() const;
    qint64 logSize() const;

    // CPU time the node has used so far, in nanoseconds at the kernel's tick
    // resolution; -1 when unknown.
    struct CpuTime
    {
        std::int64_t user = -1;
        std::int64_t system = -1;
        std::int64_t total() const { return user + system; }
    };
    CpuTime cpuTime() const;
    // CPU time of the node's main thread so far, in nanoseconds to the
    // microsecond (the scheduler's own account); -1 when unknown.
    std::int64_t mainThreadRuntimeNs() const;

    // A "Vm..." field of /proc/<pid>/status in KiB (VmHWM, VmRSS); -1 when unknown.
    qint64 statusKiB(const char* field) const;

private:
    NodeRunner runner;
    std::int64_t startNs = 0;
    static int nodeCpu;
};
