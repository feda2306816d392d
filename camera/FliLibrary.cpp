#include "FliLibrary.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>

#include <type_traits>

#include <dlfcn.h>

namespace camlib {

namespace {

// The SDK's functions as the Linux library exports them: C calls whose
// integers, handle, domain, frame type and status are all `long`. Checked
// against libfli.h at the end of this file when the header is at hand.
using FLICreateListFn = long (*)(long);
using FLIListFirstFn = long (*)(long*, char*, std::size_t, char*, std::size_t);
using FLIListNextFn = long (*)(long*, char*, std::size_t, char*, std::size_t);
using FLIDeleteListFn = long (*)();
using FLIOpenFn = long (*)(long*, char*, long);
using FLIGetLibVersionFn = long (*)(char*, std::size_t);
using FLIGetModelFn = long (*)(long, char*, std::size_t);
using FLIGetSerialStringFn = long (*)(long, char*, std::size_t);
using FLIGetHWRevisionFn = long (*)(long, long*);
using FLIGetPixelSizeFn = long (*)(long, double*, double*);
using FLIGetArrayAreaFn = long (*)(long, long*, long*, long*, long*);
using FLIGetVisibleAreaFn = long (*)(long, long*, long*, long*, long*);
using FLISetTemperatureFn = long (*)(long, double);
using FLIReadTemperatureFn = long (*)(long, long, double*);
using FLIGetCoolerPowerFn = long (*)(long, double*);
using FLISetExposureTimeFn = long (*)(long, long);
using FLISetFrameTypeFn = long (*)(long, long);
using FLISetHBinFn = long (*)(long, long);
using FLISetVBinFn = long (*)(long, long);
using FLISetImageAreaFn = long (*)(long, long, long, long, long);
using FLISetTDIFn = long (*)(long, long, long);
using FLIExposeFrameFn = long (*)(long);
using FLIGetDeviceStatusFn = long (*)(long, long*);
using FLIGetExposureStatusFn = long (*)(long, long*);
using FLIGrabRowFn = long (*)(long, void*, std::size_t);
using FLICancelExposureFn = long (*)(long);
using FLICloseFn = long (*)(long);

// One list of the functions used, so the table, the binding and the header
// check cannot drift apart.
#define STARSCAM_FLI_FUNCTIONS(X)                                                                                      \
    X(FLICreateList)                                                                                                   \
    X(FLIListFirst)                                                                                                    \
    X(FLIListNext)                                                                                                     \
    X(FLIDeleteList)                                                                                                   \
    X(FLIOpen)                                                                                                         \
    X(FLIGetLibVersion)                                                                                                \
    X(FLIGetModel)                                                                                                     \
    X(FLIGetSerialString)                                                                                              \
    X(FLIGetHWRevision)                                                                                                \
    X(FLIGetPixelSize)                                                                                                 \
    X(FLIGetArrayArea)                                                                                                 \
    X(FLIGetVisibleArea)                                                                                               \
    X(FLISetTemperature)                                                                                               \
    X(FLIReadTemperature)                                                                                              \
    X(FLIGetCoolerPower)                                                                                               \
    X(FLISetExposureTime)                                                                                              \
    X(FLISetFrameType)                                                                                                 \
    X(FLISetHBin)                                                                                                      \
    X(FLISetVBin)                                                                                                      \
    X(FLISetImageArea)                                                                                                 \
    X(FLISetTDI)                                                                                                       \
    X(FLIExposeFrame)                                                                                                  \
    X(FLIGetDeviceStatus)                                                                                              \
    X(FLIGetExposureStatus)                                                                                            \
    X(FLIGrabRow)                                                                                                      \
    X(FLICancelExposure)                                                                                               \
    X(FLIClose)

template <typename Fn> void bind(QLibrary& library, const char* symbol, Fn& slot, QStringList& missing)
{
    slot = reinterpret_cast<Fn>(library.resolve(symbol));
    if (!slot)
        missing << QLatin1String(symbol);
}

} // namespace

struct FliLibrary::Api
{
#define STARSCAM_FLI_MEMBER(name) name##Fn name = nullptr;
    STARSCAM_FLI_FUNCTIONS(STARSCAM_FLI_MEMBER)
#undef STARSCAM_FLI_MEMBER
};

FliLibrary::FliLibrary(const QString& fileName)
    : requested(fileName.trimmed().isEmpty() ? QLatin1String(DefaultFileName) : fileName.trimmed())
{
    library.setFileName(requested);
    if (!library.load()) {
        error = library.errorString();
        qDebug().noquote()
            << QStringLiteral("camera library: FLI SDK \"%1\" cannot be loaded (%2): no camera").arg(requested, error);
        return;
    }
    auto resolved = std::make_unique<Api>();
#define STARSCAM_FLI_BIND(name) bind(library, #name, resolved->name, missing);
    STARSCAM_FLI_FUNCTIONS(STARSCAM_FLI_BIND)
#undef STARSCAM_FLI_BIND
    if (!missing.isEmpty()) {
        error = QStringLiteral("missing functions: %1").arg(missing.join(QLatin1String(", ")));
        qDebug().noquote() << QStringLiteral("camera library: FLI SDK \"%1\" (%2) lacks %3: no camera")
                                  .arg(requested, library.fileName(), missing.join(QLatin1String(", ")));
        return;
    }
    api = std::move(resolved);
    // Which file the loader picked, and its version: what an operator needs to
    // know first. Neither needs a device.
    QString path = library.fileName();
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(api->FLIOpen), &info) != 0 && info.dli_fname)
        path = QFile::decodeName(info.dli_fname);
    char version[256] = {};
    if (api->FLIGetLibVersion(version, sizeof version - 1) != 0)
        version[0] = '\0';
    qDebug().noquote() << QStringLiteral("camera library: FLI SDK \"%1\" loaded from %2 (%3)")
                              .arg(requested, path, QString::fromLatin1(version));
}

