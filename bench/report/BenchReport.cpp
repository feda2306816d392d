#include "BenchReport.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cmath>

namespace {

QString number(const QJsonValue& v)
{
    if (!v.isDouble())
        return QStringLiteral("-");
    const double d = v.toDouble();
    if (d != 0.0 && (std::abs(d) >= 100000.0 || std::abs(d) < 0.01))
        return QString::number(d, 'e', 3);
    return QString::number(d, 'f', std::abs(d) >= 100.0 ? 1 : std::abs(d) >= 10.0 ? 2 : 3);
}

QString met(const QJsonValue& v)
{
    return v.isBool() ? (v.toBool() ? QStringLiteral("yes") : QStringLiteral("NO")) : QStringLiteral("-");
}

// The processor's model name, from /proc/cpuinfo.
QString cpuModel()
{
    QFile file(QStringLiteral("/proc/cpuinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith("model name"))
            return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
    }
    return QString();
}

} // namespace

bool BenchReport::load(const QString& linesPath, QString* why)
{
    QFile file(linesPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = QStringLiteral("cannot read %1").arg(linesPath);
        return false;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (!doc.isObject()) {
            *why = QStringLiteral("not a result: %1").arg(QString::fromUtf8(line));
            return false;
        }
        rows.append(doc.object());
    }
    return true;
}

QString BenchReport::table() const
{
    const QStringList head{QStringLiteral("figure"), QStringLiteral("service"), QStringLiteral("baseline"),
                           QStringLiteral("ratio"),  QStringLiteral("target"),  QStringLiteral("met?")};
    QList<QStringList> cells;
    cells.append(head);
    for (const QJsonValue& v : rows) {
        const QJsonObject o = v.toObject();
        cells.append(QStringList{o.value(QStringLiteral("figure")).toString() + QStringLiteral(" [")
                                     + o.value(QStringLiteral("unit")).toString() + QLatin1Char(']'),
                                 number(o.value(QStringLiteral("service"))),
                                 number(o.value(QStringLiteral("baseline"))), number(o.value(QStringLiteral("ratio"))),
                                 o.value(QStringLiteral("target")).toString(), met(o.value(QStringLiteral("met")))});
    }
    QVector<int> widths(head.size(), 0);
    for (const QStringList& row : cells) {
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], int(row.at(i).size()));
    }
    QString out;
    for (int r = 0; r < cells.size(); ++r) {
        const QStringList& row = cells.at(r);
        QString line;
        for (int i = 0; i < row.size(); ++i) {
            // Numbers right-aligned, words left-aligned.
            const bool numeric = i >= 1 && i <= 3;
            line += numeric ? row.at(i).rightJustified(widths[i]) : row.at(i).leftJustified(widths[i]);
            line += QStringLiteral("  ");
        }
        out += line.trimmed() + QLatin1Char('\n');
        if (r == 0)
            out += QString(line.trimmed().size(), QLatin1Char('-')) + QLatin1Char('\n');
    }
    return out;
}

int BenchReport::missed() const
{
    return int(std::count_if(rows.begin(), rows.end(), [](const QJsonValue& v) {
        const QJsonValue m = v.toObject().value(QStringLiteral("met"));
        return m.isBool() && !m.toBool();
    }));
}

bool BenchReport::writeJson(const QString& path, QString* why) const
{
    QJsonObject machine;
    machine.insert(QStringLiteral("kernel"), QSysInfo::kernelVersion());
    machine.insert(QStringLiteral("os"), QSysInfo::prettyProductName());
    machine.insert(QStringLiteral("cpu"), cpuModel());
    machine.insert(QStringLiteral("cores"), QThread::idealThreadCount());
    machine.insert(QStringLiteral("qt"), QString::fromLatin1(qVersion()));
    // Others' work on a shared machine shows here; the ratios hold better than the times.
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        machine.insert(QStringLiteral("loadavg_at_end"), QString::fromLatin1(load.readAll().trimmed()));

    QJsonObject doc;
    doc.insert(QStringLiteral("date"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    doc.insert(QStringLiteral("machine"), machine);
    doc.insert(QStringLiteral("missed"), missed());
    doc.insert(QStringLiteral("results"), rows);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(QJsonDocument(doc).toJson(QJsonDocument::Indented)) < 0) {
        *why = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    return true;
}
