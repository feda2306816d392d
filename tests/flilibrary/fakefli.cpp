// A stand-in for the FLI SDK exporting the functions the backend binds. Each
// call is written down with its arguments and answers fixed, recognisable
// values, so a test sees what the backend handed on and what came back.
// Built without FLIGrabRow as well, for a library that lacks one function.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

namespace {

std::string lastCall;

void note(const char* name, std::initializer_list<long> args, const char* extra = nullptr)
{
    lastCall = name;
    lastCall += '(';
    const char* separator = "";
    for (long a : args) {
        lastCall += separator + std::to_string(a);
        separator = ",";
    }
    if (extra) {
        lastCall += separator;
        lastCall += extra;
    }
    lastCall += ')';
}

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

void copyText(char* buffer, std::size_t size, const char* text)
{
    if (buffer && size > 0) {
        std::strncpy(buffer, text, size - 1);
        buffer[size - 1] = '\0';
    }
}

constexpr long Handle = 77;

} // namespace

extern "C" {

const char* fakefli_lastCall()
{
    return lastCall.c_str();
}

long FLICreateList(long domain)
{
    note("FLICreateList", {domain});
    return 0;
}

long FLIListFirst(long* domain, char* filename, std::size_t fnlen, char* name, std::size_t namelen)
{
    note("FLIListFirst", {long(fnlen), long(namelen)});
    *domain = 0x102;
    copyText(filename, fnlen, "fake0");
    copyText(name, namelen, "Fake camera");
    return 0;
}

long FLIListNext(long*, char*, std::size_t fnlen, char*, std::size_t namelen)
{
    note("FLIListNext", {long(fnlen), long(namelen)});
    return -9; // no more devices
}

long FLIDeleteList()
{
    note("FLIDeleteList", {});
    return 0;
}

// Like the SDK, a failed open still writes the handle.
long FLIOpen(long* dev, char* name, long domain)
{
    note("FLIOpen", {domain}, name);
    const bool known = std::strcmp(name, "fake0") == 0;
    *dev = known ? Handle : 0;
    return known ? 0 : -11;
}

long FLIGetLibVersion(char* ver, std::size_t len)
{
    note("FLIGetLibVersion", {long(len)});
    copyText(ver, len, "fake 1.0");
    return 0;
}

long FLIGetModel(long dev, char* model, std::size_t len)
{
    note("FLIGetModel", {dev, long(len)});
    copyText(model, len, "Fake model");
    return 0;
}

long FLIGetSerialString(long dev, char* serial, std::size_t len)
{
    note("FLIGetSerialString", {dev, long(len)});
    copyText(serial, len, "SN-1");
    return 0;
}

long FLIGetHWRevision(long dev, long* hwrev)
{
    note("FLIGetHWRevision", {dev});
    *hwrev = 258;
    return 0;
}

long FLIGetPixelSize(long dev, double* x, double* y)
{
    note("FLIGetPixelSize", {dev});
    *x = 9e-6;
    *y = 12e-6;
    return 0;
}

long FLIGetArrayArea(long dev, long* ulX, long* ulY, long* lrX, long* lrY)
{
    note("FLIGetArrayArea", {dev});
    *ulX = 1, *ulY = 2, *lrX = 13, *lrY = 14;
    return 0;
}

long FLIGetVisibleArea(long dev, long* ulX, long* ulY, long* lrX, long* lrY)
{
    note("FLIGetVisibleArea", {dev});
    *ulX = 5, *ulY = 6, *lrX = 9, *lrY = 9;
    return 0;
}

long FLISetTemperature(long dev, double temperature)
{
    note("FLISetTemperature", {dev}, number(temperature).c_str());
    return 0;
}

long FLIReadTemperature(long dev, long channel, double* temperature)
{
    note("FLIReadTemperature", {dev, channel});
    *temperature = channel == 0 ? -20.5 : 12.25;
    return 0;
}

long FLIGetCoolerPower(long dev, double* power)
{
    note("FLIGetCoolerPower", {dev});
    *power = 42.5;
    return 0;
}

long FLISetExposureTime(long dev, long exptime)
{
    note("FLISetExposureTime", {dev, exptime});
    return 0;
}

long FLISetFrameType(long dev, long frametype)
{
    note("FLISetFrameType", {dev, frametype});
    return 0;
}

long FLISetHBin(long dev, long hbin)
{
    note("FLISetHBin", {dev, hbin});
    return 0;
}

long FLISetVBin(long dev, long vbin)
{
    note("FLISetVBin", {dev, vbin});
    return 0;
}

long FLISetImageArea(long dev, long ulX, long ulY, long lrX, long lrY)
{
    note("FLISetImageArea", {dev, ulX, ulY, lrX, lrY});
    return 0;
}

long FLISetTDI(long dev, long rate, long flags)
{
    note("FLISetTDI", {dev, rate, flags});
    return 0;
}

long FLICancelExposure(long dev)
{
    note("FLICancelExposure", {dev});
    return 0;
}

long FLIClose(long dev)
{
    note("FLIClose", {dev});
    return 0;
}

long FLIExposeFrame(long dev)
{
    note("FLIExposeFrame", {dev});
    return 0;
}

// Data ready and exposing, with a bit set above the 32 the protocol carries.
long FLIGetDeviceStatus(long dev, long* status)
{
    note("FLIGetDeviceStatus", {dev});
    *status = static_cast<long>(0x180000002LL);
    return 0;
}

long FLIGetExposureStatus(long dev, long* timeleft)
{
    note("FLIGetExposureStatus", {dev});
    *timeleft = 1500;
    return 0;
}

#ifndef FAKEFLI_WITHOUT_GRABROW
long FLIGrabRow(long dev, void* buff, std::size_t width)
{
    note("FLIGrabRow", {dev, long(width)});
    auto* pixels = static_cast<std::uint16_t*>(buff);
    for (std::size_t i = 0; i < width; ++i)
        pixels[i] = std::uint16_t(100 + i);
    return 0;
}
#endif

} // extern "C"