// The library stays mapped: other instances may share it, and the SDK keeps
// its own state for devices it opened.
FliLibrary::~FliLibrary() = default;

long FliLibrary::listCreate(long deviceClassMask)
{
    return api ? api->FLICreateList(deviceClassMask) : none.listCreate(deviceClassMask);
}

long FliLibrary::listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                           std::size_t descriptionSize)
{
    if (!api)
        return none.listFirst(domain, name, nameSize, description, descriptionSize);
    return api->FLIListFirst(&domain, name, nameSize, description, descriptionSize);
}

long FliLibrary::listNext(long& domain, char* name, std::size_t nameSize, char* description,
                          std::size_t descriptionSize)
{
    if (!api)
        return none.listNext(domain, name, nameSize, description, descriptionSize);
    return api->FLIListNext(&domain, name, nameSize, description, descriptionSize);
}

long FliLibrary::listDelete()
{
    return api ? api->FLIDeleteList() : none.listDelete();
}

long FliLibrary::open(long& handle, const char* name, long domain)
{
    if (!api)
        return none.open(handle, name, domain);
    // The SDK writes its handle even when the open fails, and takes the name
    // as a mutable string: give it a copy of both.
    QByteArray nameCopy(name);
    long device = handle;
    const long status = api->FLIOpen(&device, name ? nameCopy.data() : nullptr, domain);
    if (status == 0)
        handle = device;
    return status;
}

long FliLibrary::getLibVersion(char* buffer, std::size_t size)
{
    return api ? api->FLIGetLibVersion(buffer, size) : none.getLibVersion(buffer, size);
}

long FliLibrary::getModel(long handle, char* buffer, std::size_t size)
{
    return api ? api->FLIGetModel(handle, buffer, size) : none.getModel(handle, buffer, size);
}

long FliLibrary::getSerialString(long handle, char* buffer, std::size_t size)
{
    return api ? api->FLIGetSerialString(handle, buffer, size) : none.getSerialString(handle, buffer, size);
}

long FliLibrary::getHWRevision(long handle, long& revision)
{
    return api ? api->FLIGetHWRevision(handle, &revision) : none.getHWRevision(handle, revision);
}

long FliLibrary::getPixelSize(long handle, double& width, double& height)
{
    return api ? api->FLIGetPixelSize(handle, &width, &height) : none.getPixelSize(handle, width, height);
}

long FliLibrary::getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    return api ? api->FLIGetArrayArea(handle, &ulX, &ulY, &lrX, &lrY) : none.getArrayArea(handle, ulX, ulY, lrX, lrY);
}

long FliLibrary::getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    return api ? api->FLIGetVisibleArea(handle, &ulX, &ulY, &lrX, &lrY)
               : none.getVisibleArea(handle, ulX, ulY, lrX, lrY);
}

long FliLibrary::setTemperature(long handle, double celsius)
{
    return api ? api->FLISetTemperature(handle, celsius) : none.setTemperature(handle, celsius);
}

