#pragma once

#include "CameraLibrary.h"

namespace camlib {

// The backend when no usable camera library is configured: every call fails,
// so the device list is empty and nothing opens. Text buffers are left as
// empty strings so a caller that prints them anyway prints nothing.
class NoCameraLibrary : public CameraLibrary
{
public:
    // ENODEV, as the hardware library reports a missing device.
    static constexpr long Status = -19;

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
};

} // namespace camlib
