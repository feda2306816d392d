#pragma once

#include "CameraLibrary.h"
#include "NoCameraLibrary.h"

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <memory>

namespace camlib {

// The hardware backend over the camera maker's Linux library (libfli). The
// library is bound when this object is built, not when the program is linked,
// so one binary serves both a host without the SDK and a camera host. Every
// operation calls the SDK function of the same role with its arguments as
// given. When the library cannot be loaded or lacks one of the functions, one
// log line says what is missing and every operation fails as NoCameraLibrary's
// do: the device list is empty and nothing opens.
class FliLibrary : public CameraLibrary
{
public:
    // The SDK's soname on Debian (packages libfli2 / libfli-dev).
    static constexpr const char* DefaultFileName = "libfli.so.2";

    // `fileName` is a soname or a path; empty means DefaultFileName.
    explicit FliLibrary(const QString& fileName = QString());
    ~FliLibrary() override;
    FliLibrary(const FliLibrary&) = delete;
    FliLibrary& operator=(const FliLibrary&) = delete;

    bool isLoaded() const { return api != nullptr; }
    // The name asked for, and what went wrong (empty once loaded).
    QString requestedFileName() const { return requested; }
    QString errorString() const { return error; }
    QStringList missingSymbols() const { return missing; }

    long listCreate(long deviceClassMask) override;
    long listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                   std::size_t descriptionSize) override;
    long listNext(long& domain, char* name, std::size_t nameSize, char* description,
                  std::size_t descriptionSize) override;
    long listDelete() override;
    long open(long& handle, const char* name, long domain) override;
    long getLibVersion(char* buffer, std::size_t size) override;
    long getModel(long handle, char* buffer, std::size_t size) override;
    long getSerialString(long handle, char* buffer, std::size_t size) override;
    long getHWRevision(long handle, long& revision) override;
    long getPixelSize(long handle, double& width, double& height) override;
    long getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) override;
    long getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) override;
    long setTemperature(long handle, double celsius) override;
    long readTemperature(long handle, long channel, double& celsius) override;
    long getCoolerPower(long handle, double& power) override;
    long setExposureTime(long handle, long milliseconds) override;
    long setFrameType(long handle, long frameType) override;
    long setHBin(long handle, long factor) override;
    long setVBin(long handle, long factor) override;
    long setImageArea(long handle, long ulX, long ulY, long lrX, long lrY) override;
    long setTDI(long handle, long rate, long flags) override;
    long exposeFrame(long handle) override;
    long getDeviceStatus(long handle, unsigned long& status) override;
    long getExposureStatus(long handle, long& timeLeftMs) override;
    long grabRow(long handle, std::uint16_t* buffer, std::size_t width) override;
    long cancelExposure(long handle) override;
    long close(long handle) override;

private:
    struct Api; // the resolved SDK functions

    QString requested;
    QString error;
    QStringList missing;
    QLibrary library;
    std::unique_ptr<const Api> api; // null unless every function resolved
    NoCameraLibrary none;           // answers for an unusable library
};

} // namespace camlib
