#include "ConfigLines.h"

#include "SmallFile.h"

#include <QTextStream>

void readConfigLines(QTextStream& stream, QMap<QString, QString>& map)
{
    QString line;
    while (stream.readLineInto(&line)) {
        // After simplified() the words are parted by single blanks (every
        // white space character, as QChar::isSpace() sees it, has become one).
        const QString simple = line.simplified();
        if (simple.isEmpty() || simple.at(0) == QLatin1Char('#'))
            continue;
        const int gap = simple.indexOf(QLatin1Char(' '));
        if (gap < 0)
            continue; // a single word holds no value
        const int valueEnd = simple.indexOf(QLatin1Char(' '), gap + 1);
        const QStringRef value = simple.midRef(gap + 1, valueEnd < 0 ? -1 : valueEnd - gap - 1);
        map[simple.left(gap).toUpper()] = value.startsWith(QLatin1Char('#')) ? QString() : value.toString();
    }
}

void readConfigText(const QByteArray& bytes, QMap<QString, QString>& map)
{
    QTextStream stream(withoutCarriageReturns(bytes));
    readConfigLines(stream, map);
}
