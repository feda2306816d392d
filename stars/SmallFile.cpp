#include "SmallFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* fileTypeName(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "FIFO";
    if (S_ISDIR(mode))
        return "directory";
    if (S_ISCHR(mode))
        return "character device";
    if (S_ISBLK(mode))
        return "block device";
    if (S_ISSOCK(mode))
        return "socket";
    return "unknown type";
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

bool readSmallFile(const QString& path, QByteArray& contents, QString& reason, qint64 maxBytes)
{
    contents.clear();
    reason.clear();
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do {
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        reason = systemError(errno);
        return false;
    }

    bool ok = false;
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        reason = systemError(errno);
    } else if (!S_ISREG(info.st_mode)) {
        reason = QStringLiteral("not a regular file (%1)").arg(QLatin1String(fileTypeName(info.st_mode)));
    } else if (info.st_size > maxBytes) {
        reason = QStringLiteral("larger than %1 bytes").arg(maxBytes);
    } else {
        // The size is a hint only: the file may grow while it is read, and
        // some regular files (/proc) report 0. Read at most one byte too many.
        ok = true;
        char chunk[16384];
        for (;;) {
            const qint64 room = maxBytes + 1 - contents.size();
            const ssize_t got = ::read(fd, chunk, size_t(qMin<qint64>(room, qint64(sizeof chunk))));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                reason = systemError(errno);
                ok = false;
                break;
            }
            if (got == 0)
                break;
            contents.append(chunk, int(got));
            if (contents.size() > maxBytes) {
                reason = QStringLiteral("larger than %1 bytes").arg(maxBytes);
                ok = false;
                break;
            }
        }
    }
    ::close(fd);
    if (!ok)
        contents.clear();
    return ok;
}

QByteArray withoutCarriageReturns(QByteArray bytes)
{
    bytes.replace('\r', QByteArray());
    return bytes;
}
