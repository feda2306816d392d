#pragma once

#include <QByteArray>
#include <QString>

namespace rawconv {

// Where a converted image goes, and writing it without ever clobbering an
// existing file by accident.
class OutputFile
{
public:
    enum class WriteStatus { Written, Exists, Failed };

    // The input's file name with its suffix (from the last dot on) replaced
    // by "." + extension: "run0003-0002.dat" gives "run0003-0002.png". A name
    // without a suffix, or one that only starts with a dot, gets the
    // extension appended. The directory is outDir when given, otherwise the
    // input's own.
    static QString nameFor(const QString& input, const QString& extension, const QString& outDir);

    // Without force the file is created only if nothing stands at path,
    // decided atomically by the file system; a file that fails half-way is
    // removed. With force an existing file is replaced in one rename, so a
    // reader never sees a half-written image.
    static WriteStatus write(const QString& path, const QByteArray& data, bool force, QString& error);
};

} // namespace rawconv
