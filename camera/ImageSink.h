#pragma once

#include "ExposureSettings.h"
#include "FrameRecord.h"
#include "SeqFileContinuation.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

class ImageBuffer;

// Where read-out images go. store() takes a frame's record and its pixels
// and says what became of them: the final name, or the step that lost them.
class ImageSink
{
public:
    struct Result
    {
        QString file;   // the final name; empty when nothing was stored
        QString lostAt; // the file step that failed ("create", "write", ...)
        bool ok() const { return !file.isEmpty(); }
    };
    virtual ~ImageSink() = default;
    virtual Result store(const FrameRecord& record, const ImageBuffer& pixels) = 0;
};

// Keeps nothing and says every image stored under its would-be name.
class NullSink : public ImageSink
{
public:
    Result store(const FrameRecord& record, const ImageBuffer&) override
    {
        return Result{QStringLiteral("null:%1").arg(record.id), QString()};
    }
};

// What the file sink names its files with and writes beside them.
struct FileSinkOptions
{
    QString imageDir; // empty: the working directory
    QString nodeName; // tags the temporaries
    bool metadata = false;
    bool continueSeqFileNo = false; // see SeqFileContinuation
    QString serviceVersion;
    // Identity read at open; empty when unknown.
    std::optional<QString> cameraModel, serialNumber, libraryVersion;
    std::optional<double> pixelWidth, pixelHeight;
};

// Names each image from the record's file name, picture number and the
// numbering of the moment (taken now, so a change reaches files not yet
// written), commits it durably and, when asked, its metadata with it.
class FileSink : public ImageSink
{
public:
    FileSink(ExposureSettings& numbering, const FileSinkOptions& sinkOptions)
        : settings(numbering), options(sinkOptions), continuation(sinkOptions.continueSeqFileNo)
    {}
    Result store(const FrameRecord& record, const ImageBuffer& pixels) override;
    FileSinkOptions& sinkOptions() { return options; }
    // The bus set the sequence number: no more look-ups in this run.
    void numberSet() { continuation.numberSet(); }

private:
    // The metadata file's contents for the image stored as file.
    QByteArray metadataFor(const FrameRecord& record, const QString& file, std::optional<int> sequenceNumber) const;

    ExposureSettings& settings;
    FileSinkOptions options;
    SeqFileContinuation continuation;
};
