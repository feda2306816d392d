#include "CameraDevice.h"

#include "CameraLibrary.h"

#include <QDebug>
#include <QStringList>

#include <cstring>

namespace {

// Text buffer sizes the library is given.
constexpr std::size_t LibVersionSize = 1024;
constexpr std::size_t IdentitySize = 2047;
constexpr std::size_t ListTextSize = 1024;

std::optional<Area> area(long status, long a, long b, long c, long d)
{
    if (status != 0)
        return std::nullopt;
    return Area{int(a), int(b), int(c), int(d)};
}

} // namespace

void CameraDevice::list(long deviceClassMask, QList<QByteArray>* descriptions)
{
    devCount = 0;
    if (descriptions)
        descriptions->clear();
    lib.listCreate(deviceClassMask);
    char name[ListTextSize];
    char description[ListTextSize];
    long domain = 0;
    std::memset(name, 0, sizeof name);
    std::memset(description, 0, sizeof description);
    long status = lib.listFirst(domain, name, sizeof name, description, sizeof description);
    while (status == 0 && devCount < DeviceListMax) {
        name[sizeof name - 1] = '\0';
        devNames[devCount] = QByteArray(name);
        devDomains[devCount] = domain;
        description[sizeof description - 1] = '\0';
        if (descriptions)
            descriptions->append(QByteArray(description));
        ++devCount;
        std::memset(description, 0, sizeof description);
        std::memset(name, 0, sizeof name);
        status = lib.listNext(domain, name, sizeof name, description, sizeof description);
    }
    lib.listDelete();
}

std::optional<int> CameraDevice::findBySerial(const QString& serial)
{
    QList<QByteArray> serials;
    list(camlib::DeviceClassCamera | camlib::EnumerateBySerial, &serials);
    QStringList found;
    for (int i = 0; i < devCount; ++i) {
        const QString listed = QString::fromLatin1(serials.value(i)).trimmed();
        if (listed == serial) {
            devDomains[i] &= ~camlib::DomainOptionsMask; // open() takes the device's own domain
            qDebug().noquote() << QStringLiteral("Camera serial %1: %2, number %3 of %4 listed")
                                      .arg(serial, QString::fromLatin1(devNames[i]))
                                      .arg(i)
                                      .arg(devCount);
            return i;
        }
        found << QStringLiteral("%1 (%2)").arg(listed, QString::fromLatin1(devNames[i]));
    }
    qDebug().noquote() << QStringLiteral("Camera serial %1 not found among %2 listed: %3 - no camera opened")
                              .arg(serial)
                              .arg(devCount)
                              .arg(found.isEmpty() ? QStringLiteral("none") : found.join(QLatin1String(", ")));
    return std::nullopt;
}

bool CameraDevice::open(int number)
{
    if (number < 0 || number >= devCount)
        return false;
    // A failed open may scribble on the handle it was given.
    long h = devHandle;
    if (lib.open(h, devNames[number].constData(), devDomains[number]) != 0) {
        qDebug() << "err : opening FLI";
        return false;
    }
    devHandle = h;
    opened = true;
    return true;
}

void CameraDevice::close()
{
    if (!opened)
        return;
    opened = false;
    const long status = lib.close(devHandle);
    if (status != 0)
        qDebug().noquote() << QStringLiteral("close failed (%1)").arg(status);
    else
        qDebug() << "Camera closed";
}

QString CameraDevice::name(int i) const
{
    return (i >= 0 && i < devCount) ? QString::fromLatin1(devNames[i]) : QString();
}

std::optional<QString> CameraDevice::libVersion()
{
    char buffer[LibVersionSize] = {};
    if (!opened || lib.getLibVersion(buffer, sizeof buffer) != 0)
        return std::nullopt;
    buffer[sizeof buffer - 1] = '\0';
    return QString::fromLatin1(buffer);
}

std::optional<QString> CameraDevice::model()
{
    char buffer[IdentitySize + 1] = {};
    if (!opened || lib.getModel(devHandle, buffer, IdentitySize) != 0)
        return std::nullopt;
    return QString::fromLatin1(buffer);
}

std::optional<QString> CameraDevice::serialString()
{
    char buffer[IdentitySize + 1] = {};
    if (!opened || lib.getSerialString(devHandle, buffer, IdentitySize) != 0)
        return std::nullopt;
    return QString::fromLatin1(buffer);
}

std::optional<long> CameraDevice::hwRevision()
{
    long rev = -1;
    if (!opened || lib.getHWRevision(devHandle, rev) != 0)
        return std::nullopt;
    return rev;
}

std::optional<std::pair<double, double>> CameraDevice::pixelSize()
{
    double w = -1.0, h = -1.0;
    if (!opened || lib.getPixelSize(devHandle, w, h) != 0)
        return std::nullopt;
    return std::make_pair(w, h);
}

std::optional<Area> CameraDevice::arrayArea()
{
    if (!opened)
        return std::nullopt;
    long a = -1, b = -1, c = -1, d = -1;
    const long status = lib.getArrayArea(devHandle, a, b, c, d);
    return area(status, a, b, c, d);
}

std::optional<Area> CameraDevice::visibleArea()
{
    if (!opened)
        return std::nullopt;
    long a = -1, b = -1, c = -1, d = -1;
    const long status = lib.getVisibleArea(devHandle, a, b, c, d);
    return area(status, a, b, c, d);
}

bool CameraDevice::setTemperature(double celsius)
{
    if (!opened || lib.setTemperature(devHandle, celsius) != 0)
        return false;
    lastSetPoint = celsius;
    return true;
}

std::optional<double> CameraDevice::ccdTemperature()
{
    double t = 0.0;
    if (!opened || lib.readTemperature(devHandle, camlib::ChannelCcd, t) != 0)
        return std::nullopt;
    return t;
}

std::optional<double> CameraDevice::baseTemperature()
{
    double t = 0.0;
    if (!opened || lib.readTemperature(devHandle, camlib::ChannelBase, t) != 0)
        return std::nullopt;
    return t;
}

std::optional<double> CameraDevice::coolerPower()
{
    double p = 0.0;
    if (!opened || lib.getCoolerPower(devHandle, p) != 0)
        return std::nullopt;
    return p;
}

imagemeta::CoolerReadings CameraDevice::readings()
{
    imagemeta::CoolerReadings r;
    r.ccdTemperature = ccdTemperature();
    r.baseTemperature = baseTemperature();
    r.coolerPower = coolerPower();
    return r;
}
