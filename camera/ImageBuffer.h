#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The pixels of one frame: rows x width unsigned 16-bit values in one block,
// row 0 first, each row right after the one before. Owns its block; a new
// shape is only allocated when it differs from the one held.
class ImageBuffer
{
public:
    // label names the buffer in the log line of a failed allocation
    // ("an image", "an RBI row").
    explicit ImageBuffer(const char* name) : label(name) {}

    // Makes room for rows x width pixels (a negative count is taken as 0).
    // The same shape as held keeps the block and its pixels; another shape
    // gets a new block, whose pixels have no value yet. When the memory cannot
    // be had, logs it and returns false, keeping the block held before.
    bool reshape(int rows, int width);
    // Frees the block; held() is false afterwards.
    void release();

    // A block is held (also for a 0 x 0 shape).
    bool held() const { return data != nullptr; }
    int rows() const { return rowCount; }
    int width() const { return rowWidth; }

    // Row r, and the rows after it up to rows() - 1 following on; none when
    // r is outside the buffer or nothing is held.
    std::uint16_t* row(int r) { return inside(r) ? data.get() + offset(r) : nullptr; }
    const std::uint16_t* row(int r) const { return inside(r) ? data.get() + offset(r) : nullptr; }
    std::uint16_t* operator[](std::size_t r) { return row(int(r)); }
    const std::uint16_t* operator[](std::size_t r) const { return row(int(r)); }

private:
    bool inside(int r) const { return data && r >= 0 && r < rowCount; }
    std::size_t offset(int r) const { return std::size_t(r) * std::size_t(rowWidth); }

    const char* label;
    std::unique_ptr<std::uint16_t[]> data;
    int rowCount = 0;
    int rowWidth = 0;
};
