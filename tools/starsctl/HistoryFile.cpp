#include "HistoryFile.h"

#include <QFile>
#include <QSaveFile>

namespace {

// The history may hold whatever was sent to the nodes; keep it to its owner.
const QFileDevice::Permissions OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

HistoryFile::HistoryFile(const QString& path, int maxLines) : m_path(path), m_maxLines(maxLines) {}

QStringList HistoryFile::load()
{
    m_lines.clear();
    if (m_path.isEmpty())
        return m_lines;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return m_lines;
    for (const QByteArray& bytes : file.readAll().split('\n')) {
        const QString line = QString::fromLocal8Bit(bytes).trimmed();
        if (!line.isEmpty())
            m_lines.append(line);
    }
    file.close();
    if (m_lines.size() > m_maxLines) {
        m_lines.erase(m_lines.begin(), m_lines.end() - m_maxLines);
        rewrite();
    }
    return m_lines;
}

bool HistoryFile::append(const QString& line)
{
    if (line.isEmpty() || line.contains(QLatin1Char('\n')) || (!m_lines.isEmpty() && m_lines.constLast() == line))
        return false;
    m_lines.append(line);
    if (m_path.isEmpty())
        return true;
    // Appending keeps the lines of starsctl runs side by side; a full
    // rewrite only happens now and then.
    if (m_lines.size() > 2 * m_maxLines) {
        m_lines.erase(m_lines.begin(), m_lines.end() - m_maxLines);
        rewrite();
        return true;
    }
    QFile file(m_path);
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
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(OwnerOnly);
    for (const QString& line : qAsConst(m_lines))
        file.write(line.toLocal8Bit() + '\n');
    file.commit();
}
