#pragma once

#include <QByteArray>
#include <QImage>

namespace rawconv {

class PercentileStretch;
class RawImage;

// The quick-look picture: 8-bit grey, first row of the file at the top.
class PngEncoder
{
public:
    static QImage render(const RawImage& image, const PercentileStretch& stretch);

    // The PNG file's bytes; empty when Qt could not encode the image.
    static QByteArray encode(const QImage& image);
};

} // namespace rawconv
