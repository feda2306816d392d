#include "LineReader.h"

LineReader::LineReader(int maxLineBytes) : maxBytes(maxLineBytes > 0 ? maxLineBytes : 1) {}

void LineReader::compact()
{
    // Drop the handed-out front only when it is worth the copy.
    if (start > 0 && (start >= buffer.size() || start > 65536)) {
        buffer.remove(0, start);
        start = 0;
    }
}

void LineReader::append(const QByteArray& bytes)
{
    append(bytes.constData(), bytes.size());
}

void LineReader::append(const char* data, int size)
{
    if (size <= 0)
        return;
    compact();
    buffer.append(data, size);
}

char* LineReader::reserve(int size)
{
    compact();
    reserved = size > 0 ? size : 0;
    const int used = buffer.size();
    // A reserved capacity survives the buffer running empty between reads.
    if (buffer.capacity() < used + reserved)
        buffer.reserve(2 * (used + reserved));
    buffer.resize(used + reserved);
    return buffer.data() + used;
}

void LineReader::appendReserved(int size)
{
    // Shrinking keeps the capacity for the next read.
    const int unused = reserved - qBound(0, size, reserved);
    buffer.resize(buffer.size() - unused);
    reserved = 0;
}

QByteArray LineReader::takeLine()
{
    const char* begin;
    int size;
    if (!nextLine(begin, size))
        return QByteArray();
    QByteArray line(begin, size);
    if (start == buffer.size()) {
        buffer.resize(0); // keeps a reserved capacity
        start = 0;
    }
    return line;
}

QByteArray LineReader::takeRest()
{
    QByteArray rest = buffer.mid(start);
    clear();
    return rest;
}

void LineReader::clear()
{
    buffer.clear();
    start = 0;
    scanned = 0;
}

QByteArray LineReader::withoutLineEnd(QByteArray line)
{
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}
