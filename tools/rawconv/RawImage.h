#pragma once

#include "RawGeometry.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace rawconv {

// One image as the service writes it: height rows of width 16-bit pixels,
// least significant byte first, nothing else in the file.
class RawImage
{
public:
    enum class ReadStatus { Ok, SizeMismatch, ReadError };

    RawImage() = default;
    RawImage(const RawGeometry& geometry, std::vector<std::uint16_t> pixels);

    // bytes must hold geometry.byteSize() bytes. Decoded byte by byte, so the
    // result does not depend on the host's byte order.
    static RawImage fromBytes(const QByteArray& bytes, const RawGeometry& geometry);

    // Reads path, refusing a file whose size does not fit the geometry
    // before reading any of it; error says why when the status is not Ok.
    static ReadStatus read(const QString& path, const RawGeometry& geometry, RawImage& image, QString& error);

    const RawGeometry& geometry() const { return geometry_; }
    int width() const { return geometry_.width(); }
    int height() const { return geometry_.height(); }
    const std::vector<std::uint16_t>& pixels() const { return pixels_; }
    std::uint16_t at(int x, int y) const { return pixels_[std::size_t(y) * std::size_t(width()) + std::size_t(x)]; }

private:
    RawGeometry geometry_;
    std::vector<std::uint16_t> pixels_;
};

} // namespace rawconv
