#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// Naming and safe creation of the raw image files.
namespace imagefile {

// The file name for one image: the last path component of fileName split at
// its last dot into base and suffix, then
//   base + ["%04d" seqFileNo] + "-%04d" imageIndex + "." + suffix.
// When useSeqFileNo is set, seqFileNo is taken and incremented.
QString composeName(const QString& fileName, bool useSeqFileNo, int& seqFileNo, int imageIndex);

// The n-th alternative for a name that is already taken: "_n" put before the
// last dot ("run0000-0000_1.dat"), so a taken name never costs an image.
QString alternativeName(const QString& name, int n);

// Creates name in the working directory for writing, refusing atomically
// when anything (a file, a directory, a link, dangling or not) stands there.
// Returns the descriptor, or -1 with errno set.
int createExclusive(const QString& name);

// Writes all of data to fd; false on any error (errno set). Retries short
// writes and interrupted calls.
bool writeAll(int fd, const void* data, std::size_t size);

} // namespace imagefile
