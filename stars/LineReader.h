#pragma once

#include <QByteArray>

#include <cstring>

// Cuts a byte stream into lines. Bytes are appended as they arrive; a line is
// complete when its line feed has arrived. A run of maxLineBytes() bytes
// without a line feed is handed out as a piece of its own, so a peer that
// never sends a line feed cannot make the buffer grow without bound.
class LineReader
{
public:
    // The service's limit: one read takes at most this many bytes, the line
    // feed included.
    static constexpr int DefaultMaxLineBytes = 3999;
    // For test and benchmark peers that watch what a node writes and must see
    // its lines whole.
    static constexpr int ObserverMaxLineBytes = 1 << 20;

    // maxLineBytes: the most bytes one line (or piece of an overlong line)
    // may hold, the line feed included; at least 1.
    explicit LineReader(int maxLineBytes = DefaultMaxLineBytes);

    int maxLineBytes() const { return maxBytes; }

    void append(const QByteArray& bytes);
    void append(const char* data, int size);

    // Room for size bytes at the end of the buffer, to read into directly;
    // appendReserved(n) then keeps the first n of them. Nothing else may be
    // called in between.
    char* reserve(int size);
    void appendReserved(int size);

    // True when takeLine() would return a line: a line feed has arrived, or
    // maxLineBytes() bytes are waiting without one.
    bool hasLine();

    // The next line with its line feed (or an overlong piece without one);
    // empty when hasLine() is false.
    QByteArray takeLine();

    // The next line as a view into the buffer, line feed included; valid until
    // the next append or reserve. False when there is no complete line.
    bool nextLine(const char*& begin, int& size);

    // Everything not handed out yet (the last line of a stream that ended
    // without a line feed), leaving the reader empty.
    QByteArray takeRest();

    // Bytes received and not yet handed out.
    int pending() const { return buffer.size() - start; }

    void clear();

    // line without its line feed and a CR before it.
    static QByteArray withoutLineEnd(QByteArray line);

private:
    int lineEnd(); // index one past the next line, or -1
    void compact();

    int maxBytes;
    QByteArray buffer;
    int start = 0;    // handed-out bytes at the front, dropped lazily
    int scanned = 0;  // bytes after start known to hold no line feed
    int reserved = 0; // bytes of room at the end given out by reserve()
};

// Inline: these run once per line on the benchmarks' hot path.
inline int LineReader::lineEnd()
{
    const int available = buffer.size() - start;
    const int scan = (available < maxBytes ? available : maxBytes) - scanned;
    if (scan > 0) {
        const char* from = buffer.constData() + start + scanned;
        if (const void* lf = std::memchr(from, '\n', size_t(scan)))
            return int(static_cast<const char*>(lf) - buffer.constData()) + 1;
        scanned += scan;
    }
    if (available >= maxBytes)
        return start + maxBytes;
    return -1;
}

inline bool LineReader::hasLine()
{
    return lineEnd() >= 0;
}

inline bool LineReader::nextLine(const char*& begin, int& size)
{
    const int end = lineEnd();
    if (end < 0)
        return false;
    begin = buffer.constData() + start;
    size = end - start;
    start = end;
    scanned = 0;
    return true;
}
