#include "ImageBench.h"

#include "CameraLibrary.h"
#include "Clock.h"
#include "NodeUnderTest.h"
#include "SimCamera.h"
#include "SimImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr int ImageTimeoutMs = 60000;

// Binds the calling thread to the nodes' CPU while it lives, so that what is
// set against the service's download runs under the same neighbours.
class OnNodeCpu
{
public:
    OnNodeCpu()
    {
        const int cpu = NodeProcess::nodeCpuNumber();
        moved = cpu >= 0 && ::sched_getaffinity(0, sizeof before, &before) == 0;
        if (moved) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(cpu, &set);
            moved = ::sched_setaffinity(0, sizeof set, &set) == 0;
        }
    }
    ~OnNodeCpu()
    {
        if (moved)
            ::sched_setaffinity(0, sizeof before, &before);
    }
    OnNodeCpu(const OnNodeCpu&) = delete;
    OnNodeCpu& operator=(const OnNodeCpu&) = delete;

private:
    cpu_set_t before;
    bool moved = false;
};

} // namespace

ImageBench::ImageBench(const QString& workDirectory)
    : directory(workDirectory), data(ImageBytes / 2), readOut(ImageBytes / 2)
{
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = std::uint16_t(1000 + (i * 2654435761u >> 20) % 64);
}

bool ImageBench::setUp(NodeUnderTest& node, QString* why)
{
    if (!node.request("SetBin 1 1 1").endsWith("Ok:") || !node.request("SetExpTime 0").endsWith("Ok:")) {
        *why = QStringLiteral("the settings were not taken");
        return false;
    }
    return true;
}

ImageBench::Timing ImageBench::download(NodeUnderTest& node, QString* why)
{
    Timing t;
    node.clearEvents();
    const QByteArray started = node.request("StartExposure", ImageTimeoutMs);
    if (!started.endsWith("@StartExposure Ok:") || !node.waitEvent("_ChangedIsBusy 0", ImageTimeoutMs)) {
        *why = QStringLiteral("the exposure did not run: ") + QString::fromLatin1(started);
        return t;
    }
    const std::int64_t cpu0 = node.process().mainThreadRuntimeNs();
    const std::int64_t t0 = nowNs();
    const QByteArray reply = node.request("DownLoadImage", ImageTimeoutMs);
    const std::int64_t t1 = nowNs();
    const std::int64_t cpu1 = node.process().mainThreadRuntimeNs();
    if (!reply.endsWith("@DownLoadImage Ok:")) {
        *why = QStringLiteral("DownLoadImage answered \"%1\"").arg(QString::fromLatin1(reply));
        return t;
    }
    // The service numbers its files; the one it just wrote is the only image there.
    const QDir dir(node.process().workDir());
    const QStringList images = dir.entryList(QStringList{QStringLiteral("*.dat")}, QDir::Files);
    if (images.size() != 1 || QFileInfo(dir.filePath(images.first())).size() != qint64(ImageBytes)) {
        *why = QStringLiteral("expected one image file of %1 bytes, found %2").arg(ImageBytes).arg(images.join(' '));
        return t;
    }
    QFile::remove(dir.filePath(images.first()));
    t.wallMs = nsToMs(t1 - t0);
    t.cpuMs = nsToMs(cpu1 - cpu0);
    return t;
}

ImageBench::Timing ImageBench::renderReadOut(int frameNumber)
{
    const camlib::SimImage image(camlib::SimCamera::VisibleUlX, camlib::SimCamera::VisibleUlY, Width, Height);
    camlib::SimImage::FrameParams frame;
    frame.ulX = camlib::SimCamera::VisibleUlX;
    frame.ulY = camlib::SimCamera::VisibleUlY;
    frame.width = Width;
    frame.height = Height;
    frame.frameType = camlib::FrameNormal;
    frame.exposureMs = 0;
    frame.frameNumber = quint64(frameNumber);

    const OnNodeCpu onNodeCpu;
    const std::int64_t cpu0 = threadCpuNs();
    const std::int64_t t0 = nowNs();
    for (int row = 0; row < Height; ++row)
        image.renderRow(frame, row, readOut.data() + std::size_t(row) * Width, Width);
    const std::int64_t t1 = nowNs();
    const std::int64_t cpu1 = threadCpuNs();
    // Keep the compiler from dropping the rendering.
    volatile std::uint16_t sink = readOut[std::size_t(Height / 2) * Width + Width / 2];
    (void)sink;
    Timing t;
    t.wallMs = nsToMs(t1 - t0);
    t.cpuMs = nsToMs(cpu1 - cpu0);
    return t;
}

ImageBench::Timing ImageBench::plainWrite(bool flushToDisk)
{
    Timing t;
    const QByteArray path = QFile::encodeName(QDir(directory).filePath(QStringLiteral("plain-write.dat")));
    ::unlink(path.constData());
    const OnNodeCpu onNodeCpu;
    const std::int64_t cpu0 = threadCpuNs();
    const std::int64_t t0 = nowNs();
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return t;
    const char* p = reinterpret_cast<const char*>(data.data());
    std::size_t left = ImageBytes;
    bool ok = true;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        p += n;
        left -= std::size_t(n);
    }
    if (ok && flushToDisk)
        ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    const std::int64_t t1 = nowNs();
    const std::int64_t cpu1 = threadCpuNs();
    ::unlink(path.constData());
    if (ok) {
        t.wallMs = nsToMs(t1 - t0);
        t.cpuMs = nsToMs(cpu1 - cpu0);
    }
    return t;
}
