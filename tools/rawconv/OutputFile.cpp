#include "OutputFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace rawconv {

QString OutputFile::nameFor(const QString& input, const QString& extension, const QString& outDir)
{
    const int slash = input.lastIndexOf(QLatin1Char('/'));
    const QString component = input.mid(slash + 1);
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > 0 ? component.left(dot) : component;

    QString directory = outDir.isEmpty() ? input.left(slash + 1) : outDir;
    if (!directory.isEmpty() && !directory.endsWith(QLatin1Char('/')))
        directory += QLatin1Char('/');
    return directory + base + QLatin1Char('.') + extension;
}

OutputFile::WriteStatus OutputFile::write(const QString& path, const QByteArray& data, bool force, QString& error)
{
    if (force) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
            error = file.errorString();
            return WriteStatus::Failed;
        }
        return WriteStatus::Written;
    }

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        const QFileInfo there(path);
        if (there.exists() || there.isSymLink()) {
            error = QStringLiteral("exists, not replaced (--force replaces it)");
            return WriteStatus::Exists;
        }
        error = file.errorString();
        return WriteStatus::Failed;
    }
    if (file.write(data) != data.size() || !file.flush()) {
        error = file.errorString();
        file.close();
        file.remove();
        return WriteStatus::Failed;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        file.remove();
        return WriteStatus::Failed;
    }
    return WriteStatus::Written;
}

} // namespace rawconv
