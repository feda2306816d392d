#include "PngEncoder.h"

#include "PercentileStretch.h"
#include "RawImage.h"

#include <QBuffer>

#include <array>

namespace rawconv {

QImage PngEncoder::render(const RawImage& image, const PercentileStretch& stretch)
{
    // One table for all 65536 levels is cheaper than a division per pixel.
    std::array<std::uint8_t, 65536> table;
    for (std::size_t v = 0; v < table.size(); ++v)
        table[v] = stretch.apply(std::uint16_t(v));

    QImage picture(image.width(), image.height(), QImage::Format_Grayscale8);
    if (picture.isNull())
        return picture;
    const std::uint16_t* in = image.pixels().data();
    for (int y = 0; y < image.height(); ++y) {
        uchar* line = picture.scanLine(y);
        for (int x = 0; x < image.width(); ++x)
            line[x] = table[*in++];
    }
    return picture;
}

QByteArray PngEncoder::encode(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG"))
        return QByteArray();
    return bytes;
}

} // namespace rawconv
