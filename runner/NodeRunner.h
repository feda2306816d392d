#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A node program run as its own process in a fresh working directory, with
// the config.cfg and key file written from this object's settings. The
// caller decides what goes into them and what becomes of the output. The
// process is killed on destruction.
class NodeRunner
{
public:
    // dirTemplate as for QTemporaryDir; empty: under the system's temp path.
    NodeRunner(const QString& program, const QStringList& keys, const QString& dirTemplate = QString());
    ~NodeRunner();
    NodeRunner(const NodeRunner&) = delete;
    NodeRunner& operator=(const NodeRunner&) = delete;

    void setProgram(const QString& path) { programPath = path; }
    QString program() const { return programPath; }
    void setConfigValue(const QString& key, const QString& value) { configValues.insert(key, value); }
    void removeConfigValue(const QString& key) { configValues.remove(key); }
    void setConfig(const QMap<QString, QString>& config) { configValues = config; }
    QMap<QString, QString> config() const { return configValues; }
    // The config map as config.cfg holds it: one "KEY value" line each.
    QByteArray configText() const;
    void setKeys(const QStringList& keys) { keyList = keys; }
    QStringList keys() const { return keyList; }
    QProcessEnvironment& environment() { return env; }

    bool hasWorkDir() const { return dir.isValid(); }
    QString workDir() const { return dir.path(); }
    QString filePath(const QString& name) const { return dir.filePath(name); }
    // Writes a file into the working directory, replacing any before.
    bool writeFile(const QString& name, const QByteArray& contents);
    bool writeConfigFile() { return writeFile(QStringLiteral("config.cfg"), configText()); }
    // <baseName>.key with one key a line.
    bool writeKeyFile(const QString& baseName);

    // Starts the program in the working directory; false (with *why) if it
    // could not start in time.
    bool start(const QStringList& arguments, int timeoutMs, QString* why);
    void kill();
    bool isRunning() const { return proc.state() != QProcess::NotRunning; }
    QProcess& process() { return proc; }
    const QProcess& process() const { return proc; }

private:
    QString programPath;
    QStringList keyList;
    QTemporaryDir dir;
    QMap<QString, QString> configValues;
    QProcessEnvironment env;
    QProcess proc;
};
