#pragma once

#include <QString>

#include <cstdint>
#include <vector>

class NodeUnderTest;

// The image pipeline of a 4096 x 4096 frame: the service's DownLoadImage
// (read-out from the simulator plus the file write) and the two things it is
// made of, timed on their own in this process: the simulator's rendering of
// the rows and a plain write of the same bytes to the same file system.
class ImageBench
{
public:
    static constexpr int Width = 4096;
    static constexpr int Height = 4096;
    static constexpr std::size_t ImageBytes = std::size_t(Width) * Height * 2;

    // Wall-clock time and the CPU time of whoever did the work (the
    // service's main thread, or this thread), in milliseconds.
    struct Timing
    {
        double wallMs = -1.0;
        double cpuMs = -1.0;
        bool ok() const { return wallMs >= 0.0; }
    };

    explicit ImageBench(const QString& directory);

    // Sets bin 1 1 1 and exposure time 0 on the node.
    bool setUp(NodeUnderTest& node, QString* why);

    // StartExposure, wait for the end of the exposure, then time
    // DownLoadImage from request to reply. Checks the file's size and
    // removes it. Not ok() on failure.
    Timing download(NodeUnderTest& node, QString* why);

    // The simulator's rendering of all rows into an image buffer kept from
    // frame to frame, as the service keeps its own. Runs on the
    // nodes' CPU when they are bound to one, as does plainWrite().
    Timing renderReadOut(int frameNumber);

    // One buffer written with write(2) in a loop to a new file in the
    // directory, then closed and removed. With flushToDisk, fsync before the
    // close: the least a durable store of the bytes must pay. Not ok() on
    // failure.
    Timing plainWrite(bool flushToDisk = false);

private:
    QString directory;
    std::vector<std::uint16_t> data;    // filled once, outside the timing
    std::vector<std::uint16_t> readOut; // the rendering's image buffer
};
