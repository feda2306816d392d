#include "RawConverter.h"

#include "FitsEncoder.h"
#include "OutputFile.h"
#include "PercentileStretch.h"
#include "PngEncoder.h"
#include "RawImage.h"
#include "RawMetadata.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace rawconv {

RawConverter::RawConverter(const ConvertOptions& options) : options_(options) {}

QStringList RawConverter::expand(const QString& input, const QString& suffix)
{
    const QFileInfo info(input);
    if (!info.isDir())
        return {input};
    QStringList files;
    const QDir dir(input);
    // QDir::Files without QDir::System leaves out FIFOs and devices, which
    // could block the read or are no images anyway.
    for (const QFileInfo& entry : dir.entryInfoList(QDir::Files, QDir::Name)) {
        if (entry.fileName().endsWith(suffix))
            files << dir.filePath(entry.fileName());
    }
    return files;
}

int RawConverter::run(QTextStream& out, QTextStream& err)
{
    if (!options_.outDir.isEmpty() && !QDir().mkpath(options_.outDir)) {
        err << options_.outDir << ": cannot create the output directory\n";
        return Failed;
    }
    int status = Ok;
    for (const QString& input : options_.inputs) {
        const QStringList files = expand(input, options_.suffix);
        if (files.isEmpty())
            err << input << ": no files ending with " << options_.suffix << ", nothing to do\n";
        for (const QString& file : files)
            status = std::max(status, convert(file, out, err));
    }
    out.flush();
    err.flush();
    return status;
}

int RawConverter::convert(const QString& input, QTextStream& out, QTextStream& err)
{
    const QFileInfo info(input);
    if (!info.exists()) {
        err << input << ": no such file\n";
        return Failed;
    }
    if (!info.isFile()) {
        err << input << ": not a regular file\n";
        return Failed;
    }

    QString error;
    const std::optional<imagemeta::ImageMetadata> metadata = readMetadataBeside(input, info.size(), error);
    if (!error.isEmpty())
        err << error << "\n";

    RawImage image;
    switch (RawImage::read(input, geometryFor(options_, metadata), image, error)) {
    case RawImage::ReadStatus::Ok:
        break;
    case RawImage::ReadStatus::SizeMismatch:
        err << input << ": " << error << ", not converted (check --bin/--visible or --width/--height)\n";
        return BadInput;
    case RawImage::ReadStatus::ReadError:
        err << input << ": cannot read: " << error << "\n";
        return Failed;
    }

    int status = Ok;
    if (options_.png)
        status = std::max(status, writeOutput(input, QStringLiteral("png"), image, metadata, out, err));
    if (options_.fits)
        status = std::max(status, writeOutput(input, QStringLiteral("fits"), image, metadata, out, err));
    return status;
}

int RawConverter::writeOutput(const QString& input, const QString& extension, const RawImage& image,
                              const std::optional<imagemeta::ImageMetadata>& metadata, QTextStream& out,
                              QTextStream& err)
{
    const QString output = OutputFile::nameFor(input, extension, options_.outDir);
    const QString absolute = QFileInfo(output).absoluteFilePath();
    // "x.png" given as input would otherwise be its own output, and with
    // --force "a.dat" and "a.raw" would silently overwrite each other.
    if (absolute == QFileInfo(input).absoluteFilePath()) {
        err << output << ": would replace its own input, not written\n";
        return Failed;
    }
    if (written_.contains(absolute)) {
        err << output << ": already written from another input in this run, not written again\n";
        return Failed;
    }
    // Checked early only to save the encoding; the write decides for sure.
    if (!options_.force && (QFileInfo::exists(output) || QFileInfo(output).isSymLink())) {
        err << output << ": exists, not replaced (--force replaces it)\n";
        return Failed;
    }

    QByteArray bytes;
    QString error;
    if (extension == QLatin1String("png")) {
        const PercentileStretch stretch =
            PercentileStretch::fromPixels(image.pixels(), options_.lowPercent, options_.highPercent);
        bytes = PngEncoder::encode(PngEncoder::render(image, stretch));
        if (bytes.isEmpty())
            error = QStringLiteral("PNG encoding failed");
    } else {
        FitsEncoder::encode(image, keywordsFor(options_, metadata, QFileInfo(input).fileName()), bytes, error);
    }
    if (!error.isEmpty()) {
        err << input << ": " << error << "\n";
        return Failed;
    }

    switch (OutputFile::write(output, bytes, options_.force, error)) {
    case OutputFile::WriteStatus::Written:
        written_.insert(absolute);
        out << input << " -> " << output << "\n";
        return Ok;
    case OutputFile::WriteStatus::Exists:
    case OutputFile::WriteStatus::Failed:
        break;
    }
    err << output << ": " << error << "\n";
    return Failed;
}

} // namespace rawconv
