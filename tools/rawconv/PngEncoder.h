#pragma once

#include <QByteArray>

#include <cstdint>
#include <vector>

namespace rawconv {

class PercentileStretch;
class RawImage;

// An 8-bit grey picture, rows back to back, first row at the top.
struct GreyPicture
{
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// The quick-look picture: 8-bit grey, first row of the file at the top,
// encoded by libpng (no GUI toolkit on a headless camera host).
class PngEncoder
{
public:
    static GreyPicture render(const RawImage& image, const PercentileStretch& stretch);

    // The PNG file's bytes; empty when the picture is empty or libpng failed.
    static QByteArray encode(const GreyPicture& picture);
};

} // namespace rawconv
