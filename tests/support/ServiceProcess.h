#pragma once

#include "NodeRunner.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>

class StarsTestServer;

// The service under test, run as its own process in a fresh working
// directory holding the config.cfg and key file this object writes. Its
// stderr (the Qt debug log) is collected for the test; it is killed on
// destruction.
//
// By default the configuration is NAME_ON_STARS cam1, KEY_FILE_NAME cam1,
// STARS_IP 127.0.0.1, STARS_PORT <the server's port> and CAMERA_LIBRARY
// backend() (with FLI_LIBRARY for "fli"); the key file
// <KEY_FILE_NAME>.key is written and its keys registered with the server for
// the node the service logs in as, so start() followed by waitForLogin()
// brings a logged-in node "cam1". Construct it after the server has started.
class ServiceProcess : public QObject
{
    Q_OBJECT
public:
    explicit ServiceProcess(StarsTestServer& server, QObject* parent = nullptr);
    ~ServiceProcess() override;

    // The camera backend the configuration names: "sim" unless the
    // environment variable STARSCAM_TEST_BACKEND says "fli", when FLI_LIBRARY
    // is the value of STARSCAM_TEST_FLI_LIBRARY (the SDK-level simulated
    // camera): the same tests then run through the SDK backend.
    static QString backend();
    static constexpr const char* BackendVariable = "STARSCAM_TEST_BACKEND";
    static constexpr const char* FliLibraryVariable = "STARSCAM_TEST_FLI_LIBRARY";

    // Set-up, before start().
    void setConfigValue(const QString& key, const QString& value);
    void removeConfigValue(const QString& key);
    void setConfig(const QMap<QString, QString>& config) { runner.setConfig(config); }
    QMap<QString, QString> config() const { return runner.config(); }
    // Written verbatim as config.cfg instead of the key/value map.
    void setConfigText(const QString& text)
    {
        configFileText = text;
        useConfigText = true;
    }
    void setWithoutConfigFile() { writeConfig = false; }
    void setKeys(const QStringList& keys) { runner.setKeys(keys); }
    QStringList keys() const { return runner.keys(); }
    void setWithoutKeyFile() { writeKeyFile = false; }
    void setEnvironmentValue(const QString& name, const QString& value);
    void setArguments(const QStringList& arguments) { programArguments = arguments; }
    // Runs another program in the service's place (the service by default).
    void setProgram(const QString& program) { runner.setProgram(program); }
    // Writes a file of the test's own into the working directory.
    bool writeFile(const QString& name, const QByteArray& contents);

    // Writes the files and starts the program; false if it could not start.
    bool start(int timeoutMs = 10000);
    // Polls the server's listnodes until the service's node shows up; false
    // if it did not in time or the service ended first.
    bool waitForLogin(int timeoutMs = 15000);
    bool waitForExit(int timeoutMs = 15000);
    void terminate(); // SIGTERM, the way an operator stops it
    void kill();

    bool isRunning() const;
    int exitCode() const { return runner.process().exitCode(); }
    QProcess::ExitStatus exitStatus() const { return runner.process().exitStatus(); }
    qint64 processId() const { return runner.process().processId(); }

    // The names the service will use: from config.cfg, read the way it reads
    // it, or its own default QtTarn when the key is absent.
    QString nodeName() const;
    QString keyFileName() const;
    QString workDir() const { return runner.workDir(); }
    QString filePath(const QString& name) const;
    QStringList files() const; // names in the working directory, sorted
    QString log();             // stderr so far
    QString output();          // stdout so far

private:
    static constexpr const char* ServiceDefaultName = "QtTarn";

    QByteArray configText() const;
    QMap<QString, QString> effectiveConfig() const;
    bool writeSetUpFiles();

    StarsTestServer& bus;
    NodeRunner runner;
    QString configFileText;
    bool useConfigText = false;
    bool writeConfig = true;
    bool writeKeyFile = true;
    QStringList programArguments;
    QByteArray logBytes;
    QByteArray outputBytes;
};
