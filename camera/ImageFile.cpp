#include "ImageFile.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace imagefile {

QString composeName(const QString& fileName, bool useSeqFileNo, int& seqFileNo, int imageIndex)
{
    const int slash = fileName.lastIndexOf(QLatin1Char('/'));
    const QString component = slash >= 0 ? fileName.mid(slash + 1) : fileName;
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    const QString base = dot >= 0 ? component.left(dot) : component;
    const QString suffix = dot >= 0 ? component.mid(dot + 1) : QString();

    QString name = base;
    if (useSeqFileNo) {
        name += QString::asprintf("%04d", seqFileNo);
        // The bus may set any number: past the largest one counting starts
        // again at 0 (a taken name gets an alternative, nothing is lost).
        seqFileNo = seqFileNo < INT_MAX ? seqFileNo + 1 : 0;
    }
    name += QString::asprintf("-%04d", imageIndex);
    name += QLatin1Char('.');
    name += suffix;
    return name;
}

QString alternativeName(const QString& name, int n)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString tag = QStringLiteral("_%1").arg(n);
    if (dot < 0)
        return name + tag;
    return name.left(dot) + tag + name.mid(dot);
}

int createExclusive(const QString& name)
{
    const QByteArray path = QFile::encodeName(name);
    if (path.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool writeAll(int fd, const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

} // namespace imagefile
