#include "NodeLock.h"

#include "ImageFile.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString NodeLock::fileName(const QString& nodeName)
{
    return QLatin1Char('.') + imagefile::temporaryTag(nodeName) + QStringLiteral(".lock");
}

NodeLock::NodeLock(const QString& dir, const QString& nodeName)
{
    lockPath = (dir.isEmpty() ? QString() : dir + QLatin1Char('/')) + fileName(nodeName);
    const QByteArray path = QFile::encodeName(lockPath);
    // Read-only is enough for flock; O_NONBLOCK keeps a FIFO in the way from
    // blocking the start-up, O_NOFOLLOW a link from reaching elsewhere.
    do {
        fd = ::open(path.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        lockError = errno;
        return;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        lockError = EINVAL; // something else under the lock file's name
        ::close(fd);
        fd = -1;
        return;
    }
    int status;
    do {
        status = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (status != 0 && errno == EINTR);
    if (status == 0) {
        lockState = State::Held;
        return;
    }
    lockError = errno;
    lockState = errno == EWOULDBLOCK ? State::HeldByOther : State::Unavailable;
    ::close(fd);
    fd = -1;
}

NodeLock::~NodeLock()
{
    if (fd >= 0)
        ::close(fd);
}
