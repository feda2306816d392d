#include "LineReader.h"

#include <cstring>

void LineReader::append(const QByteArray& bytes)
{
    append(bytes.constData(), bytes.size());
}

void LineReader::append(const char* data, int size)
{
    if (size <= 0)
        return;
    // Drop the handed-out front only when it is worth the copy.
    if (start > 0 && (start >= buffer.size() || start > 65536)) {
        buffer.remove(0, start);
        start = 0;
    }
    buffer.append(data, size);
}

int LineReader::lineEnd() const
{
    const int available = buffer.size() - start;
    const int scan = available < MaxLineBytes ? available : MaxLineBytes;
    const void* lf = std::memchr(buffer.constData() + start, '\n', size_t(scan));
    if (lf)
        return int(static_cast<const char*>(lf) - buffer.constData()) + 1;
    if (available >= MaxLineBytes)
        return start + MaxLineBytes;
    return -1;
}

bool LineReader::hasLine() const
{
    return lineEnd() >= 0;
}

QByteArray LineReader::takeLine()
{
    const int end = lineEnd();
    if (end < 0)
        return QByteArray();
    QByteArray line = buffer.mid(start, end - start);
    start = end;
    if (start == buffer.size()) {
        buffer.clear();
        start = 0;
    }
    return line;
}

void LineReader::clear()
{
    buffer.clear();
    start = 0;
}
