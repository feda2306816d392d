#pragma once

#include <QByteArray>
#include <QFlags>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The stars-testserver program run for one test: listens on a port the system
// picks, with its key files in a directory of its own. Killed on destruction.
class StarsTestServer
{
public:
    // Misbehaviours the server can be asked for, to test how nodes cope.
    enum Fault {
        NoFault = 0x0,
        NoVerdict = 0x1,     // nodes get registered but never hear the verdict
        DoubleVerdict = 0x2, // the verdict line comes twice
        DropAfterKey = 0x4,  // the connection is closed when the key line arrives
    };
    Q_DECLARE_FLAGS(Faults, Fault)

    explicit StarsTestServer(Faults faults = NoFault);
    ~StarsTestServer();
    StarsTestServer(const StarsTestServer&) = delete;
    StarsTestServer& operator=(const StarsTestServer&) = delete;

    // Passes --verbose, so output() holds a trace of every line; call before start().
    void setVerbose(bool verbose) { verboseTrace = verbose; }
    // The port to listen on; 0 (the default) lets the system pick one. Call
    // before start(); setPort(port()) after terminate() brings the server
    // back where its nodes look for it.
    void setPort(quint16 port) { requestedPort = port; }
    // More command-line options (e.g. --allow-host); call before start().
    void setExtraArguments(const QStringList& arguments) { extraArguments = arguments; }

    // Starts the program and reads its port; false (with a warning) on failure.
    bool start(int timeoutMs = 10000);
    bool isRunning() const;
    quint16 port() const { return listenPort; }
    QString keyDir() const { return keyDirectory.path(); }

    // Writes <keydir>/<node>.key, the keys a node must answer with.
    bool addKeys(const QString& node, const QStringList& keys);

    // Asks the server to end (SIGTERM) and waits; true if it ended with status 0.
    bool terminate(int timeoutMs = 10000);

    // Everything the server printed so far.
    QString output();

private:
    Faults faultSet;
    bool verboseTrace = false;
    QStringList extraArguments;
    QTemporaryDir keyDirectory;
    QProcess process;
    QByteArray outputBytes;
    quint16 listenPort = 0;
    quint16 requestedPort = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(StarsTestServer::Faults)
