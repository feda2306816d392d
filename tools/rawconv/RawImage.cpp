#include "RawImage.h"

#include <QFile>

#include <utility>

namespace rawconv {

RawImage::RawImage(const RawGeometry& geometry, std::vector<std::uint16_t> pixels)
    : geometry_(geometry), pixels_(std::move(pixels))
{}

RawImage RawImage::fromBytes(const QByteArray& bytes, const RawGeometry& geometry)
{
    const std::size_t count = std::size_t(geometry.pixelCount());
    std::vector<std::uint16_t> pixels(count);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (std::size_t i = 0; i < count; ++i)
        pixels[i] = std::uint16_t(b[2 * i] | (b[2 * i + 1] << 8));
    return RawImage(geometry, std::move(pixels));
}

RawImage::ReadStatus RawImage::read(const QString& path, const RawGeometry& geometry, RawImage& image, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return ReadStatus::ReadError;
    }
    error = geometry.sizeMismatch(file.size());
    if (!error.isEmpty())
        return ReadStatus::SizeMismatch;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return ReadStatus::ReadError;
    }
    // The file may have been cut short or grown while we read it.
    error = geometry.sizeMismatch(bytes.size());
    if (!error.isEmpty())
        return ReadStatus::SizeMismatch;
    image = fromBytes(bytes, geometry);
    return ReadStatus::Ok;
}

} // namespace rawconv
