#pragma once

#include "LineReader.h"
#include "SMsg.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QTcpSocket;
class QTimer;

// The node's client of the STARS server: one TCP connection, the key log-in,
// and the turning of received lines into requests (receivedCommand). It knows
// nothing of the commands; whoever connects answers them through SendReply.
class Stars : public QObject
{
    Q_OBJECT

public:
    enum ConnectState { WaitKeyNumber = 0, WaitKeyResult = 1, Ready = 2 };

    Stars();
    ~Stars() override;

    // Sets the node name and loads the keys from "<keyFileName>.key" in the
    // working directory. False, with the reason logged, when no key file
    // opens: the log-in cannot work and the caller decides what follows.
    bool ReadStarsKeys(QString keyFileName, QString nodeName);

    // Starts one connection attempt unless one is connected or already under
    // way; returns at once, the attempt completes in the event loop.
    void ConnectToServer();

    // Writes "to>from text" for the request msg: the receiver of the request
    // answers its sender. One write, ISO 8859-1 ('?' for what it cannot hold).
    void SendReply(const SMsg& msg, const QString& text);
    // Writes "sender>System text"; event texts begin with '_'.
    void SendEvent(const QString& sender, const QString& text);

    QString getNodeName() const { return nodeName; }
    QString getServerAddress() const { return serverAddress; }
    quint16 getServerPort() const { return serverPort; }
    QStringList getKeys() const { return keys; }
    int getConnectState() const { return connectState; }
    // Bytes written and not yet taken by the network.
    qint64 pendingWriteBytes() const;
    // The bus socket's descriptor; -1 when there is none.
    qintptr socketDescriptor() const;

    // The most bytes left waiting for a server that does not read. Reaching
    // it drops the connection (a lost connection, Disconnected()) rather than
    // growing memory for ever or losing lines on a connection that stays open.
    static constexpr qint64 MaxPendingWriteBytes = 16 * 1024 * 1024;

    // How soon a server that vanished without closing is noticed: keep-alive
    // probes after keepAliveIdleS seconds without traffic, every
    // KeepAliveIntervalS seconds, and written data unacknowledged for
    // userTimeoutS seconds ends the connection. Applied to each new
    // connection; false (nothing changed) unless both lie in 1..MaxLivenessS.
    bool setLiveness(int keepAliveIdleS, int userTimeoutS);
    static constexpr int KeepAliveIntervalS = 10;
    static constexpr int KeepAliveProbes = 4;
    static constexpr int MaxLivenessS = 3600;

    // Starts a fresh connection attempt after the back-off delay, which
    // doubles from FirstRetryMs with each attempt up to MaxRetryMs and starts
    // over after a log-in. Logs the delay. Attempts that fail to connect are
    // retried the same way, so this is needed only after a lost connection.
    void connectLater();
    static constexpr int FirstRetryMs = 1000;
    static constexpr int MaxRetryMs = 60000;

    // Lines written while not connected, since the last connection was made.
    int droppedLineCount() const { return droppedLines; }
    // Logs that count when there is one, and starts it again from 0.
    void reportDroppedLines();
    // Hands what is waiting to the network without blocking.
    void flush();

signals:
    void ConnectionIsReady(Stars* s);
    void ReConnected();
    void Disconnected();
    // The server refused the log-in for a reason that will not mend by itself
    // (bad key, host not allowed) or there is no key to log in with. The
    // connection is closed; Disconnected() is not emitted for it.
    void logInRefused(const QString& why);

    // A request for this node (a command word, known or not); whoever
    // connects answers it through SendReply, exactly once.
    void receivedCommand(const SMsg& msg);

public slots:
    void SetNewSVAddress(const QString& item);
    void SetNewSVPort(const QString& item);
    void ReceiveMessageFromStars();
    void ReConnect();

private:
    // What the server's answer to the key says.
    enum class Verdict { Accepted, Refused, Transient };
    Verdict examineVerdict(const SMsg& msg, QString& why) const;

    void reset();
    void answerKeyNumber(const QByteArray& line);
    // Answers or hands on a decoded line.
    void dispatch(int kind, SMsg& msg);
    void writeLine(const QString& text);
    // Writes the parts as one line: one kept buffer, one write.
    void writeParts(std::initializer_list<QStringView> parts);
    // Hands the lines held back while a read was served to the socket.
    void writeHeld();
    void refuseLogIn(const QString& why);
    // A refusal that trying again will not mend: logged, the connection
    // dropped without Disconnected(), and logInRefused(why) emitted.
    void giveUp(const QString& why);
    // The refusal of this host by the server, with what to do about it.
    QString hostRefused(const QString& text) const;
    // Closes the connection without Disconnected(): it ended on our side.
    void dropQuietly();
    void applyLiveness();
    void attemptFailed();
    // Lines waiting for the network, from the average line length so far.
    qint64 pendingLines() const;
    void setKeys(const QStringList& words);

    QString nodeName;
    QString serverAddress = QStringLiteral("localhost");
    quint16 serverPort = 6057;
    QStringList keys;
    qint32 keyCount = 0;
    QTcpSocket* socket = nullptr;
    bool connectAllowed = true;
    qint32 connectState = WaitKeyNumber;
    LineReader reader;
    QByteArray readChunk; // what one read took from the socket
    QByteArray outLine;   // the line being written, kept for its capacity
    // While the lines of one read are served, their replies gather here and
    // go to the socket in one write.
    bool holdWrites = false;
    QByteArray heldLines;
    SMsg received; // refilled for every line, keeping its fields' buffers
    static constexpr qint64 MaxReadChunk = 1 << 20;
    int keepAliveIdleS = 20;
    int userTimeoutS = 60;
    QTimer* retryTimer = nullptr;
    int retryDelayMs = FirstRetryMs;
    int droppedLines = 0;
    qint64 linesWritten = 0; // on this connection
    qint64 bytesWritten = 0;
};
