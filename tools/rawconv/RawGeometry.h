#pragma once

#include <QString>
#include <QtGlobal>

namespace rawconv {

// Width and height of one raw image. The files carry no header, so the
// geometry has to come from the exposure settings or be given outright.
class RawGeometry
{
public:
    RawGeometry() = default;
    RawGeometry(int width, int height);

    // The camera reads whole binned pixels only: integer division, the
    // remainder of the visible area is dropped, as the service does.
    static RawGeometry fromVisibleArea(int hbin, int vbin, int ulx, int uly, int lrx, int lry);

    int width() const { return width_; }
    int height() const { return height_; }
    bool isValid() const { return width_ > 0 && height_ > 0; }
    qint64 pixelCount() const { return qint64(width_) * height_; }
    qint64 byteSize() const { return pixelCount() * 2; }

    // Empty when a file of fileSize bytes holds exactly this image, otherwise
    // a message naming the expected and the actual size.
    QString sizeMismatch(qint64 fileSize) const;

private:
    int width_ = 0;
    int height_ = 0;
};

} // namespace rawconv
