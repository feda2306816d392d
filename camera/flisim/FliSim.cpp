// libstarscam-flisim: the project's camera simulator behind the FLI SDK's own
// C interface. The service loads it like the SDK (CAMERA_LIBRARY fli,
// FLI_LIBRARY <path of this library>), so a camera host's code path, from the
// run-time binding to the image file, runs without a camera.
//
// The simulator is built at the first call from the SIM_* keys of config.cfg
// in the working directory, read the way the service reads it (the keys of
// camlib::SimSettings; SIM_FAIL injects failures as on the simulator backend).
// Device handles are the simulator's; failures are negative errno values.
// Every model text ends in " (SDK-level)" and the library version names the
// simulator, so it can never pass for a camera.
#include "ConfigLines.h"
#include "SimCamera.h"
#include "SmallFile.h"

#include <QDebug>
#include <QDir>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>

// Included last and for every definition below: the compiler checks each one
// against the SDK's declaration.
#include <libfli.h>

namespace {

using camlib::CameraLibrary;

const char* const LibVersion = "starscam SDK-level camera simulator 1.0 (libfli 2 interface)";
const char* const ModelSuffix = " (SDK-level)";

constexpr long BadArgument = -EINVAL;

QMap<QString, QString> workingDirectoryConfig()
{
    QMap<QString, QString> config;
    const QString path = QDir::current().absoluteFilePath(QStringLiteral("config.cfg"));
    QByteArray bytes;
    QString why;
    if (!readSmallFile(path, bytes, why)) {
        qDebug().noquote()
            << QStringLiteral("SDK-level camera simulator: cannot read %1 (%2), simulator defaults").arg(path, why);
        return config;
    }
    readConfigText(bytes, config);
    qDebug().noquote() << QStringLiteral("SDK-level camera simulator: settings from %1").arg(path);
    return config;
}

// Made at the first call and kept to the end of the process, as the SDK keeps
// its devices: nothing here depends on the order of destruction at exit.
CameraLibrary& simulator()
{
    static CameraLibrary* const camera = camlib::createSimulator(workingDirectoryConfig()).release();
    return *camera;
}

// Whether the list being walked was made with FLIDEVICE_ENUMERATE_BY_SERIAL:
// its name fields are serial numbers then, not models.
std::atomic<bool> listedBySerial{false};

template <typename... Pointers> bool given(const Pointers*... pointers)
{
    return (... && (pointers != nullptr));
}

// Appends the suffix to the zero-terminated text in `buffer` as far as it fits.
void markSimulated(char* buffer, size_t size)
{
    if (!buffer || size == 0)
        return;
    const size_t used = strnlen(buffer, size - 1);
    const size_t room = size - 1 - used;
    const size_t n = std::min(room, std::strlen(ModelSuffix));
    std::memcpy(buffer + used, ModelSuffix, n);
    buffer[used + n] = '\0';
}

long listed(long status, char* name, size_t namelen)
{
    if (status == 0 && !listedBySerial)
        markSimulated(name, namelen);
    return status;
}

} // namespace

