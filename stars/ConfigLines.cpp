#include "ConfigLines.h"

#include "SmallFile.h"

#include <QRegExp>
#include <QStringList>
#include <QTextStream>

void readConfigLines(QTextStream& stream, QMap<QString, QString>& map)
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

void readConfigText(const QByteArray& bytes, QMap<QString, QString>& map)
{
    QTextStream stream(withoutCarriageReturns(bytes));
    readConfigLines(stream, map);
}
