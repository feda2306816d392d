#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace rawconv {

class RawImage;

// A FITS file holding one raw image: BITPIX 16 with BZERO 32768, the usual
// way of storing unsigned 16-bit pixels, so readers get the counts back
// unchanged. NAXIS1 is the width; the file's first row is FITS row 1, which
// most FITS viewers draw at the bottom.
class FitsEncoder
{
public:
    // What is known about the exposure; only what is set is written.
    struct Keywords
    {
        std::optional<int> xBinning;
        std::optional<int> yBinning;
        std::optional<double> exposureMs;
        bool hasVisibleArea = false;
        int visibleUlx = 0;
        int visibleUly = 0;
        int visibleLrx = 0;
        int visibleLry = 0;
        QString sourceFile;                   // name of the raw file, without directories
        QDateTime exposureStart;              // DATE-OBS, in UTC
        QString imageType;                    // IMAGETYP ("Light Frame")
        std::optional<double> ccdTemperature; // CCD-TEMP, degrees Celsius at the start
        std::optional<double> setTemperature; // SET-TEMP, the cooler set point
        std::optional<double> pixelWidthUm;   // XPIXSZ, one image pixel (binned) in micrometres
        std::optional<double> pixelHeightUm;  // YPIXSZ
        QString instrument;                   // INSTRUME, the camera model
    };

    // The file's bytes, built in memory so that nothing partial ever lands on
    // disk; false with error set when cfitsio refuses.
    static bool encode(const RawImage& image, const Keywords& keywords, QByteArray& fits, QString& error);

    // What CREATOR says: this program and its version.
    static QString creator();
};

} // namespace rawconv
