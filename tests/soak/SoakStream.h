#pragma once

#include <QByteArray>
#include <QMap>
#include <QQueue>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

// The mixed line stream of the soak test and the model its answers are
// checked against. Lines are made one at a time and what each must be
// answered with is queued in order; every line the tester receives from the
// service is then taken against the head of that queue. The busy events in
// between drive the model of the exposure commands: while busy they are
// refused; while idle Exposure and StartExposure start a sequence (the event
// comes before the reply) and DownLoadImage stores the single exposure taken
// since, if there is one.
class SoakStream
{
public:
    // Through the bus's server only addressed lines reach the service, and
    // its answers to unaddressed ones reach nobody; direct, everything does.
    enum class Route { ThroughServer, Direct };

    // The settings the stream keeps; it sends them again, unchanged.
    static constexpr int Images = 10;
    static constexpr int ExpTimeMs = 20;
    static constexpr int Bin = 4;
    static constexpr int RbiExpTimeMs = 100;
    static const char* const FileName;

    SoakStream(Route route, quint32 seed);

    // The commands that make the kept settings, in order.
    static QStringList settingCommands();
    // The camera queries whose replies do not change, e.g. "GetModel".
    static QStringList fixedQueries();
    // Their replies as the service gave them before the stream ("@GetModel ...").
    void setFixedReplies(const QMap<QString, QString>& replies) { m_fixed = replies; }

    // Appends the opening burst: an Exposure that starts the sequence and the
    // exposure commands that must be refused because it runs. One write, so
    // the service takes them all before its sequence timer can run.
    void appendOpening(QByteArray& out);
    // Appends one line of a randomly chosen kind, line feed included.
    void appendLine(QByteArray& out);

    // Takes one line the tester received. False at the first line that does
    // not fit the model; error() says which and why.
    bool take(const QString& line);

    int outstanding() const { return m_expected.size(); }
    bool isBusy() const { return m_busy; }
    QString error() const { return m_error; }

    // Complete image files the service must have written so far.
    qint64 expectedImageFiles() const { return qint64(m_sequencesStarted) * Images + m_singlesStored; }

    qint64 linesSent() const { return m_linesSent; }
    qint64 bytesSent() const { return m_bytesSent; }
    qint64 answersExpected() const { return m_answersExpected; }
    qint64 answersChecked() const { return m_answersChecked; }
    qint64 unansweredLines() const { return m_unanswered; }
    qint64 refusedWhileBusy() const { return m_refusedWhileBusy; }
    qint64 sequencesStarted() const { return m_sequencesStarted; }
    qint64 singlesStarted() const { return m_singlesStarted; }
    qint64 singlesStored() const { return m_singlesStored; }
    qint64 busyEvents() const { return m_busyEvents; }
    qint64 longestLine() const { return m_longestLine; }
    // Lines sent per kind, for the report.
    QMap<QString, qint64> kindCounts() const { return m_kinds; }

private:
    struct Expectation
    {
        enum Kind { Exact, Pattern, IsBusy, Start, DownLoad, Refused };
        Kind kind = Exact;
        QString text;    // Exact: the line; others: the address part "cam1>term1 "
        QString command; // IsBusy, Start, DownLoad, Refused
        QRegularExpression pattern;
        qint64 lineNo = 0;
    };

    // Queues the answer of a normal command from term1: "@<reply>".
    void expectReply(const QString& reply, const QString& to = QStringLiteral("cam1>term1 "));
    void expectExact(const QString& line);
    void expectPattern(const QString& pattern);
    void expect(Expectation e);
    void appendCommand(QByteArray& out);
    void appendExposureCommand(QByteArray& out, const QString& command);
    void appendLongRun(QByteArray& out, int units);
    void appendFillerLine(QByteArray& out);
    void appendDirectOnly(QByteArray& out);
    void finishLine(QByteArray& out, const QByteArray& line, const char* kind);
    bool takeEvent(bool busy, const QString& line);
    bool fail(const QString& why, const QString& line, const Expectation* e = nullptr);

    Route m_route;
    QRandomGenerator m_random;
    QMap<QString, QString> m_fixed;
    QQueue<Expectation> m_expected;
    QString m_error;

    // The service as the answers show it.
    enum class Running { None, Sequence, Single };
    bool m_busy = false;
    bool m_startPending = false; // a busy event came; the start's reply must follow
    Running m_running = Running::None;
    bool m_singleReady = false; // a single exposure ended and was not read yet

    int m_seqFileNoSets = 0;
    int m_longRuns = 0;
    int m_boundaryLines = 0;
    qint64 m_linesSent = 0;
    qint64 m_bytesSent = 0;
    qint64 m_answersExpected = 0;
    qint64 m_answersChecked = 0;
    qint64 m_unanswered = 0;
    qint64 m_refusedWhileBusy = 0;
    qint64 m_sequencesStarted = 0;
    qint64 m_singlesStarted = 0;
    qint64 m_singlesStored = 0;
    qint64 m_busyEvents = 0;
    qint64 m_longestLine = 0;
    QMap<QString, qint64> m_kinds;
};