long FliLibrary::readTemperature(long handle, long channel, double& celsius)
{
    return api ? api->FLIReadTemperature(handle, channel, &celsius) : none.readTemperature(handle, channel, celsius);
}

long FliLibrary::getCoolerPower(long handle, double& power)
{
    return api ? api->FLIGetCoolerPower(handle, &power) : none.getCoolerPower(handle, power);
}

long FliLibrary::setExposureTime(long handle, long milliseconds)
{
    return api ? api->FLISetExposureTime(handle, milliseconds) : none.setExposureTime(handle, milliseconds);
}

long FliLibrary::setFrameType(long handle, long frameType)
{
    return api ? api->FLISetFrameType(handle, frameType) : none.setFrameType(handle, frameType);
}

long FliLibrary::setHBin(long handle, long factor)
{
    return api ? api->FLISetHBin(handle, factor) : none.setHBin(handle, factor);
}

long FliLibrary::setVBin(long handle, long factor)
{
    return api ? api->FLISetVBin(handle, factor) : none.setVBin(handle, factor);
}

long FliLibrary::setImageArea(long handle, long ulX, long ulY, long lrX, long lrY)
{
    return api ? api->FLISetImageArea(handle, ulX, ulY, lrX, lrY) : none.setImageArea(handle, ulX, ulY, lrX, lrY);
}

long FliLibrary::setTDI(long handle, long rate, long flags)
{
    return api ? api->FLISetTDI(handle, rate, flags) : none.setTDI(handle, rate, flags);
}

long FliLibrary::exposeFrame(long handle)
{
    return api ? api->FLIExposeFrame(handle) : none.exposeFrame(handle);
}

long FliLibrary::getDeviceStatus(long handle, unsigned long& status)
{
    if (!api)
        return none.getDeviceStatus(handle, status);
    // The SDK's word is a signed long; its bits are handed on as they are.
    long word = long(status);
    const long result = api->FLIGetDeviceStatus(handle, &word);
    status = static_cast<unsigned long>(word);
    return result;
}

long FliLibrary::getExposureStatus(long handle, long& timeLeftMs)
{
    return api ? api->FLIGetExposureStatus(handle, &timeLeftMs) : none.getExposureStatus(handle, timeLeftMs);
}

long FliLibrary::grabRow(long handle, std::uint16_t* buffer, std::size_t width)
{
    return api ? api->FLIGrabRow(handle, buffer, width) : none.grabRow(handle, buffer, width);
}

long FliLibrary::cancelExposure(long handle)
{
    return api ? api->FLICancelExposure(handle) : none.cancelExposure(handle);
}

long FliLibrary::close(long handle)
{
    return api ? api->FLIClose(handle) : none.close(handle);
}

} // namespace camlib

#ifdef STARSCAM_HAVE_LIBFLI_H
// The header is read last and inside a namespace of its own, only to check
// the table above: its macros cannot reach our code, and its global names
// (types, declarations) stay out of ours. Nothing is linked from it.
#include <cstddef>
#include <sys/types.h>
namespace camlib::fliheader {
#include <libfli.h>
} // namespace camlib::fliheader

namespace camlib {

#define STARSCAM_FLI_CHECK(name)                                                                                       \
    static_assert(std::is_same_v<decltype(&fliheader::name), name##Fn>, #name " is declared differently in libfli.h");
STARSCAM_FLI_FUNCTIONS(STARSCAM_FLI_CHECK)
#undef STARSCAM_FLI_CHECK

// The values the camera object hands through must be the SDK's own.
static_assert(DeviceClassCamera == (FLIDOMAIN_USB | FLIDEVICE_CAMERA));
static_assert(EnumerateBySerial == FLIDEVICE_ENUMERATE_BY_SERIAL);
static_assert(DomainOptionsMask == FLIDOMAIN_OPTIONS_MASK);
static_assert(FrameNormal == FLI_FRAME_TYPE_NORMAL);
static_assert(FrameRbiFlush == FLI_FRAME_TYPE_DARK);
static_assert(FrameRbiFlood == FLI_FRAME_TYPE_RBI_FLUSH);
static_assert(ChannelCcd == FLI_TEMPERATURE_CCD);
static_assert(ChannelBase == FLI_TEMPERATURE_BASE);
static_assert(StatusUnknown == FLI_CAMERA_STATUS_UNKNOWN);
static_assert(StatusDataReady == FLI_CAMERA_DATA_READY);
static_assert(std::is_same_v<fliheader::flidev_t, long>);

} // namespace camlib
#endif

#undef STARSCAM_FLI_FUNCTIONS
