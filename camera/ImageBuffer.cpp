#include "ImageBuffer.h"

#include <QDebug>

#include <algorithm>
#include <new>

bool ImageBuffer::reshape(int rows, int width)
{
    rows = std::max(rows, 0);
    width = std::max(width, 0);
    // The same frame as last time (the usual case): keep the block. A new
    // one costs a mapping at every start and fresh pages at every read-out.
    if (data && rows == rowCount && width == rowWidth)
        return true;
    const std::size_t pixels = std::size_t(rows) * std::size_t(width);
    std::unique_ptr<std::uint16_t[]> block(new (std::nothrow) std::uint16_t[pixels ? pixels : 1]);
    if (!block) {
        // A single row is named by its width alone.
        if (rows == 1)
            qDebug() << "Cannot allocate" << label << "of" << width << "pixels";
        else
            qDebug() << "Cannot allocate" << label << "of" << width << "x" << rows << "pixels";
        return false;
    }
    data = std::move(block);
    rowCount = rows;
    rowWidth = width;
    return true;
}

void ImageBuffer::release()
{
    data.reset();
    rowCount = 0;
    rowWidth = 0;
}
