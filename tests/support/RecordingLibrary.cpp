#include "RecordingLibrary.h"

namespace camlib {

namespace {

QString num(long value)
{
    return QString::number(value);
}

QString hex(long value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

QString size(std::size_t value)
{
    return QString::number(qulonglong(value));
}

} // namespace

RecordingLibrary::RecordingLibrary(CameraLibrary& inner) : innerLibrary(inner) {}

long RecordingLibrary::record(const QString& operation, const QStringList& inputs, long status)
{
    std::lock_guard<std::mutex> lock(callsMutex);
    callLog.append(QStringLiteral("%1(%2)=%3").arg(operation, inputs.join(QLatin1Char(',')), num(status)));
    return status;
}

long RecordingLibrary::listCreate(long deviceClassMask)
{
    return record(QStringLiteral("listCreate"), {hex(deviceClassMask)}, innerLibrary.listCreate(deviceClassMask));
}

long RecordingLibrary::listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                                 std::size_t descriptionSize)
{
    return record(QStringLiteral("listFirst"), {size(nameSize), size(descriptionSize)},
                  innerLibrary.listFirst(domain, name, nameSize, description, descriptionSize));
}

long RecordingLibrary::listNext(long& domain, char* name, std::size_t nameSize, char* description,
                                std::size_t descriptionSize)
{
    return record(QStringLiteral("listNext"), {size(nameSize), size(descriptionSize)},
                  innerLibrary.listNext(domain, name, nameSize, description, descriptionSize));
}

long RecordingLibrary::listDelete()
{
    return record(QStringLiteral("listDelete"), {}, innerLibrary.listDelete());
}

long RecordingLibrary::open(long& handle, const char* name, long domain)
{
    const QString shownName = name ? QString::fromLatin1(name) : QStringLiteral("(null)");
    return record(QStringLiteral("open"), {shownName, hex(domain)}, innerLibrary.open(handle, name, domain));
}

long RecordingLibrary::getLibVersion(char* buffer, std::size_t bufferSize)
{
    return record(QStringLiteral("getLibVersion"), {size(bufferSize)}, innerLibrary.getLibVersion(buffer, bufferSize));
}

long RecordingLibrary::getModel(long handle, char* buffer, std::size_t bufferSize)
{
    return record(QStringLiteral("getModel"), {num(handle), size(bufferSize)},
                  innerLibrary.getModel(handle, buffer, bufferSize));
}

long RecordingLibrary::getSerialString(long handle, char* buffer, std::size_t bufferSize)
{
    return record(QStringLiteral("getSerialString"), {num(handle), size(bufferSize)},
                  innerLibrary.getSerialString(handle, buffer, bufferSize));
}

long RecordingLibrary::getHWRevision(long handle, long& revision)
{
    return record(QStringLiteral("getHWRevision"), {num(handle)}, innerLibrary.getHWRevision(handle, revision));
}

long RecordingLibrary::getPixelSize(long handle, double& width, double& height)
{
    return record(QStringLiteral("getPixelSize"), {num(handle)}, innerLibrary.getPixelSize(handle, width, height));
}

long RecordingLibrary::getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    return record(QStringLiteral("getArrayArea"), {num(handle)}, innerLibrary.getArrayArea(handle, ulX, ulY, lrX, lrY));
}

long RecordingLibrary::getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    return record(QStringLiteral("getVisibleArea"), {num(handle)},
                  innerLibrary.getVisibleArea(handle, ulX, ulY, lrX, lrY));
}

long RecordingLibrary::setTemperature(long handle, double celsius)
{
    return record(QStringLiteral("setTemperature"), {num(handle), QString::number(celsius)},
                  innerLibrary.setTemperature(handle, celsius));
}

long RecordingLibrary::readTemperature(long handle, long channel, double& celsius)
{
    return record(QStringLiteral("readTemperature"), {num(handle), num(channel)},
                  innerLibrary.readTemperature(handle, channel, celsius));
}

long RecordingLibrary::getCoolerPower(long handle, double& power)
{
    return record(QStringLiteral("getCoolerPower"), {num(handle)}, innerLibrary.getCoolerPower(handle, power));
}

long RecordingLibrary::setExposureTime(long handle, long milliseconds)
{
    return record(QStringLiteral("setExposureTime"), {num(handle), num(milliseconds)},
                  innerLibrary.setExposureTime(handle, milliseconds));
}

