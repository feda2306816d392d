#pragma once

#include "ImageMetadata.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace camlib {
class CameraLibrary;
}

// The visible area, read once at open: what every frame is sized from.
struct Area
{
    int ulX = 0, ulY = 0, lrX = 0, lrY = 0;
    int width() const { return lrX - ulX; }
    int height() const { return lrY - ulY; }
};

// The camera as a device: the list of cameras, choosing one (by place or by
// serial number), opening and closing it, its identity, geometry and cooler.
// Every query answers nothing when the device is closed or the call failed.
class CameraDevice
{
public:
    static constexpr int DeviceListMax = 20;

    explicit CameraDevice(camlib::CameraLibrary& library) : lib(library) {}

    // Lists up to DeviceListMax devices; with `descriptions`, also what the
    // library lists beside each name.
    void list(long deviceClassMask, QList<QByteArray>* descriptions = nullptr);
    // The place of the camera whose serial is `serial` (lists by serial
    // number, opens nothing); none, logged with what was found, otherwise.
    std::optional<int> findBySerial(const QString& serial);
    // Opens listed device `number`; false (logged) when the library refuses.
    bool open(int number);
    // Closes the device when open; the library's failure is logged.
    void close();

    bool isOpen() const { return opened; }
    long handle() const { return devHandle; }
    int count() const { return devCount; }
    QString name(int i) const;
    camlib::CameraLibrary& library() { return lib; }

    std::optional<QString> libVersion();
    std::optional<QString> model();
    std::optional<QString> serialString();
    std::optional<long> hwRevision();
    std::optional<std::pair<double, double>> pixelSize();
    std::optional<Area> arrayArea();
    std::optional<Area> visibleArea();
    // The area read at open (all 0 when it could not be read).
    const Area& visible() const { return vis; }
    void setVisible(const Area& area) { vis = area; }

    bool setTemperature(double celsius);
    std::optional<double> ccdTemperature();
    std::optional<double> baseTemperature();
    std::optional<double> coolerPower();
    // The last set point the service set.
    std::optional<double> setPoint() const { return lastSetPoint; }
    // The three cooler readings at once; a failed one stays empty.
    imagemeta::CoolerReadings readings();

private:
    camlib::CameraLibrary& lib;
    bool opened = false;
    long devHandle = -1;
    int devCount = 0;
    QByteArray devNames[DeviceListMax]; // as listed, handed back to open
    long devDomains[DeviceListMax] = {};
    Area vis;
    std::optional<double> lastSetPoint;
};
