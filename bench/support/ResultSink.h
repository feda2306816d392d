#pragma once

#include <QString>

#include <optional>

// One line of the results table: the service's figure, the baseline it is
// compared with in the same run, their ratio and the target for it.
struct ResultRow
{
    QString figure;
    QString unit;
    double service = 0.0;
    std::optional<double> baseline;
    std::optional<double> ratio;
    QString target;          // e.g. "ratio >= 0.5"; empty: reported only
    std::optional<bool> met; // empty: no target
    QString note;
};

// Prints result rows as they come and appends each as a JSON object (one per
// line) to the results file, which tools/bench.sh turns into the table.
class ResultSink
{
public:
    explicit ResultSink(const QString& resultsPath);

    void add(const ResultRow& row);
    // A failed measurement: recorded as a missed figure with the reason.
    void fail(const QString& figure, const QString& why);

    int missed() const { return missedCount; }

private:
    QString path;
    int missedCount = 0;
};
