#include "FaultInjectingLibrary.h"

#include "SimSettings.h"

#include <QDebug>
#include <QStringList>

namespace camlib {

std::optional<FaultSettings> FaultSettings::fromConfig(const QMap<QString, QString>& config)
{
    const QString failKey = QStringLiteral("SIM_FAIL");
    const QString forceKey = QStringLiteral("SIM_FORCE_STATUS");
    if (!config.contains(failKey) && !config.contains(forceKey))
        return std::nullopt;

    FaultSettings s;
    const QStringList items = config.value(failKey).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& item : items) {
        if (const auto fault = SimFault::parse(item))
            s.faults.append(*fault);
        else
            SimSettings::notUnderstood(failKey, item, QStringLiteral("no failure for it"));
    }
    if (config.contains(forceKey)) {
        bool ok = false;
        const uint word = config.value(forceKey).trimmed().toUInt(&ok, 0);
        if (ok)
            s.forcedStatus = word;
        else
            SimSettings::notUnderstood(forceKey, config.value(forceKey), QStringLiteral("none"));
    }
    return s;
}

FaultInjectingLibrary::FaultInjectingLibrary(CameraLibrary& inner, const FaultSettings& settings)
    : wrapped(inner), faultSettings(settings)
{
    Q_ASSERT(SimFault::operationNames().size() == OpCount);
}

FaultInjectingLibrary::FaultInjectingLibrary(std::unique_ptr<CameraLibrary> inner, const FaultSettings& settings)
    : ownedInner(std::move(inner)), wrapped(*ownedInner), faultSettings(settings)
{
    Q_ASSERT(SimFault::operationNames().size() == OpCount);
}

long FaultInjectingLibrary::enter(Op op)
{
    const int call = ++callCounts[op];
    for (const SimFault& fault : qAsConst(faultSettings.faults)) {
        if (fault.operation == SimFault::operationNames().at(op) && fault.triggersAt(call)) {
            qDebug().noquote() << QStringLiteral("camera library: injected failure of %1 (call %2): %3")
                                      .arg(fault.operation)
                                      .arg(call)
                                      .arg(fault.status);
            return fault.status;
        }
    }
    return 0;
}

long FaultInjectingLibrary::listCreate(long deviceClassMask)
{
    if (const long status = enter(ListCreate))
        return status;
    return wrapped.listCreate(deviceClassMask);
}

long FaultInjectingLibrary::listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                                      std::size_t descriptionSize)
{
    if (const long status = enter(ListFirst))
        return status;
    return wrapped.listFirst(domain, name, nameSize, description, descriptionSize);
}

long FaultInjectingLibrary::listNext(long& domain, char* name, std::size_t nameSize, char* description,
                                     std::size_t descriptionSize)
{
    if (const long status = enter(ListNext))
        return status;
    return wrapped.listNext(domain, name, nameSize, description, descriptionSize);
}

long FaultInjectingLibrary::listDelete()
{
    if (const long status = enter(ListDelete))
        return status;
    return wrapped.listDelete();
}

long FaultInjectingLibrary::open(long& handle, const char* name, long domain)
{
    if (const long status = enter(Open)) {
        handle = -1;
        return status;
    }
    return wrapped.open(handle, name, domain);
}

long FaultInjectingLibrary::getLibVersion(char* buffer, std::size_t size)
{
    if (const long status = enter(GetLibVersion))
        return status;
    return wrapped.getLibVersion(buffer, size);
}

long FaultInjectingLibrary::getModel(long handle, char* buffer, std::size_t size)
{
    if (const long status = enter(GetModel))
        return status;
    return wrapped.getModel(handle, buffer, size);
}

long FaultInjectingLibrary::getSerialString(long handle, char* buffer, std::size_t size)
{
    if (const long status = enter(GetSerialString))
        return status;
    return wrapped.getSerialString(handle, buffer, size);
}

long FaultInjectingLibrary::getHWRevision(long handle, long& revision)
{
    if (const long status = enter(GetHWRevision))
        return status;
    return wrapped.getHWRevision(handle, revision);
}

long FaultInjectingLibrary::getPixelSize(long handle, double& width, double& height)
{
    if (const long status = enter(GetPixelSize))
        return status;
    return wrapped.getPixelSize(handle, width, height);
}

long FaultInjectingLibrary::getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    if (const long status = enter(GetArrayArea))
        return status;
    return wrapped.getArrayArea(handle, ulX, ulY, lrX, lrY);
}

