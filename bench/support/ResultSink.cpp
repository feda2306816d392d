#include "ResultSink.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

QJsonValue optional(const std::optional<double>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QString show(const std::optional<double>& v)
{
    return v ? QString::number(*v, 'g', 4) : QStringLiteral("-");
}

} // namespace

ResultSink::ResultSink(const QString& resultsPath) : path(resultsPath) {}

void ResultSink::add(const ResultRow& row)
{
    if (row.met && !*row.met)
        ++missedCount;
    const QString met = row.met ? (*row.met ? QStringLiteral("yes") : QStringLiteral("NO")) : QStringLiteral("-");
    std::printf("  %-44s %10s %10s %8s %-4s  %s%s\n", qPrintable(row.figure + QStringLiteral(" [") + row.unit + ']'),
                qPrintable(show(row.service)), qPrintable(show(row.baseline)), qPrintable(show(row.ratio)),
                qPrintable(met), qPrintable(row.target),
                row.note.isEmpty() ? "" : qPrintable(QStringLiteral("  (") + row.note + ')'));
    std::fflush(stdout);

    if (path.isEmpty())
        return;
    QJsonObject o;
    o.insert(QStringLiteral("figure"), row.figure);
    o.insert(QStringLiteral("unit"), row.unit);
    o.insert(QStringLiteral("service"), row.service);
    o.insert(QStringLiteral("baseline"), optional(row.baseline));
    o.insert(QStringLiteral("ratio"), optional(row.ratio));
    o.insert(QStringLiteral("target"), row.target);
    o.insert(QStringLiteral("met"), row.met ? QJsonValue(*row.met) : QJsonValue(QJsonValue::Null));
    o.insert(QStringLiteral("note"), row.note);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
}

void ResultSink::fail(const QString& figure, const QString& why)
{
    ResultRow row;
    row.figure = figure;
    row.unit = QStringLiteral("-");
    row.service = 0.0;
    row.target = QStringLiteral("measured");
    row.met = false;
    row.note = QStringLiteral("FAILED: ") + why;
    add(row);
}
