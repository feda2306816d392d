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
    void setFixedReplies(const QMap<QString, QString>& replies) { fixed = replies; }

    // Appends the opening burst: an Exposure that starts the sequence and the
    // exposure commands that must be refused because it runs. One write, so
    // the service takes them all before its sequence timer can run.
    void appendOpening(QByteArray& out);
    // Appends one line of a randomly chosen kind, line feed included.
    void appendLine(QByteArray& out);

    // Takes one line the tester received. False at the first line that does
    // not fit the model; error() says which and why.
    bool take(const QString& line);

    int outstanding() const { return expected.size(); }
    bool isBusy() const { return serviceBusy; }
    QString error() const { return errorText; }

    // Complete image files the service must have written so far.
    qint64 expectedImageFiles() const { return qint64(startedSequences) * Images + storedSingles; }

    qint64 linesSent() const { return sentLines; }
    qint64 bytesSent() const { return sentBytes; }
    qint64 answersExpected() const { return expectedAnswers; }
    qint64 answersChecked() const { return checkedAnswers; }
    qint64 unansweredLines() const { return unanswered; }
    qint64 refusedWhileBusy() const { return busyRefusals; }
    qint64 sequencesStarted() const { return startedSequences; }
    qint64 singlesStarted() const { return startedSingles; }
    qint64 singlesStored() const { return storedSingles; }
    qint64 busyEvents() const { return busyEventCount; }
    qint64 longestLine() const { return longestLineBytes; }
    // Lines sent per kind, for the report.
    QMap<QString, qint64> kindCounts() const { return requestKinds; }

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

    Route routeTaken;
    QRandomGenerator random;
    QMap<QString, QString> fixed;
    QQueue<Expectation> expected;
    QString errorText;

    // The service as the answers show it.
    enum class Running { None, Sequence, Single };
    bool serviceBusy = false;
    bool startPending = false; // a busy event came; the start's reply must follow
    Running running = Running::None;
    bool singleReady = false; // a single exposure ended and was not read yet

    int seqFileNoSets = 0;
    int longRuns = 0;
    int boundaryLines = 0;
    qint64 sentLines = 0;
    qint64 sentBytes = 0;
    qint64 expectedAnswers = 0;
    qint64 checkedAnswers = 0;
    qint64 unanswered = 0;
    qint64 busyRefusals = 0;
    qint64 startedSequences = 0;
    qint64 startedSingles = 0;
    qint64 storedSingles = 0;
    qint64 busyEventCount = 0;
    qint64 longestLineBytes = 0;
    QMap<QString, qint64> requestKinds;
};
