#include "Body.h"

#include <QDebug>
#include <QFile>
#include <QRegExp>
#include <QTextStream>

void Body::readConfigLines(QTextStream& stream, QMap<QString, QString>& map)
{
    const QRegExp whiteSpace(QStringLiteral("\\s+"), Qt::CaseSensitive);
    QString line;
    while (stream.readLineInto(&line)) {
        const QString simple = line.simplified();
        if (simple.isEmpty() || simple.at(0) == QLatin1Char('#'))
            continue;
        if (whiteSpace.indexIn(simple) < 0)
            continue; // a single word holds no value
        const QStringList words = simple.split(whiteSpace);
        const QString key = words.at(0).toUpper();
        const QString& value = words.at(1);
        map[key] = value.startsWith(QLatin1Char('#')) ? QString() : value;
    }
}

bool Body::ReadConfig()
{
    const QString name = QStringLiteral("config.cfg");
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << QStringLiteral("Can not open [%1]").arg(name);
        return false;
    }
    QTextStream stream(&file);
    readConfigLines(stream, configMap);
    file.close();
    return true;
}

int Body::configInt(const QMap<QString, QString>& map, const QString& key, int fallback, int min, int max)
{
    const auto it = map.constFind(key);
    if (it == map.constEnd())
        return fallback;
    bool ok = false;
    const int value = it.value().toInt(&ok);
    if (ok && value >= min && value <= max)
        return value;
    qDebug() << "Config" << key << it.value() << "is not a whole number from" << min << "to" << max << "; using"
             << fallback;
    return fallback;
}
