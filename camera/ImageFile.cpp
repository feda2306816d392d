#include "ImageFile.h"

#include "ImageMetadata.h"
#include "RenameNoReplace.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace imagefile {

namespace {

constexpr int MaxAlternatives = 999;
const char* const DefaultTag = "QtTarn";
const char* const TemporarySuffix = ".part";

std::atomic<bool> linkFallbackLogged{false};

// The last path component of fileName split at its last dot.
void splitFileName(const QString& fileName, QString& base, QString& suffix)
{
    const int slash = fileName.lastIndexOf(QLatin1Char('/'));
    const QString component = slash >= 0 ? fileName.mid(slash + 1) : fileName;
    const int dot = component.lastIndexOf(QLatin1Char('.'));
    base = dot >= 0 ? component.left(dot) : component;
    suffix = dot >= 0 ? component.mid(dot + 1) : QString();
}

const char* errorText(int error)
{
    return std::strerror(error);
}

// A descriptor closed on every way out.
class Fd
{
public:
    explicit Fd(int descriptor = -1) : fd(descriptor) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd; }
    // Closes now; false (errno set) when close reports an error.
    bool reset()
    {
        const int taken = fd;
        fd = -1;
        return taken < 0 || ::close(taken) == 0;
    }

private:
    int fd;
};

int openDirectory(const QString& dir)
{
    const QByteArray path = dir.isEmpty() ? QByteArray(".") : QFile::encodeName(dir);
    int fd;
    do {
        fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int fsyncRetrying(int fd)
{
    int status;
    do {
        status = ::fsync(fd);
    } while (status != 0 && errno == EINTR);
    return status;
}

// Writes all of data to fd; false on any error (errno set). Retries short
// writes and interrupted calls.
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

bool writeRows(int fd, const std::uint16_t* pixels, int width, int height, const CommitProgress& progress)
{
    const std::size_t rowPixels = std::size_t(width);
    for (int first = 0; first < height; first += RowsPerWrite) {
        const int end = std::min(height, first + RowsPerWrite);
        if (progress.writingRows)
            progress.writingRows(first, end);
        const std::uint16_t* data = pixels + rowPixels * std::size_t(first);
        const std::size_t count = rowPixels * std::size_t(end - first);
#if Q_BYTE_ORDER == Q_BIG_ENDIAN
        std::vector<std::uint16_t> le(data, data + count);
        for (auto& p : le)
            p = qToLittleEndian(p);
        data = le.data();
#endif
        if (!writeAll(fd, data, count * sizeof(std::uint16_t)))
            return false;
    }
    return true;
}

bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// Gives the temporary the name `target` without ever replacing an entry.
// `useLink` is set (and stays) once the file system turns out to lack
// renameat2's no-replace flag. 0 or an errno.
int linkInto(int dirFd, const QByteArray& temporary, const QByteArray& target, bool& useLink)
{
    if (!useLink) {
        if (renameNoReplace(dirFd, temporary.constData(), target.constData()) == 0)
            return 0;
        const int error = errno;
        if (!unsupported(error))
            return error;
        if (!linkFallbackLogged.exchange(true))
            qDebug() << "Renaming without replacing is not supported here:" << errorText(error) << "- linking instead";
        useLink = true;
    }
    if (::linkat(dirFd, temporary.constData(), dirFd, target.constData(), 0) != 0)
        return errno;
    if (::unlinkat(dirFd, temporary.constData(), 0) != 0) {
        // The image is whole under its name; the extra link goes at the next start.
        qDebug() << "Cannot remove the temporary" << QFile::decodeName(temporary) << ":" << errorText(errno);
    }
    return 0;
}

} // namespace

QString composeName(const QString& fileName, bool useSeqFileNo, int& seqFileNo, int imageIndex)
{
    QString base;
    QString suffix;
    splitFileName(fileName, base, suffix);

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

int nextSeqFileNo(const QStringList& names, const QString& fileName)
{
    QString base;
    QString suffix;
    splitFileName(fileName, base, suffix);
    // Image names only: a metadata file beside an image ("<image>.json") or
    // a temporary does not match.
    const QRegularExpression pattern(QStringLiteral("^%1([0-9]{4})-[0-9]{4}(_[0-9]+)?\\.%2$")
                                         .arg(QRegularExpression::escape(base), QRegularExpression::escape(suffix)));
    int highest = -1;
    for (const QString& name : names) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (match.hasMatch())
            highest = std::max(highest, match.captured(1).toInt());
    }
    return highest + 1;
}

int nextSeqFileNo(const QString& dir, const QString& fileName)
{
    const QDir directory(dir.isEmpty() ? QStringLiteral(".") : dir);
    return nextSeqFileNo(directory.entryList(QDir::Files | QDir::System), fileName);
}

QString alternativeName(const QString& name, int n)
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString tag = QStringLiteral("_%1").arg(n);
    if (dot < 0)
        return name + tag;
    return name.left(dot) + tag + name.mid(dot);
}

