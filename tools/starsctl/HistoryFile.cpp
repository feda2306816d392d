#include "HistoryFile.h"

#include <QFile>
#include <QSaveFile>

namespace {

// The history may hold whatever was sent to the nodes; keep it to its owner.
const QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

HistoryFile::HistoryFile(const QString& path, int maxLines) : filePath(path), lineBound(maxLines) {}

QStringList HistoryFile::load()
{
    lines.clear();
    if (filePath.isEmpty())
        return lines;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    for (const QByteArray& bytes : file.readAll().split('\n')) {
        const QString line = QString::fromLocal8Bit(bytes).trimmed();
        if (!line.isEmpty())
            lines.append(line);
    }
    file.close();
    if (lines.size() > lineBound) {
        lines.erase(lines.begin(), lines.end() - lineBound);
        rewrite();
    }
    return lines;
}

bool HistoryFile::append(const QString& line)
{
    if (line.isEmpty() || line.contains(QLatin1Char('\n')) || (!lines.isEmpty() && lines.constLast() == line))
        return false;
    lines.append(line);
    if (filePath.isEmpty())
        return true;
    // Appending keeps the lines of starsctl runs side by side; a full
    // rewrite only happens now and then.
    if (lines.size() > 2 * lineBound) {
        lines.erase(lines.begin(), lines.end() - lineBound);
        rewrite();
        return true;
    }
    QFile file(filePath);
    const bool existed = file.exists();
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (!existed)
            file.setPermissions(OwnerOnly);
        file.write(line.toLocal8Bit() + '\n');
    }
    return true;
}

void HistoryFile::rewrite()
{
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(OwnerOnly);
    for (const QString& line : qAsConst(lines))
        file.write(line.toLocal8Bit() + '\n');
    file.commit();
}
