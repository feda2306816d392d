#pragma once

#include "LineReader.h"
#include "SMsg.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QTcpSocket;

// The node's client of the STARS server: one TCP connection, the key log-in,
// and the turning of received lines into one Ask<Command> signal each.
// It knows nothing of what the commands do; whoever connects to the signals
// answers them through SendReply.
class Stars : public QObject
{
    Q_OBJECT

public:
    enum ConnectState { WaitKeyNumber = 0, WaitKeyResult = 1, Ready = 2 };

    Stars();
    ~Stars() override;

    // Sets the node name and loads the keys from "<keyFileName>.key" in the
    // working directory. Ends the process with status 1 when no key file opens.
    void ReadStarsKeys(QString keyFileName, QString nodeName);

    // Starts one connection attempt unless one is connected or already under
    // way; returns at once, the attempt completes in the event loop.
    void ConnectToServer();

    // Writes "to>from text" for the request msg: the receiver of the request
    // answers its sender. One write, ISO 8859-1 ('?' for what it cannot hold).
    void SendReply(const SMsg& msg, const QString& text);
    // Writes "sender>System text"; event texts begin with '_'.
    void SendEvent(const QString& sender, const QString& text);

    // The signal for a command code 0..36 (as the command table numbers them).
    using AskSignal = void (Stars::*)(SMsg);
    static AskSignal askSignal(int commandCode);

    QString getNodeName() const { return nodeName; }
    QString getServerAddress() const { return serverAddress; }
    quint16 getServerPort() const { return serverPort; }
    QStringList getKeys() const { return keys; }
    int getConnectState() const { return connectState; }
    // Bytes written and not yet taken by the network.
    qint64 pendingWriteBytes() const;

    // The most bytes left waiting for a server that does not read; lines
    // beyond it are dropped (and logged) instead of growing memory for ever.
    static constexpr qint64 MaxPendingWriteBytes = 16 * 1024 * 1024;

signals:
    void ConnectionIsReady(Stars* s);
    void ReConnected();
    void Disconnected();

    void AskIsBusy(SMsg msg);
    void AskGetLibVer(SMsg msg);
    void AskGetModel(SMsg msg);
    void AskGetSerialSTR(SMsg msg);
    void AskGetHWRev(SMsg msg);
    void AskGetPixSize(SMsg msg);
    void AskGetArrayArea(SMsg msg);
    void AskGetVisArea(SMsg msg);
    void AskSetTemp(SMsg msg);
    void AskGetTemp(SMsg msg);
    void AskGetCCDTemp(SMsg msg);
    void AskGetBaseTemp(SMsg msg);
    void AskGetCoolerPWR(SMsg msg);
    void AskSetBin(SMsg msg);
    void AskGetBin(SMsg msg);
    void AskSetRBIFlushes(SMsg msg);
    void AskGetRBIFlushes(SMsg msg);
    void AskSetRBIExpTime(SMsg msg);
    void AskGetRBIExpTime(SMsg msg);
    void AskSetTDIRate(SMsg msg);
    void AskGetTDIRate(SMsg msg);
    void AskSetImages(SMsg msg);
    void AskGetImages(SMsg msg);
    void AskSetExpTime(SMsg msg);
    void AskGetExpTime(SMsg msg);
    void AskSetInterval(SMsg msg);
    void AskGetInterval(SMsg msg);
    void AskSetFileName(SMsg msg);
    void AskGetFileName(SMsg msg);
    void AskExposure(SMsg msg);
    void AskStartExposure(SMsg msg);
    void AskDownLoadImage(SMsg msg);
    void AskRBIFlush(SMsg msg);
    void AskSetSeqFileNo(SMsg msg);
    void AskGetSeqFileNo(SMsg msg);
    void AskSetUseSeqFNo(SMsg msg);
    void AskGetUseSeqFNo(SMsg msg);

public slots:
    void SetNewSVAddress(const QString& item);
    void SetNewSVPort(const QString& item);
    void ReceiveMessageFromStars();
    void ReConnect();

private:
    void reset();
    void answerKeyNumber(const QByteArray& line);
    void dispatch(QByteArray line, SMsg& msg);
    void writeLine(QString text);
    void refuseLogIn(const QString& why);
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
    bool dropping = false; // lines are being dropped: the server does not read
    static constexpr qint64 MaxReadChunk = 1 << 20;
};
