#pragma once

#include <QByteArray>

// Cuts a byte stream into lines. Bytes are appended as they arrive; a line is
// complete when its line feed has arrived. A run of MaxLineBytes bytes without
// a line feed is handed out as a piece of its own, so a peer that never sends
// a line feed cannot make the buffer grow without bound.
class LineReader
{
public:
    // The most bytes one line (or piece of an overlong line) may hold,
    // the line feed included.
    static constexpr int MaxLineBytes = 3999;

    void append(const QByteArray& bytes);
    void append(const char* data, int size);

    // True when takeLine() would return a line: a line feed has arrived, or
    // MaxLineBytes bytes are waiting without one.
    bool hasLine() const;

    // The next line with its line feed (or an overlong piece without one);
    // empty when hasLine() is false.
    QByteArray takeLine();

    // Bytes received and not yet handed out.
    int pending() const { return buffer.size() - start; }

    void clear();

private:
    int lineEnd() const; // index one past the next line, or -1

    QByteArray buffer;
    int start = 0; // handed-out bytes at the front, dropped lazily
};
