#pragma once

#include "LineReader.h"

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QStringList>
#include <QTcpSocket>
#include <functional>

// A STARS node inside the test process. Lines it receives are queued in
// order (decoded as ISO 8859-1, the way the nodes write) until a test takes
// them; every wait runs the event loop, so other sockets and processes move on
// meanwhile.
class BusNode : public QObject
{
    Q_OBJECT
public:
    using LinePredicate = std::function<bool(const QString& line)>;

    explicit BusNode(QObject* parent = nullptr);

    // Connects without logging in: the first line queued is the key number.
    bool connectTo(quint16 port, int timeoutMs = 5000);
    // Connects and logs in as `node`, answering with the right word of `keys`;
    // true when the server says "Ok:". The verdict line is not queued.
    bool login(quint16 port, const QString& node, const QStringList& keys, int timeoutMs = 5000);

    QString name() const { return nodeName; }
    QString verdict() const { return logInVerdict; }
    bool isConnected() const;
    bool waitForDisconnected(int timeoutMs = 5000);
    void close();

    // One write of the line, UTF-8 encoded (the nodes read UTF-8), "\n" added.
    void send(const QString& line);
    // One write of exactly these bytes.
    void sendRaw(const QByteArray& bytes);

    // Takes the oldest queued line; a null string if none came in time.
    QString nextLine(int timeoutMs = 5000);
    // Takes the first queued line the predicate accepts; the lines before it
    // stay queued. A null string if none came in time. The predicate may see
    // the same line more than once.
    QString waitForLine(const LinePredicate& accept, int timeoutMs = 5000);
    // Sends "<name>><to> <command>" and takes its reply: the line whose command
    // word is '@' and the command's first word, from `to` or from System.
    QString request(const QString& to, const QString& command, int timeoutMs = 5000);
    // A round trip through the server: when it returns true, everything the
    // server routed to this node before handling our earlier lines is queued.
    bool syncWithServer(int timeoutMs = 5000);
    // True if nothing is queued and nothing arrives for `ms` milliseconds.
    bool receivesNothing(int ms);

    QStringList pendingLines() const { return queue; }
    void clearPending() { queue.clear(); }

    // Parts of a line "from>to command params...".
    static QString senderOf(const QString& line);  // "cam1.ccd"
    static QString textOf(const QString& line);    // "@GetTemp 20 20"
    static QString commandOf(const QString& line); // "@GetTemp"

signals:
    void lineReceived(const QString& line);

private:
    void readAvailable();

    QTcpSocket socket;
    LineReader reader{LineReader::ObserverMaxLineBytes};
    QQueue<QString> queue;
    QString nodeName;
    QString logInVerdict;
};
