#include "NoCameraLibrary.h"

namespace camlib {

namespace {

long emptyText(char* buffer, std::size_t size)
{
    if (buffer && size > 0)
        buffer[0] = '\0';
    return NoCameraLibrary::Status;
}

} // namespace

long NoCameraLibrary::listCreate(long)
{
    return Status;
}

long NoCameraLibrary::listFirst(long&, char* name, std::size_t nameSize, char* description, std::size_t descriptionSize)
{
    emptyText(description, descriptionSize);
    return emptyText(name, nameSize);
}

long NoCameraLibrary::listNext(long&, char* name, std::size_t nameSize, char* description, std::size_t descriptionSize)
{
    emptyText(description, descriptionSize);
    return emptyText(name, nameSize);
}

long NoCameraLibrary::listDelete()
{
    return Status;
}

long NoCameraLibrary::open(long&, const char*, long)
{
    return Status;
}

long NoCameraLibrary::getLibVersion(char* buffer, std::size_t size)
{
    return emptyText(buffer, size);
}

long NoCameraLibrary::getModel(long, char* buffer, std::size_t size)
{
    return emptyText(buffer, size);
}

long NoCameraLibrary::getSerialString(long, char* buffer, std::size_t size)
{
    return emptyText(buffer, size);
}

long NoCameraLibrary::getHWRevision(long, long&)
{
    return Status;
}

long NoCameraLibrary::getPixelSize(long, double&, double&)
{
    return Status;
}

long NoCameraLibrary::getArrayArea(long, long&, long&, long&, long&)
{
    return Status;
}

long NoCameraLibrary::getVisibleArea(long, long&, long&, long&, long&)
{
    return Status;
}

long NoCameraLibrary::setTemperature(long, double)
{
    return Status;
}

long NoCameraLibrary::readTemperature(long, long, double&)
{
    return Status;
}

long NoCameraLibrary::getCoolerPower(long, double&)
{
    return Status;
}

long NoCameraLibrary::setExposureTime(long, long)
{
    return Status;
}

long NoCameraLibrary::setFrameType(long, long)
{
    return Status;
}

long NoCameraLibrary::setHBin(long, long)
{
    return Status;
}

long NoCameraLibrary::setVBin(long, long)
{
    return Status;
}

long NoCameraLibrary::setImageArea(long, long, long, long, long)
{
    return Status;
}

long NoCameraLibrary::setTDI(long, long, long)
{
    return Status;
}

long NoCameraLibrary::exposeFrame(long)
{
    return Status;
}

long NoCameraLibrary::getDeviceStatus(long, unsigned long&)
{
    return Status;
}

long NoCameraLibrary::getExposureStatus(long, long&)
{
    return Status;
}

long NoCameraLibrary::grabRow(long, std::uint16_t*, std::size_t)
{
    return Status;
}

long NoCameraLibrary::cancelExposure(long)
{
    return Status;
}

long NoCameraLibrary::close(long)
{
    return Status;
}

} // namespace camlib
