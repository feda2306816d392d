#pragma once

#include <cstddef>
#include <cstdint>

// The camera library seam: every operation the camera object needs from the
// camera maker's library, one virtual per operation, named by its role.
// Every call returns a status: 0 is success, anything else is a failure whose
// value the caller never interprets. For a real camera this is where a request
// crosses over to the hardware; the simulator and the SDK backend implement it.
namespace camlib {

// Device-class mask used to list the cameras (USB interface | camera type).
constexpr long DeviceClassCamera = 0x102;
// Listing option added to the mask: each listed description is the camera's
// serial number instead of its model, so a camera is found without opening it.
constexpr long EnumerateBySerial = 0x8000;
// The option bits of a domain; a domain given to open() carries none.
constexpr long DomainOptionsMask = 0xF000;

// Frame types as the library numbers them.
constexpr long FrameNormal = 0;
constexpr long FrameRbiFlush = 1; // a dark frame on the SDK's terms
constexpr long FrameRbiFlood = 3;

// Temperature channels.
constexpr long ChannelCcd = 0;
constexpr long ChannelBase = 1;

// Device status word: "no status available" and "image data ready".
constexpr std::uint32_t StatusUnknown = 0xFFFFFFFFu;
constexpr std::uint32_t StatusDataReady = 0x80000000u;

class CameraLibrary
{
public:
    virtual ~CameraLibrary() = default;

    // Device list. create, then first/next until non-zero, then delete.
    // first/next write a zero-terminated name (at most nameSize bytes, the
    // terminator included) and its domain on success.
    virtual long listCreate(long deviceClassMask) = 0;
    virtual long listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                           std::size_t descriptionSize) = 0;
    virtual long listNext(long& domain, char* name, std::size_t nameSize, char* description,
                          std::size_t descriptionSize) = 0;
    virtual long listDelete() = 0;

    // Opens the named device; on success `handle` is valid. A failed open may
    // still have written to `handle`: callers keep their own value until 0.
    virtual long open(long& handle, const char* name, long domain) = 0;

    // Identity; text results are zero-terminated within `size` bytes.
    virtual long getLibVersion(char* buffer, std::size_t size) = 0;
    virtual long getModel(long handle, char* buffer, std::size_t size) = 0;
    virtual long getSerialString(long handle, char* buffer, std::size_t size) = 0;
    virtual long getHWRevision(long handle, long& revision) = 0;

    // Geometry: pixel size and the array and visible areas as upper-left and
    // lower-right corners.
    virtual long getPixelSize(long handle, double& width, double& height) = 0;
    virtual long getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) = 0;
    virtual long getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY) = 0;

    // Cooler.
    virtual long setTemperature(long handle, double celsius) = 0;
    virtual long readTemperature(long handle, long channel, double& celsius) = 0;
    virtual long getCoolerPower(long handle, double& power) = 0;

    // Frame set-up; the image area is in binned pixels from the visible
    // area's upper-left corner.
    virtual long setExposureTime(long handle, long milliseconds) = 0;
    virtual long setFrameType(long handle, long frameType) = 0;
    virtual long setHBin(long handle, long factor) = 0;
    virtual long setVBin(long handle, long factor) = 0;
    virtual long setImageArea(long handle, long ulX, long ulY, long lrX, long lrY) = 0;
    virtual long setTDI(long handle, long rate, long flags) = 0;

    // Exposure and read-out. The status word has StatusDataReady set when the
    // image can be read, or is StatusUnknown when only the time left tells.
    virtual long exposeFrame(long handle) = 0;
    virtual long getDeviceStatus(long handle, unsigned long& status) = 0;
    virtual long getExposureStatus(long handle, long& timeLeftMs) = 0;
    virtual long grabRow(long handle, std::uint16_t* buffer, std::size_t width) = 0;

    // Ends the exposure in progress; its image is discarded. Harmless when
    // nothing is exposing.
    virtual long cancelExposure(long handle) = 0;
    // Closes the device that open() gave the handle for; the handle is not
    // valid afterwards.
    virtual long close(long handle) = 0;
};

} // namespace camlib