extern "C" {

LIBFLIAPI FLICreateList(flidomain_t domain)
{
    listedBySerial = (domain & FLIDEVICE_ENUMERATE_BY_SERIAL) != 0;
    return simulator().listCreate(domain);
}

LIBFLIAPI FLIListFirst(flidomain_t* domain, char* filename, size_t fnlen, char* name, size_t namelen)
{
    if (!given(domain))
        return BadArgument;
    return listed(simulator().listFirst(*domain, filename, fnlen, name, namelen), name, namelen);
}

LIBFLIAPI FLIListNext(flidomain_t* domain, char* filename, size_t fnlen, char* name, size_t namelen)
{
    if (!given(domain))
        return BadArgument;
    return listed(simulator().listNext(*domain, filename, fnlen, name, namelen), name, namelen);
}

LIBFLIAPI FLIDeleteList(void)
{
    return simulator().listDelete();
}

LIBFLIAPI FLIOpen(flidev_t* dev, char* name, flidomain_t domain)
{
    if (!given(dev))
        return BadArgument;
    const long status = simulator().open(*dev, name, domain);
    qDebug().noquote() << QStringLiteral("SDK-level camera simulator: FLIOpen(%1, 0x%2) = %3, device %4")
                              .arg(QString::fromLatin1(name ? name : "(null)"))
                              .arg(domain, 0, 16)
                              .arg(status)
                              .arg(*dev);
    return status;
}

LIBFLIAPI FLIClose(flidev_t dev)
{
    const long status = simulator().close(dev);
    qDebug().noquote() << QStringLiteral("SDK-level camera simulator: FLIClose(%1) = %2").arg(dev).arg(status);
    return status;
}

LIBFLIAPI FLIGetLibVersion(char* ver, size_t len)
{
    if (!given(ver) || len == 0)
        return BadArgument;
    std::strncpy(ver, LibVersion, len - 1);
    ver[len - 1] = '\0';
    return 0;
}

LIBFLIAPI FLIGetModel(flidev_t dev, char* model, size_t len)
{
    const long status = simulator().getModel(dev, model, len);
    if (status == 0)
        markSimulated(model, len);
    return status;
}

LIBFLIAPI FLIGetSerialString(flidev_t dev, char* serial, size_t len)
{
    return simulator().getSerialString(dev, serial, len);
}

LIBFLIAPI FLIGetHWRevision(flidev_t dev, long* hwrev)
{
    return given(hwrev) ? simulator().getHWRevision(dev, *hwrev) : BadArgument;
}

LIBFLIAPI FLIGetPixelSize(flidev_t dev, double* pixel_x, double* pixel_y)
{
    return given(pixel_x, pixel_y) ? simulator().getPixelSize(dev, *pixel_x, *pixel_y) : BadArgument;
}

LIBFLIAPI FLIGetArrayArea(flidev_t dev, long* ul_x, long* ul_y, long* lr_x, long* lr_y)
{
    return given(ul_x, ul_y, lr_x, lr_y) ? simulator().getArrayArea(dev, *ul_x, *ul_y, *lr_x, *lr_y) : BadArgument;
}

LIBFLIAPI FLIGetVisibleArea(flidev_t dev, long* ul_x, long* ul_y, long* lr_x, long* lr_y)
{
    return given(ul_x, ul_y, lr_x, lr_y) ? simulator().getVisibleArea(dev, *ul_x, *ul_y, *lr_x, *lr_y) : BadArgument;
}

LIBFLIAPI FLISetTemperature(flidev_t dev, double temperature)
{
    return simulator().setTemperature(dev, temperature);
}

LIBFLIAPI FLIReadTemperature(flidev_t dev, flichannel_t channel, double* temperature)
{
    return given(temperature) ? simulator().readTemperature(dev, channel, *temperature) : BadArgument;
}

LIBFLIAPI FLIGetCoolerPower(flidev_t dev, double* power)
{
    return given(power) ? simulator().getCoolerPower(dev, *power) : BadArgument;
}

LIBFLIAPI FLISetExposureTime(flidev_t dev, long exptime)
{
    return simulator().setExposureTime(dev, exptime);
}

LIBFLIAPI FLISetFrameType(flidev_t dev, fliframe_t frametype)
{
    return simulator().setFrameType(dev, frametype);
}

LIBFLIAPI FLISetHBin(flidev_t dev, long hbin)
{
    return simulator().setHBin(dev, hbin);
}

LIBFLIAPI FLISetVBin(flidev_t dev, long vbin)
{
    return simulator().setVBin(dev, vbin);
}

LIBFLIAPI FLISetImageArea(flidev_t dev, long ul_x, long ul_y, long lr_x, long lr_y)
{
    return simulator().setImageArea(dev, ul_x, ul_y, lr_x, lr_y);
}

LIBFLIAPI FLISetTDI(flidev_t dev, flitdirate_t tdi_rate, flitdiflags_t flags)
{
    return simulator().setTDI(dev, tdi_rate, flags);
}

LIBFLIAPI FLIExposeFrame(flidev_t dev)
{
    return simulator().exposeFrame(dev);
}

LIBFLIAPI FLIGetDeviceStatus(flidev_t dev, long* status)
{
    if (!given(status))
        return BadArgument;
    // The 32 status bits in a long, as the SDK hands them (DATA_READY stays positive).
    unsigned long word = 0;
    const long result = simulator().getDeviceStatus(dev, word);
    if (result == 0)
        *status = long(word);
    return result;
}

LIBFLIAPI FLIGetExposureStatus(flidev_t dev, long* timeleft)
{
    return given(timeleft) ? simulator().getExposureStatus(dev, *timeleft) : BadArgument;
}

LIBFLIAPI FLIGrabRow(flidev_t dev, void* buff, size_t width)
{
    return simulator().grabRow(dev, static_cast<std::uint16_t*>(buff), width);
}

LIBFLIAPI FLICancelExposure(flidev_t dev)
{
    return simulator().cancelExposure(dev);
}

} // extern "C"
