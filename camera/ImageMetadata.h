#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// The small JSON file written beside each raw image, so that the image
// describes itself: geometry, timing, temperatures and the camera's identity.
// Pure data and conversions; nothing here touches a camera or a file.
namespace imagemeta {

// Cooler readings taken at one moment; a failed reading stays empty.
struct CoolerReadings
{
    std::optional<double> ccdTemperature;  // degrees Celsius, as the library reports
    std::optional<double> baseTemperature; // degrees Celsius
    std::optional<double> coolerPower;     // as the library reports it (percent)
};

// One image's description. Fields that hold a camera reading (or anything
// else that may be unknown) are optional and written as JSON null when
// empty; an empty reading never makes the description fail.
struct ImageMetadata
{
    QString imageFile;       // the raw file's name as written, a "_n" alternative included
    QDateTime exposureStart; // UTC; invalid when unknown
    QDateTime exposureEnd;   // UTC; invalid when unknown
    int exposureTimeMs = 0;  // exposure time as set
    int frameType = 0;       // as the library numbers it; 0 is a normal (main) image
    int hbin = 1;
    int vbin = 1;
    // Image area as sent to the camera: upper-left and lower-right corners.
    int areaUlX = 0;
    int areaUlY = 0;
    int areaLrX = 0;
    int areaLrY = 0;
    int width = 0;  // pixels per row in the file
    int height = 0; // rows in the file
    CoolerReadings atStart;
    CoolerReadings atEnd;
    std::optional<double> setPoint; // the last one the service set; empty when unknown
    std::optional<QString> cameraModel;
    std::optional<QString> serialNumber;
    std::optional<QString> libraryVersion;
    std::optional<double> pixelWidth;  // metres, as the camera reports (unbinned)
    std::optional<double> pixelHeight; // metres
    QString nodeName;
    std::optional<int> sequenceNumber; // the four-digit sequence part of the name; empty when not used
    int pictureNumber = 0;
    QString serviceName;
    QString serviceVersion;
};

// The frame type's name: "normal", "dark", "flood", "rbi flush", or
// "unknown" for a number the library does not define.
QString frameTypeName(int frameType);

// The description as one JSON object in UTF-8: one key per line, always in
// the same order, so that two files diff line by line. Numbers are written
// independently of the locale; doubles (temperatures included) in the
// shortest form that reads back to the same value ("-20.5", "9e-06"); empty
// fields, invalid times and non-finite numbers as null. Times are ISO 8601
// in UTC with milliseconds and "Z" ("2026-12-07T17:48:00.250Z").
QByteArray toJson(const ImageMetadata& metadata);

// The inverse of toJson. Optional fields may be null or missing; the others
// must be present with the right type, and the binning at least 1 and the
// size not negative. False with error naming the key (or the JSON error) on
// anything else; metadata is then unspecified.
bool fromJson(const QByteArray& json, ImageMetadata& metadata, QString& error);

// The metadata file's name for an image file's name, in the same directory:
// the whole name plus ".json" ("run0000-0000.dat.json"), so that no other
// image's name leads to it.
QString fileNameFor(const QString& imageFileName);

// The name earlier releases gave it: the last path component's suffix (from
// its last dot) replaced by ".json", or ".json" appended when it has none
// ("frame", ".hidden") or when the image itself ends with ".json". Images of
// different suffixes, and alternatives, could meet at one such name.
QString legacyFileNameFor(const QString& imageFileName);

} // namespace imagemeta