long FaultInjectingLibrary::getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    if (const long status = enter(GetVisibleArea))
        return status;
    return wrapped.getVisibleArea(handle, ulX, ulY, lrX, lrY);
}

long FaultInjectingLibrary::setTemperature(long handle, double celsius)
{
    if (const long status = enter(SetTemperature))
        return status;
    return wrapped.setTemperature(handle, celsius);
}

long FaultInjectingLibrary::readTemperature(long handle, long channel, double& celsius)
{
    if (const long status = enter(ReadTemperature))
        return status;
    return wrapped.readTemperature(handle, channel, celsius);
}

long FaultInjectingLibrary::getCoolerPower(long handle, double& power)
{
    if (const long status = enter(GetCoolerPower))
        return status;
    return wrapped.getCoolerPower(handle, power);
}

long FaultInjectingLibrary::setExposureTime(long handle, long milliseconds)
{
    if (const long status = enter(SetExposureTime))
        return status;
    return wrapped.setExposureTime(handle, milliseconds);
}

long FaultInjectingLibrary::setFrameType(long handle, long frameType)
{
    if (const long status = enter(SetFrameType))
        return status;
    return wrapped.setFrameType(handle, frameType);
}

long FaultInjectingLibrary::setHBin(long handle, long factor)
{
    if (const long status = enter(SetHBin))
        return status;
    return wrapped.setHBin(handle, factor);
}

long FaultInjectingLibrary::setVBin(long handle, long factor)
{
    if (const long status = enter(SetVBin))
        return status;
    return wrapped.setVBin(handle, factor);
}

long FaultInjectingLibrary::setImageArea(long handle, long ulX, long ulY, long lrX, long lrY)
{
    if (const long status = enter(SetImageArea))
        return status;
    return wrapped.setImageArea(handle, ulX, ulY, lrX, lrY);
}

long FaultInjectingLibrary::setTDI(long handle, long rate, long flags)
{
    if (const long status = enter(SetTDI))
        return status;
    return wrapped.setTDI(handle, rate, flags);
}

long FaultInjectingLibrary::exposeFrame(long handle)
{
    if (const long status = enter(ExposeFrame))
        return status;
    return wrapped.exposeFrame(handle);
}

long FaultInjectingLibrary::getDeviceStatus(long handle, unsigned long& status)
{
    if (const long failure = enter(GetDeviceStatus))
        return failure;
    const long result = wrapped.getDeviceStatus(handle, status);
    if (result == 0 && faultSettings.forcedStatus)
        status = *faultSettings.forcedStatus;
    return result;
}

long FaultInjectingLibrary::getExposureStatus(long handle, long& timeLeftMs)
{
    if (const long status = enter(GetExposureStatus))
        return status;
    return wrapped.getExposureStatus(handle, timeLeftMs);
}

long FaultInjectingLibrary::grabRow(long handle, std::uint16_t* buffer, std::size_t width)
{
    if (const long status = enter(GrabRow))
        return status;
    return wrapped.grabRow(handle, buffer, width);
}

long FaultInjectingLibrary::cancelExposure(long handle)
{
    if (const long status = enter(CancelExposure))
        return status;
    return wrapped.cancelExposure(handle);
}

long FaultInjectingLibrary::close(long handle)
{
    if (const long status = enter(Close))
        return status;
    return wrapped.close(handle);
}

bool FaultInjectingLibrary::addFault(const SimFault& fault)
{
    if (!SimFault::operationNames().contains(fault.operation) || fault.atCall < 1 || fault.status == 0)
        return false;
    faultSettings.faults.append(fault);
    return true;
}

bool FaultInjectingLibrary::failFrom(const QString& operation, int atCall, long status)
{
    return addFault(SimFault{operation, atCall, false, status});
}

bool FaultInjectingLibrary::failOnce(const QString& operation, int atCall, long status)
{
    return addFault(SimFault{operation, atCall, true, status});
}

void FaultInjectingLibrary::clearFaults()
{
    faultSettings.faults.clear();
}

void FaultInjectingLibrary::setForcedStatus(std::optional<quint32> word)
{
    faultSettings.forcedStatus = word;
}

int FaultInjectingLibrary::callCount(const QString& operation) const
{
    const int op = SimFault::operationNames().indexOf(operation);
    return op < 0 ? -1 : callCounts[std::size_t(op)];
}

void FaultInjectingLibrary::resetCallCounts()
{
    callCounts.fill(0);
}

} // namespace camlib
