#pragma once

#include <QJsonArray>
#include <QString>

// The results of one benchmark run: read from the lines the benchmark
// programs appended (one JSON object each), printed as a table and written
// as one JSON document with a description of the machine.
class BenchReport
{
public:
    // False when the file cannot be read or holds a line that is no object.
    bool load(const QString& linesPath, QString* why);

    // The table: figure, service, baseline, ratio, target, met.
    QString table() const;
    // Figures with a target that was missed.
    int missed() const;

    bool writeJson(const QString& path, QString* why) const;

private:
    QJsonArray rows;
};
