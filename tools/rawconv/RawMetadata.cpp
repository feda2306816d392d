#include "RawMetadata.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace rawconv {

using imagemeta::ImageMetadata;

namespace {

// The service writes well under a kilobyte; anything far larger is no metadata file.
constexpr qint64 MaxMetadataBytes = 64 * 1024;

struct Binning
{
    int h;
    int v;
};

// Binning of the image: --bin, else the metadata's, else the default unless
// the size was given outright (then nothing is known).
std::optional<Binning> binningFor(const ConvertOptions& options, const std::optional<ImageMetadata>& metadata)
{
    if (options.binGiven || (!metadata && !options.sizeGiven))
        return Binning{options.hbin, options.vbin};
    if (metadata)
        return Binning{metadata->hbin, metadata->vbin};
    return std::nullopt;
}

bool fromVisibleArea(const ConvertOptions& options, const std::optional<ImageMetadata>& metadata)
{
    return !options.sizeGiven && (!metadata || options.binGiven || options.visibleGiven);
}

// The names FITS software commonly expects in IMAGETYP.
QString imageType(int frameType)
{
    switch (frameType) {
    case 0:
        return QStringLiteral("Light Frame");
    case 1:
        return QStringLiteral("Dark Frame");
    default:
        return imagemeta::frameTypeName(frameType);
    }
}

} // namespace

namespace {

// The metadata in the file at path for the raw file rawPath; empty with
// problem empty when there is no such file.
std::optional<ImageMetadata> readMetadata(const QString& path, const QString& rawPath, qint64 rawSize, QString& problem)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return std::nullopt;
    auto ignored = [&](const QString& why) -> std::optional<ImageMetadata> {
        problem = QStringLiteral("%1: %2; metadata ignored").arg(path, why);
        return std::nullopt;
    };
    // Also keeps a FIFO from blocking the read.
    if (!info.isFile())
        return ignored(QStringLiteral("not a regular file"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ignored(file.errorString());
    const QByteArray json = file.read(MaxMetadataBytes + 1);
    if (json.size() > MaxMetadataBytes)
        return ignored(QStringLiteral("larger than %1 bytes").arg(MaxMetadataBytes));

    ImageMetadata metadata;
    QString error;
    if (!imagemeta::fromJson(json, metadata, error))
        return ignored(error);
    // A name alone proves nothing: a file left from another image may sit there.
    const QString rawName = QFileInfo(rawPath).fileName();
    if (metadata.imageFile != rawName)
        return ignored(QStringLiteral("describes \"%1\", not %2").arg(metadata.imageFile, rawName));
    const RawGeometry described(metadata.width, metadata.height);
    if (!described.isValid())
        return ignored(QStringLiteral("describes an image of %1 x %2 pixels").arg(metadata.width).arg(metadata.height));
    const QString mismatch = described.sizeMismatch(rawSize);
    if (!mismatch.isEmpty())
        return ignored(QStringLiteral("does not fit %1: %2").arg(rawName, mismatch));
    return metadata;
}

} // namespace

std::optional<ImageMetadata> readMetadataBeside(const QString& rawPath, qint64 rawSize, QString& problem)
{
    problem.clear();
    QStringList problems;
    std::optional<ImageMetadata> metadata;
    for (const QString& path : {imagemeta::fileNameFor(rawPath), imagemeta::legacyFileNameFor(rawPath)}) {
        QString why;
        metadata = readMetadata(path, rawPath, rawSize, why);
        if (!why.isEmpty())
            problems << why;
        if (metadata)
            break;
    }
    problem = problems.join(QLatin1Char('\n'));
    return metadata;
}

RawGeometry geometryFor(const ConvertOptions& options, const std::optional<ImageMetadata>& metadata)
{
    if (options.sizeGiven)
        return RawGeometry(options.width, options.height);
    if (fromVisibleArea(options, metadata)) {
        const Binning bin = *binningFor(options, metadata);
        return RawGeometry::fromVisibleArea(bin.h, bin.v, options.ulx, options.uly, options.lrx, options.lry);
    }
    return RawGeometry(metadata->width, metadata->height);
}

FitsEncoder::Keywords keywordsFor(const ConvertOptions& options, const std::optional<ImageMetadata>& metadata,
                                  const QString& sourceFile)
{
    FitsEncoder::Keywords k;
    const std::optional<Binning> bin = binningFor(options, metadata);
    if (bin) {
        k.xBinning = bin->h;
        k.yBinning = bin->v;
    }
    k.exposureMs = options.exposureMs;
    k.hasVisibleArea = options.visibleGiven || fromVisibleArea(options, metadata);
    k.visibleUlx = options.ulx;
    k.visibleUly = options.uly;
    k.visibleLrx = options.lrx;
    k.visibleLry = options.lry;
    k.sourceFile = sourceFile;
    if (!metadata)
        return k;

    const ImageMetadata& m = *metadata;
    if (!k.exposureMs)
        k.exposureMs = m.exposureTimeMs;
    k.exposureStart = m.exposureStart;
    k.imageType = imageType(m.frameType);
    k.ccdTemperature = m.atStart.ccdTemperature;
    k.setTemperature = m.setPoint;
    k.instrument = m.cameraModel.value_or(QString());
    // The camera reports the unbinned size in metres; the header gives the
    // size of one image pixel in micrometres, binning included.
    if (m.pixelWidth && bin)
        k.pixelWidthUm = *m.pixelWidth * 1e6 * bin->h;
    if (m.pixelHeight && bin)
        k.pixelHeightUm = *m.pixelHeight * 1e6 * bin->v;
    return k;
}

} // namespace rawconv
