#include "PngEncoder.h"

#include "PercentileStretch.h"
#include "RawImage.h"

#include <png.h>

#include <array>
#include <limits>

namespace rawconv {

GreyPicture PngEncoder::render(const RawImage& image, const PercentileStretch& stretch)
{
    // One table for all 65536 levels is cheaper than a division per pixel.
    std::array<std::uint8_t, 65536> table;
    for (std::size_t v = 0; v < table.size(); ++v)
        table[v] = stretch.apply(std::uint16_t(v));

    GreyPicture picture;
    if (image.width() <= 0 || image.height() <= 0)
        return picture;
    picture.width = image.width();
    picture.height = image.height();
    picture.pixels.resize(std::size_t(picture.width) * std::size_t(picture.height));
    const std::uint16_t* in = image.pixels().data();
    for (std::uint8_t& out : picture.pixels)
        out = table[*in++];
    return picture;
}

QByteArray PngEncoder::encode(const GreyPicture& picture)
{
    if (picture.width <= 0 || picture.height <= 0
        || picture.pixels.size() != std::size_t(picture.width) * std::size_t(picture.height))
        return QByteArray();
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(picture.width);
    png.height = png_uint_32(picture.height);
    png.format = PNG_FORMAT_GRAY;
    // First pass sizes the output, second writes it.
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(png, size, 0, picture.pixels.data(), 0, nullptr))
        return QByteArray();
    if (size > png_alloc_size_t(std::numeric_limits<int>::max()))
        return QByteArray();
    QByteArray bytes(int(size), Qt::Uninitialized);
    if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, picture.pixels.data(), 0, nullptr)) {
        png_image_free(&png);
        return QByteArray();
    }
    bytes.resize(int(size));
    return bytes;
}

} // namespace rawconv
