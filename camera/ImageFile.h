#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <functional>

// Naming and durable storing of the raw image files.
namespace imagefile {

// Pixel rows written per write call.
constexpr int RowsPerWrite = 256;

// The file name for one image: the last path component of fileName split at
// its last dot into base and suffix, then
//   base + ["%04d" seqFileNo] + "-%04d" imageIndex + "." + suffix.
// When useSeqFileNo is set, seqFileNo is taken and incremented.
QString composeName(const QString& fileName, bool useSeqFileNo, int& seqFileNo, int imageIndex);

// The sequence number after the highest one that image names for fileName
// (composeName's base and suffix, with a sequence number) carry among names:
// base + 4 digits + "-" + 4 digits, an optional "_n", "." + suffix. 0 when
// there is none.
int nextSeqFileNo(const QStringList& names, const QString& fileName);
// The same over the file names in dir (empty: the working directory).
int nextSeqFileNo(const QString& dir, const QString& fileName);

// The n-th alternative for a name that is already taken: "_n" put before the
// last dot ("run0000-0000_1.dat"), so a taken name never costs an image.
QString alternativeName(const QString& name, int n);

// The tag that marks a node's temporaries: nodeName, "QtTarn" when empty,
// with '/' and '.' made '_' so that one node's pattern never matches
// another's.
QString temporaryTag(const QString& nodeName);

// The temporary an image is written to before it gets its name:
// "." + tag + "." + name + ".part", with name shortened when the whole would
// be longer than nameMax bytes. The leading dot keeps readers that skip
// hidden files from taking it for an image.
QString temporaryName(const QString& nodeName, const QString& name, long nameMax = 255);

// The step of a commit that failed.
enum class CommitStep { None, Create, Write, Flush, Rename, DirectoryFlush };

struct CommitResult
{
    CommitStep failed = CommitStep::None;
    int error = 0; // errno of the failed step
    // The name the image is stored under: name or one of its alternatives.
    // Also set when only the directory flush failed (the file is whole).
    QString name;
    // Whether imagemeta::fileNameFor(name) holds the image's metadata; when it does
    // not although metadata was asked for, metadataError is its errno.
    bool metadataStored = false;
    int metadataError = 0;

    bool ok() const { return failed == CommitStep::None; }
};

// Called by commitImage: `started` once the temporary exists, before the
// first byte; `writingRows` before each batch of rows [firstRow, endRow).
struct CommitProgress
{
    std::function<void()> started;
    std::function<void(int firstRow, int endRow)> writingRows;
};

// The contents of the metadata file for the image about to be stored under
// finalName.
using MetadataFor = std::function<QByteArray(const QString& finalName)>;

// Stores an image of `height` rows of `width` pixels, back to back from
// `pixels` (row 0 first), as the file `name` (a single path component) in
// `dir` (empty: the working directory), with metadataFor's contents (none when
// it is empty) as imagemeta::fileNameFor(the image's final name), so that a reader or
// a crash never finds a short file under an image name, nor an image beside
// another image's metadata:
//   1. create the temporary temporaryName(nodeName, name) in dir, exclusively
//      and without following links;
//   2. write the rows, least significant byte first, RowsPerWrite at a time;
//   3. fsync it;
//   4. claim a name: the first of name, alternativeName(name, 1 ... 999)
//      where neither the image name nor its metadata name exists (the log
//      line "File exists, image written as" names an alternative). The
//      metadata is written to its own temporary, fsynced and given its name,
//      then the image gets its name, each with renameat2(RENAME_NOREPLACE),
//      or, where the file system lacks that, link() and unlink() of the
//      temporary; neither ever replaces an entry, and a name taken meanwhile
//      moves both on to the next alternative;
//   5. fsync the directory, once for both.
// The image is never dropped for its metadata: when the metadata cannot be
// stored the image is stored alone, logged. A crash leaves the
// image under its name only with its metadata beside it; it may leave a
// metadata file without its image, which is harmless: that name counts as
// taken. On a failure of the image the temporaries (and its metadata) are
// removed, a log line names the step, the name and the error, and the result
// says which step failed. Nothing that stood under any name is touched.
CommitResult commitImage(const QString& dir, const QString& name, const QString& nodeName, const std::uint16_t* pixels,
                         int width, int height, const MetadataFor& metadataFor,
                         const CommitProgress& progress = CommitProgress());
// The same without metadata.
CommitResult commitImage(const QString& dir, const QString& name, const QString& nodeName, const std::uint16_t* pixels,
                         int width, int height, const CommitProgress& progress = CommitProgress());

// Removes the node's temporaries left in dir (empty: the working directory)
// by an earlier run that ended while writing: regular files matching
// "." + temporaryTag(nodeName) + ".*.part", each logged. Other nodes'
// temporaries, links and anything else are left alone. Returns the number
// removed, or -1 (logged) when dir cannot be read.
int removeTemporaries(const QString& dir, const QString& nodeName);

} // namespace imagefile