QString temporaryTag(const QString& nodeName)
{
    QString tag = nodeName.isEmpty() ? QString::fromLatin1(DefaultTag) : nodeName;
    tag.replace(QLatin1Char('/'), QLatin1Char('_'));
    tag.replace(QLatin1Char('.'), QLatin1Char('_'));
    return tag;
}

QString temporaryName(const QString& nodeName, const QString& name, long nameMax)
{
    const QString prefix = QLatin1Char('.') + temporaryTag(nodeName) + QLatin1Char('.');
    QString middle = name;
    auto whole = [&] { return prefix + middle + QLatin1String(TemporarySuffix); };
    while (!middle.isEmpty() && QFile::encodeName(whole()).size() > nameMax)
        middle.chop(1);
    return whole();
}

namespace {

bool exists(int dirFd, const QByteArray& name)
{
    struct stat st;
    return ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

int createExclusive(int dirFd, const QByteArray& name)
{
    int fd;
    do {
        fd = ::openat(dirFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// A metadata file put in place for one image name.
struct MetadataPlacement
{
    bool claimed = false; // false with error 0: its name was taken meanwhile
    int error = 0;        // errno of a failure; the image goes on without it
};

// Writes contents to a temporary, flushes it and gives it the name target,
// never replacing an entry. Leaves no temporary behind.
MetadataPlacement placeMetadata(int dirFd, const QByteArray& temporary, const QByteArray& target,
                                const QByteArray& contents, bool& useLink)
{
    MetadataPlacement placement;
    Fd file(createExclusive(dirFd, temporary));
    if (file.get() < 0) {
        placement.error = errno;
        return placement;
    }
    bool written =
        writeAll(file.get(), contents.constData(), std::size_t(contents.size())) && fsyncRetrying(file.get()) == 0;
    if (!written)
        placement.error = errno;
    if (!file.reset() && written) {
        placement.error = errno;
        written = false;
    }
    const int error = written ? linkInto(dirFd, temporary, target, useLink) : placement.error;
    if (error != 0) {
        ::unlinkat(dirFd, temporary.constData(), 0);
        placement.error = error == EEXIST ? 0 : error;
        return placement;
    }
    placement.claimed = true;
    return placement;
}

} // namespace

CommitResult commitImage(const QString& dir, const QString& name, const QString& nodeName, const std::uint16_t* pixels,
                         int width, int height, const MetadataFor& metadataFor, const CommitProgress& progress)
{
    CommitResult result;
    auto fail = [&result](CommitStep step, int error) {
        result.failed = step;
        result.error = error;
        return result;
    };
    auto cannotCreate = [&](const QString& what, int error) {
        qDebug() << "Cannot create" << what << ":" << errorText(error) << "- image not stored";
        return fail(CommitStep::Create, error);
    };

    const QByteArray encoded = QFile::encodeName(name);
    if (encoded.isEmpty() || encoded.contains('/') || encoded == "." || encoded == "..")
        return cannotCreate(name, EINVAL);
    Fd directory(openDirectory(dir));
    if (directory.get() < 0)
        return cannotCreate(name, errno);
    // A name the directory cannot hold fails before the image is written for nothing.
    const long nameMax = ::fpathconf(directory.get(), _PC_NAME_MAX);
    if (nameMax > 0 && encoded.size() > nameMax)
        return cannotCreate(name, ENAMETOOLONG);
    const long temporaryMax = nameMax > 0 ? nameMax : 255;

    const QByteArray temporary = QFile::encodeName(temporaryName(nodeName, name, temporaryMax));
    Fd file(createExclusive(directory.get(), temporary));
    if (file.get() < 0)
        return cannotCreate(name, errno);
    auto discard = [&](CommitStep step, int error, const char* doing) {
        file.reset();
        ::unlinkat(directory.get(), temporary.constData(), 0);
        qDebug() << doing << name << "failed:" << errorText(error) << "- file removed, image not stored";
        return fail(step, error);
    };

    if (progress.started)
        progress.started();
    if (!writeRows(file.get(), pixels, width, height, progress))
        return discard(CommitStep::Write, errno, "Writing");
    if (fsyncRetrying(file.get()) != 0)
        return discard(CommitStep::Flush, errno, "Flushing");
    if (!file.reset())
        return discard(CommitStep::Write, errno, "Writing");

    // The image and its metadata take one name together: a name counts as
    // taken when either exists, so a metadata file never sits beside an image
    // it does not describe. The metadata goes first: an image under its name
    // then always has it, unless storing it failed (logged below).
    bool useLink = false;
    int error = EEXIST;
    QString target = name;
    QByteArray metadataTarget;
    for (int n = 0; error == EEXIST && n <= MaxAlternatives; ++n) {
        target = n == 0 ? name : alternativeName(name, n);
        const QByteArray targetBytes = QFile::encodeName(target);
        const QString metadataName = imagemeta::fileNameFor(target);
        metadataTarget = QFile::encodeName(metadataName);
        result.metadataStored = false;
        if (exists(directory.get(), targetBytes) || exists(directory.get(), metadataTarget))
            continue;
        if (metadataFor && result.metadataError == 0) {
            const MetadataPlacement placed =
                placeMetadata(directory.get(), QFile::encodeName(temporaryName(nodeName, metadataName, temporaryMax)),
                              metadataTarget, metadataFor(target), useLink);
            if (!placed.claimed && placed.error == 0)
                continue;
            result.metadataStored = placed.claimed;
            result.metadataError = placed.error;
        }
        error = linkInto(directory.get(), temporary, targetBytes, useLink);
        // Not this image's name after all: its metadata must not stay there.
        if (error != 0 && result.metadataStored)
            ::unlinkat(directory.get(), metadataTarget.constData(), 0);
    }
    if (error != 0) {
        result.metadataStored = false;
        ::unlinkat(directory.get(), temporary.constData(), 0);
        if (error == EEXIST)
            qDebug().noquote() << QStringLiteral("Cannot create \"%1\": it and its alternatives _1 to _%2 all exist - "
                                                 "image not stored; set another file name (SetFileName) or "
                                                 "sequence number (SetSeqFileNo)")
                                      .arg(name)
                                      .arg(MaxAlternatives);
        else
            qDebug() << "Cannot create" << name << ":" << errorText(error) << "- image not stored";
        return fail(CommitStep::Rename, error);
    }
    if (target != name)
        qDebug() << "File exists, image written as" << target;
    if (result.metadataError != 0)
        qDebug() << "The metadata of" << target << "was not stored as" << QFile::decodeName(metadataTarget) << ":"
                 << errorText(result.metadataError) << "- the image is stored without it";
    result.name = target;

    // Makes the new names themselves survive a power cut. File systems that
    // cannot flush a directory say EINVAL: there is nothing more to do there.
    if (fsyncRetrying(directory.get()) != 0 && errno != EINVAL) {
        const int syncError = errno;
        qDebug() << "Flushing the directory of" << target << "failed:" << errorText(syncError)
                 << "- the file is whole, its name may not survive a power cut";
        return fail(CommitStep::DirectoryFlush, syncError);
    }
    return result;
}

CommitResult commitImage(const QString& dir, const QString& name, const QString& nodeName, const std::uint16_t* pixels,
                         int width, int height, const CommitProgress& progress)
{
    return commitImage(dir, name, nodeName, pixels, width, height, MetadataFor(), progress);
}

int removeTemporaries(const QString& dir, const QString& nodeName)
{
    const int dirFd = openDirectory(dir);
    DIR* stream = dirFd >= 0 ? ::fdopendir(dirFd) : nullptr;
    if (!stream) {
        const int error = errno;
        if (dirFd >= 0)
            ::close(dirFd);
        qDebug() << "Cannot look for temporaries in" << (dir.isEmpty() ? QStringLiteral(".") : dir) << ":"
                 << errorText(error);
        return -1;
    }
    const QByteArray prefix = QFile::encodeName(QLatin1Char('.') + temporaryTag(nodeName) + QLatin1Char('.'));
    // Collected first: removing entries while reading the directory may skip some.
    std::vector<QByteArray> found;
    while (const dirent* entry = ::readdir(stream)) {
        const QByteArray entryName(entry->d_name);
        if (!entryName.startsWith(prefix) || !entryName.endsWith(TemporarySuffix))
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            found.push_back(entryName);
    }
    int removed = 0;
    for (const QByteArray& entryName : found) {
        const QString shown = QFile::decodeName(entryName);
        if (::unlinkat(dirFd, entryName.constData(), 0) == 0) {
            qDebug() << "Removed the temporary" << shown << "left by an earlier run";
            ++removed;
        } else {
            qDebug() << "Cannot remove the temporary" << shown << ":" << errorText(errno);
        }
    }
    ::closedir(stream);
    return removed;
}

} // namespace imagefile
