#include "RawGeometry.h"

namespace rawconv {

RawGeometry::RawGeometry(int width, int height) : width_(width), height_(height) {}

RawGeometry RawGeometry::fromVisibleArea(int hbin, int vbin, int ulx, int uly, int lrx, int lry)
{
    if (hbin <= 0 || vbin <= 0)
        return RawGeometry();
    return RawGeometry((lrx - ulx) / hbin, (lry - uly) / vbin);
}

QString RawGeometry::sizeMismatch(qint64 fileSize) const
{
    if (fileSize == byteSize())
        return QString();
    return QStringLiteral("size is %1 bytes, expected %2 bytes for %3 x %4 pixels")
        .arg(fileSize)
        .arg(byteSize())
        .arg(width_)
        .arg(height_);
}

} // namespace rawconv