long RecordingLibrary::setFrameType(long handle, long frameType)
{
    return record(QStringLiteral("setFrameType"), {num(handle), num(frameType)},
                  innerLibrary.setFrameType(handle, frameType));
}

long RecordingLibrary::setHBin(long handle, long factor)
{
    return record(QStringLiteral("setHBin"), {num(handle), num(factor)}, innerLibrary.setHBin(handle, factor));
}

long RecordingLibrary::setVBin(long handle, long factor)
{
    return record(QStringLiteral("setVBin"), {num(handle), num(factor)}, innerLibrary.setVBin(handle, factor));
}

long RecordingLibrary::setImageArea(long handle, long ulX, long ulY, long lrX, long lrY)
{
    return record(QStringLiteral("setImageArea"), {num(handle), num(ulX), num(ulY), num(lrX), num(lrY)},
                  innerLibrary.setImageArea(handle, ulX, ulY, lrX, lrY));
}

long RecordingLibrary::setTDI(long handle, long rate, long flags)
{
    return record(QStringLiteral("setTDI"), {num(handle), num(rate), num(flags)},
                  innerLibrary.setTDI(handle, rate, flags));
}

long RecordingLibrary::exposeFrame(long handle)
{
    return record(QStringLiteral("exposeFrame"), {num(handle)}, innerLibrary.exposeFrame(handle));
}

long RecordingLibrary::getDeviceStatus(long handle, unsigned long& status)
{
    return record(QStringLiteral("getDeviceStatus"), {num(handle)}, innerLibrary.getDeviceStatus(handle, status));
}

long RecordingLibrary::getExposureStatus(long handle, long& timeLeftMs)
{
    return record(QStringLiteral("getExposureStatus"), {num(handle)},
                  innerLibrary.getExposureStatus(handle, timeLeftMs));
}

long RecordingLibrary::grabRow(long handle, std::uint16_t* buffer, std::size_t width)
{
    const long status = innerLibrary.grabRow(handle, buffer, width);
    bool capture = false;
    {
        std::lock_guard<std::mutex> lock(callsMutex);
        capture = captureRows && status == 0 && buffer;
        if (capture) {
            QVector<quint16> row(static_cast<int>(width));
            std::copy(buffer, buffer + width, row.begin());
            rows.append(row);
        }
    }
    return record(QStringLiteral("grabRow"), {num(handle), size(width)}, status);
}

QStringList RecordingLibrary::calls() const
{
    std::lock_guard<std::mutex> lock(callsMutex);
    return callLog;
}

QStringList RecordingLibrary::callsNamed(const QStringList& operations) const
{
    QStringList selected;
    for (const QString& call : calls()) {
        if (operations.contains(operationOf(call)))
            selected.append(call);
    }
    return selected;
}

QStringList RecordingLibrary::callsExcept(const QStringList& operations) const
{
    QStringList selected;
    for (const QString& call : calls()) {
        if (!operations.contains(operationOf(call)))
            selected.append(call);
    }
    return selected;
}

void RecordingLibrary::clear()
{
    std::lock_guard<std::mutex> lock(callsMutex);
    callLog.clear();
    rows.clear();
}

QString RecordingLibrary::operationOf(const QString& call)
{
    const int paren = call.indexOf(QLatin1Char('('));
    return paren < 0 ? call : call.left(paren);
}

long RecordingLibrary::cancelExposure(long handle)
{
    return record(QStringLiteral("cancelExposure"), {num(handle)}, innerLibrary.cancelExposure(handle));
}

long RecordingLibrary::close(long handle)
{
    return record(QStringLiteral("close"), {num(handle)}, innerLibrary.close(handle));
}

void RecordingLibrary::setCaptureRows(bool on)
{
    std::lock_guard<std::mutex> lock(callsMutex);
    captureRows = on;
}

QVector<QVector<quint16>> RecordingLibrary::capturedRows() const
{
    std::lock_guard<std::mutex> lock(callsMutex);
    return rows;
}

QByteArray RecordingLibrary::capturedBytes() const
{
    std::lock_guard<std::mutex> lock(callsMutex);
    QByteArray bytes;
    for (const QVector<quint16>& row : rows)
        bytes.append(reinterpret_cast<const char*>(row.constData()), int(row.size() * int(sizeof(quint16))));
    return bytes;
}

} // namespace camlib
