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

RecordingLibrary::RecordingLibrary(CameraLibrary& inner) : m_inner(inner) {}

long RecordingLibrary::record(const QString& operation, const QStringList& inputs, long status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.append(QStringLiteral("%1(%2)=%3").arg(operation, inputs.join(QLatin1Char(',')), num(status)));
    return status;
}

long RecordingLibrary::listCreate(long deviceClassMask)
{
    return record(QStringLiteral("listCreate"), {hex(deviceClassMask)}, m_inner.listCreate(deviceClassMask));
}

long RecordingLibrary::listFirst(long& domain, char* name, std::size_t nameSize, char* description,
                                 std::size_t descriptionSize)
{
    return record(QStringLiteral("listFirst"), {size(nameSize), size(descriptionSize)},
                  m_inner.listFirst(domain, name, nameSize, description, descriptionSize));
}

long RecordingLibrary::listNext(long& domain, char* name, std::size_t nameSize, char* description,
                                std::size_t descriptionSize)
{
    return record(QStringLiteral("listNext"), {size(nameSize), size(descriptionSize)},
                  m_inner.listNext(domain, name, nameSize, description, descriptionSize));
}

long RecordingLibrary::listDelete()
{
    return record(QStringLiteral("listDelete"), {}, m_inner.listDelete());
}

long RecordingLibrary::open(long& handle, const char* name, long domain)
{
    const QString shownName = name ? QString::fromLatin1(name) : QStringLiteral("(null)");
    return record(QStringLiteral("open"), {shownName, hex(domain)}, m_inner.open(handle, name, domain));
}

long RecordingLibrary::getLibVersion(char* buffer, std::size_t bufferSize)
{
    return record(QStringLiteral("getLibVersion"), {size(bufferSize)}, m_inner.getLibVersion(buffer, bufferSize));
}

long RecordingLibrary::getModel(long handle, char* buffer, std::size_t bufferSize)
{
    return record(QStringLiteral("getModel"), {num(handle), size(bufferSize)},
                  m_inner.getModel(handle, buffer, bufferSize));
}

long RecordingLibrary::getSerialString(long handle, char* buffer, std::size_t bufferSize)
{
    return record(QStringLiteral("getSerialString"), {num(handle), size(bufferSize)},
                  m_inner.getSerialString(handle, buffer, bufferSize));
}

long RecordingLibrary::getHWRevision(long handle, long& revision)
{
    return record(QStringLiteral("getHWRevision"), {num(handle)}, m_inner.getHWRevision(handle, revision));
}

long RecordingLibrary::getPixelSize(long handle, double& width, double& height)
{
    return record(QStringLiteral("getPixelSize"), {num(handle)}, m_inner.getPixelSize(handle, width, height));
}

long RecordingLibrary::getArrayArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    return record(QStringLiteral("getArrayArea"), {num(handle)}, m_inner.getArrayArea(handle, ulX, ulY, lrX, lrY));
}

long RecordingLibrary::getVisibleArea(long handle, long& ulX, long& ulY, long& lrX, long& lrY)
{
    return record(QStringLiteral("getVisibleArea"), {num(handle)}, m_inner.getVisibleArea(handle, ulX, ulY, lrX, lrY));
}

long RecordingLibrary::setTemperature(long handle, double celsius)
{
    return record(QStringLiteral("setTemperature"), {num(handle), QString::number(celsius)},
                  m_inner.setTemperature(handle, celsius));
}

long RecordingLibrary::readTemperature(long handle, long channel, double& celsius)
{
    return record(QStringLiteral("readTemperature"), {num(handle), num(channel)},
                  m_inner.readTemperature(handle, channel, celsius));
}

long RecordingLibrary::getCoolerPower(long handle, double& power)
{
    return record(QStringLiteral("getCoolerPower"), {num(handle)}, m_inner.getCoolerPower(handle, power));
}

long RecordingLibrary::setExposureTime(long handle, long milliseconds)
{
    return record(QStringLiteral("setExposureTime"), {num(handle), num(milliseconds)},
                  m_inner.setExposureTime(handle, milliseconds));
}

long RecordingLibrary::setFrameType(long handle, long frameType)
{
    return record(QStringLiteral("setFrameType"), {num(handle), num(frameType)},
                  m_inner.setFrameType(handle, frameType));
}

long RecordingLibrary::setHBin(long handle, long factor)
{
    return record(QStringLiteral("setHBin"), {num(handle), num(factor)}, m_inner.setHBin(handle, factor));
}

long RecordingLibrary::setVBin(long handle, long factor)
{
    return record(QStringLiteral("setVBin"), {num(handle), num(factor)}, m_inner.setVBin(handle, factor));
}

long RecordingLibrary::setImageArea(long handle, long ulX, long ulY, long lrX, long lrY)
{
    return record(QStringLiteral("setImageArea"), {num(handle), num(ulX), num(ulY), num(lrX), num(lrY)},
                  m_inner.setImageArea(handle, ulX, ulY, lrX, lrY));
}

long RecordingLibrary::setTDI(long handle, long rate, long flags)
{
    return record(QStringLiteral("setTDI"), {num(handle), num(rate), num(flags)}, m_inner.setTDI(handle, rate, flags));
}

long RecordingLibrary::exposeFrame(long handle)
{
    return record(QStringLiteral("exposeFrame"), {num(handle)}, m_inner.exposeFrame(handle));
}

long RecordingLibrary::getDeviceStatus(long handle, unsigned long& status)
{
    return record(QStringLiteral("getDeviceStatus"), {num(handle)}, m_inner.getDeviceStatus(handle, status));
}

long RecordingLibrary::getExposureStatus(long handle, long& timeLeftMs)
{
    return record(QStringLiteral("getExposureStatus"), {num(handle)}, m_inner.getExposureStatus(handle, timeLeftMs));
}

long RecordingLibrary::grabRow(long handle, std::uint16_t* buffer, std::size_t width)
{
    const long status = m_inner.grabRow(handle, buffer, width);
    bool capture = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        capture = m_captureRows && status == 0 && buffer;
        if (capture) {
            QVector<quint16> row(static_cast<int>(width));
            std::copy(buffer, buffer + width, row.begin());
            m_rows.append(row);
        }
    }
    return record(QStringLiteral("grabRow"), {num(handle), size(width)}, status);
}

QStringList RecordingLibrary::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
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
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
    m_rows.clear();
}

QString RecordingLibrary::operationOf(const QString& call)
{
    const int paren = call.indexOf(QLatin1Char('('));
    return paren < 0 ? call : call.left(paren);
}

long RecordingLibrary::cancelExposure(long handle)
{
    return record(QStringLiteral("cancelExposure"), {num(handle)}, m_inner.cancelExposure(handle));
}

long RecordingLibrary::close(long handle)
{
    return record(QStringLiteral("close"), {num(handle)}, m_inner.close(handle));
}

void RecordingLibrary::setCaptureRows(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_captureRows = on;
}

QVector<QVector<quint16>> RecordingLibrary::capturedRows() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rows;
}

QByteArray RecordingLibrary::capturedBytes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QByteArray bytes;
    for (const QVector<quint16>& row : m_rows)
        bytes.append(reinterpret_cast<const char*>(row.constData()), int(row.size() * int(sizeof(quint16))));
    return bytes;
}

} // namespace camlib
