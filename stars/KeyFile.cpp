#include "KeyFile.h"

#include "SmallFile.h"

#include <QTextStream>

QStringList readKeyWords(QTextStream& stream)
{
    QStringList words;
    while (!stream.atEnd()) {
        QString word;
        stream >> word;
        if (!word.isEmpty())
            words.append(word);
    }
    return words;
}

QStringList keyWords(const QByteArray& bytes)
{
    QTextStream stream(withoutCarriageReturns(bytes));
    return readKeyWords(stream);
}

QStringList keyLines(const QByteArray& bytes)
{
    QStringList keys;
    for (const QByteArray& line : bytes.split('\n')) {
        const QString key = QString::fromLatin1(line.trimmed());
        if (!key.isEmpty())
            keys.append(key);
    }
    return keys;
}

bool chooseKey(const QStringList& keys, qint64 number, QString& key, QString& why)
{
    if (keys.isEmpty()) {
        why = QStringLiteral("the key file holds no key");
        return false;
    }
    if (number < 0) {
        why = QStringLiteral("negative key number");
        return false;
    }
    key = keys.at(int(number % keys.size()));
    return true;
}
