#include "ImageSink.h"

#include "CameraLibrary.h"
#include "ImageBuffer.h"
#include "ImageFile.h"
#include "ImageMetadata.h"

#include <QDebug>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(steps)

namespace {

const char* commitStepName(imagefile::CommitStep step)
{
    switch (step) {
    case imagefile::CommitStep::Create:
        return "create";
    case imagefile::CommitStep::Write:
        return "write";
    case imagefile::CommitStep::Flush:
        return "flush";
    case imagefile::CommitStep::Rename:
        return "rename";
    case imagefile::CommitStep::DirectoryFlush:
        return "directory-flush";
    case imagefile::CommitStep::None:
        break;
    }
    return "commit";
}

} // namespace

ImageSink::Result FileSink::store(const FrameRecord& r, const ImageBuffer& pixels)
{
    qDebug() << "in write data";
    if (settings.useSeqFileNo)
        continuation.beforeTake(options.imageDir, r.fileName, settings.seqFileNo);
    const std::optional<int> sequenceNumber =
        settings.useSeqFileNo ? std::optional<int>(settings.seqFileNo) : std::nullopt;
    const QString name = imagefile::composeName(r.fileName, settings.useSeqFileNo, settings.seqFileNo, r.picture);
    qDebug() << "Writing file name " << name;

    // The per-row lines are only made when they will be shown.
    const bool logRows = steps().isDebugEnabled();
    imagefile::CommitProgress progress;
    progress.started = [] { qDebug() << "before writing"; };
    progress.writingRows = [logRows](int first, int end) {
        for (int row = first; logRows && row < end; ++row)
            qCDebug(steps) << "drawing a row No. " << row;
    };
    // The metadata names the image's final name, known only once both are claimed.
    imagefile::MetadataFor metadata;
    if (options.metadata)
        metadata = [&](const QString& finalName) { return metadataFor(r, finalName, sequenceNumber); };
    const imagefile::CommitResult stored =
        imagefile::commitImage(options.imageDir, name, options.nodeName, r.height > 0 ? pixels[0] : nullptr, r.width,
                               r.height, metadata, progress);
    if (!stored.ok())
        return Result{QString(), QLatin1String(commitStepName(stored.failed))};
    qDebug() << "after writing";
    return Result{stored.name, QString()};
}

QByteArray FileSink::metadataFor(const FrameRecord& r, const QString& file, std::optional<int> sequenceNumber) const
{
    imagemeta::ImageMetadata meta;
    meta.imageFile = file;
    meta.exposureStart = r.startUtc;
    meta.exposureEnd = r.exposureEndUtc;
    meta.exposureTimeMs = r.expTimeMs;
    meta.frameType = int(camlib::FrameNormal);
    meta.hbin = r.hbin;
    meta.vbin = r.vbin;
    meta.areaUlX = r.areaUlX;
    meta.areaUlY = r.areaUlY;
    meta.areaLrX = r.areaUlX + r.width;
    meta.areaLrY = r.areaUlY + r.height;
    meta.width = r.width;
    meta.height = r.height;
    meta.atStart = r.atStart;
    meta.atEnd = r.atEnd;
    meta.setPoint = r.setPoint;
    meta.cameraModel = options.cameraModel;
    meta.serialNumber = options.serialNumber;
    meta.libraryVersion = options.libraryVersion;
    meta.pixelWidth = options.pixelWidth;
    meta.pixelHeight = options.pixelHeight;
    meta.nodeName = options.nodeName;
    meta.sequenceNumber = sequenceNumber;
    meta.pictureNumber = r.picture;
    meta.serviceName = QStringLiteral("starscam");
    meta.serviceVersion = options.serviceVersion;
    return imagemeta::toJson(meta);
}
