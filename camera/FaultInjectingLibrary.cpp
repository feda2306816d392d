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
    : m_inner(inner), m_settings(settings)
{
    Q_ASSERT(SimFault::operationNames().size() == OpCount);
}

FaultInjectingLibrary::FaultInjectingLibrary(std::unique_ptr<CameraLibrary> inner, const FaultSettings& settings)
    : m_owned(std::move(inner)), m_inner(*m_owned), m_settings(settings)
{
    Q_ASSERT(SimFault::operationNames().size() == OpCount);
}

long FaultInjectingLibrary::enter(Op op)
{
    const int call = ++m_calls[op];
    for (const SimFault& fault : qAsConst(m_settings.faults)) {
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
    return m_inner.listCreate(deviceClassMask);
}

long FaultInjectingLibrary::listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                                      std::size_t descriptionSize)
{
    if (const long status = enter(ListFirst))
        return status;
    return m_inner.listFirst(domain, name, nameSize, description, descriptionSize);
}

long FaultInjectingLibrary::listNext(long& domain, char* name, std::size_t nameSize, char* description,
                                     std::size_t descriptionSize)
{
    if (const long status = enter(ListNext))
        return status;
    return m_inner.listNext(domain, name, nameSize, description, descriptionSize);
}

long FaultInjectingLibrary::listDelete()
{
    if (const long status = enter(ListDelete))
        return status;
    return m_inner.listDelete();
}

long FaultInjectingLibrary::open(long& handle, const char* name, long domain)
{
    if (const long status = enter(Open)) {
        handle = -1;
        return status;
    }
    return m_inner.open(handle, name, domain);
}

long FaultInjectingLibrary::getLibVersion(char* buffer, std::size_t size)
{
    if (const long status = enter(GetLibVersion))
        return status;
    return m_inner.getLibVersion(buffer, size);
}

long FaultInjectingLibrary::getModel(long handle, char* buffer, std::size_t size)
{
    if (const long status = enter(GetModel))
        return status;
    return m_inner.getModel(handle, buffer, size);
}

long FaultInjectingLibrary::getSerialString(long handle, char* buffer, std::size_t size)
{
    if (const long status = enter(GetSerialString))
        return status;
    return m_inner.getSerialString(handle, buffer, size);
}

long FaultInjectingLibrary::getHWRevision(long handle, long& revision)
{
    if (const long status = enter(GetHWRevision))
        return status;
    return m_inner.getHWRevision(handle, revision);
}

long FaultInjectingLibrary::getPixelSize(long handle, double& width, double& height)
{
    if (const long status = enter(GetPixelSize))
        return status;
    return m_inner.getPixelSize(handle, width, height);
}

long FaultInjectingLibrary::getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    if (const long status = enter(GetArrayArea))
        return status;
    return m_inner.getArrayArea(handle, ulX, ulY, lrX, lrY);
}

long FaultInjectingLibrary::getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    if (const long status = enter(GetVisibleArea))
        return status;
    return m_inner.getVisibleArea(handle, ulX, ulY, lrX, lrY);
}

long FaultInjectingLibrary::setTemperature(long handle, double celsius)
{
    if (const long status = enter(SetTemperature))
        return status;
    return m_inner.setTemperature(handle, celsius);
}

long FaultInjectingLibrary::readTemperature(long handle, long channel, double& celsius)
{
    if (const long status = enter(ReadTemperature))
        return status;
    return m_inner.readTemperature(handle, channel, celsius);
}

long FaultInjectingLibrary::getCoolerPower(long handle, double& power)
{
    if (const long status = enter(GetCoolerPower))
        return status;
    return m_inner.getCoolerPower(handle, power);
}

long FaultInjectingLibrary::setExposureTime(long handle, long milliseconds)
{
    if (const long status = enter(SetExposureTime))
        return status;
    return m_inner.setExposureTime(handle, milliseconds);
}

long FaultInjectingLibrary::setFrameType(long handle, long frameType)
{
    if (const long status = enter(SetFrameType))
        return status;
    return m_inner.setFrameType(handle, frameType);
}

long FaultInjectingLibrary::setHBin(long handle, long factor)
{
    if (const long status = enter(SetHBin))
        return status;
    return m_inner.setHBin(handle, factor);
}

long FaultInjectingLibrary::setVBin(long handle, long factor)
{
    if (const long status = enter(SetVBin))
        return status;
    return m_inner.setVBin(handle, factor);
}

long FaultInjectingLibrary::setImageArea(long handle, long ulX, long ulY, long lrX, long lrY)
{
    if (const long status = enter(SetImageArea))
        return status;
    return m_inner.setImageArea(handle, ulX, ulY, lrX, lrY);
}

long FaultInjectingLibrary::setTDI(long handle, long rate, long flags)
{
    if (const long status = enter(SetTDI))
        return status;
    return m_inner.setTDI(handle, rate, flags);
}

long FaultInjectingLibrary::exposeFrame(long handle)
{
    if (const long status = enter(ExposeFrame))
        return status;
    return m_inner.exposeFrame(handle);
}

long FaultInjectingLibrary::getDeviceStatus(long handle, unsigned long& status)
{
    if (const long failure = enter(GetDeviceStatus))
        return failure;
    const long result = m_inner.getDeviceStatus(handle, status);
    if (result == 0 && m_settings.forcedStatus)
        status = *m_settings.forcedStatus;
    return result;
}

long FaultInjectingLibrary::getExposureStatus(long handle, long& timeLeftMs)
{
    if (const long status = enter(GetExposureStatus))
        return status;
    return m_inner.getExposureStatus(handle, timeLeftMs);
}

long FaultInjectingLibrary::grabRow(long handle, std::uint16_t* buffer, std::size_t width)
{
    if (const long status = enter(GrabRow))
        return status;
    return m_inner.grabRow(handle, buffer, width);
}

long FaultInjectingLibrary::cancelExposure(long handle)
{
    if (const long status = enter(CancelExposure))
        return status;
    return m_inner.cancelExposure(handle);
}

long FaultInjectingLibrary::close(long handle)
{
    if (const long status = enter(Close))
        return status;
    return m_inner.close(handle);
}

bool FaultInjectingLibrary::addFault(const SimFault& fault)
{
    if (!SimFault::operationNames().contains(fault.operation) || fault.atCall < 1 || fault.status == 0)
        return false;
    m_settings.faults.append(fault);
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
    m_settings.faults.clear();
}

void FaultInjectingLibrary::setForcedStatus(std::optional<quint32> word)
{
    m_settings.forcedStatus = word;
}

int FaultInjectingLibrary::callCount(const QString& operation) const
{
    const int op = SimFault::operationNames().indexOf(operation);
    return op < 0 ? -1 : m_calls[std::size_t(op)];
}

void FaultInjectingLibrary::resetCallCounts()
{
    m_calls.fill(0);
}

} // namespace camlib
