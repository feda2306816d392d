#include "FitsEncoder.h"

#include "RawImage.h"

#include "Version.h"

#include <fitsio.h>

#include <cstdlib>
#include <vector>

namespace rawconv {

namespace {

QString fitsError(int status)
{
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    // The message stack would otherwise hold this error for the next file.
    fits_clear_errmsg();
    return QStringLiteral("FITS: %1 (cfitsio status %2)").arg(QString::fromLatin1(text)).arg(status);
}

void writeLong(fitsfile* f, const char* key, long value, const char* comment, int* status)
{
    fits_write_key_lng(f, key, value, comment, status);
}

void writeReal(fitsfile* f, const char* key, const std::optional<double>& value, const char* comment, int* status)
{
    // 15 significant digits: the reading as it was, without binary noise.
    if (value)
        fits_write_key_dbl(f, key, *value, -15, comment, status);
}

// Header values must be printable ASCII; cfitsio would pass other bytes on
// and leave a file that strict readers refuse. Long texts continue over
// several cards (the long-string convention).
void writeText(fitsfile* f, const char* key, const QString& value, const char* comment, int* status)
{
    if (value.isEmpty())
        return;
    QByteArray text;
    for (const QChar c : value)
        text += c.unicode() >= 0x20 && c.unicode() <= 0x7e ? char(c.unicode()) : '?';
    if (text.size() > 68)
        fits_write_key_longwarn(f, status);
    fits_write_key_longstr(f, key, text.constData(), comment, status);
}

} // namespace

QString FitsEncoder::creator()
{
    return QStringLiteral("starscam-rawconv %1").arg(QLatin1String(STARSCAM_VERSION));
}

bool FitsEncoder::encode(const RawImage& image, const Keywords& keywords, QByteArray& fits, QString& error)
{
    // Room for the header and the data, so cfitsio rarely has to grow it.
    std::size_t size = std::size_t(2880 * 4 + image.geometry().byteSize());
    void* buffer = std::malloc(size);
    if (!buffer) {
        error = QStringLiteral("FITS: out of memory");
        return false;
    }

    fitsfile* f = nullptr;
    int status = 0;
    fits_create_memfile(&f, &buffer, &size, 2880 * 16, std::realloc, &status);

    long axes[2] = {long(image.width()), long(image.height())};
    fits_create_img(f, USHORT_IMG, 2, axes, &status);
    fits_write_key_str(f, "BUNIT", "ADU", "pixel values are raw camera counts", &status);
    writeText(f, "IMAGETYP", keywords.imageType, "type of image", &status);
    if (keywords.exposureStart.isValid()) {
        const QString format = QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz");
        const QByteArray start = keywords.exposureStart.toUTC().toString(format).toLatin1();
        fits_write_key_str(f, "DATE-OBS", start.constData(), "[UTC] start of the exposure", &status);
    }
    if (keywords.xBinning)
        writeLong(f, "XBINNING", *keywords.xBinning, "horizontal binning factor", &status);
    if (keywords.yBinning)
        writeLong(f, "YBINNING", *keywords.yBinning, "vertical binning factor", &status);
    writeReal(f, "XPIXSZ", keywords.pixelWidthUm, "[um] pixel width, binning included", &status);
    writeReal(f, "YPIXSZ", keywords.pixelHeightUm, "[um] pixel height, binning included", &status);
    if (keywords.exposureMs)
        fits_write_key_fixdbl(f, "EXPTIME", *keywords.exposureMs / 1000.0, 3, "[s] exposure time", &status);
    writeReal(f, "CCD-TEMP", keywords.ccdTemperature, "[degC] CCD temperature at the start", &status);
    writeReal(f, "SET-TEMP", keywords.setTemperature, "[degC] cooler set point", &status);
    writeText(f, "INSTRUME", keywords.instrument, "camera model", &status);
    if (keywords.hasVisibleArea) {
        writeLong(f, "VISULX", keywords.visibleUlx, "visible area upper-left x, unbinned CCD pixels", &status);
        writeLong(f, "VISULY", keywords.visibleUly, "visible area upper-left y, unbinned CCD pixels", &status);
        writeLong(f, "VISLRX", keywords.visibleLrx, "visible area lower-right x, unbinned CCD pixels", &status);
        writeLong(f, "VISLRY", keywords.visibleLry, "visible area lower-right y, unbinned CCD pixels", &status);
    }
    writeText(f, "ORIGFILE", keywords.sourceFile, "raw file converted", &status);
    fits_write_date(f, &status);
    fits_write_key_str(f, "CREATOR", creator().toUtf8().constData(), "program that wrote this file", &status);

    // cfitsio takes a non-const pointer; hand it a copy rather than cast.
    std::vector<unsigned short> data(image.pixels().begin(), image.pixels().end());
    fits_write_img(f, TUSHORT, 1, LONGLONG(data.size()), data.data(), &status);

    LONGLONG headStart = 0;
    LONGLONG dataStart = 0;
    LONGLONG dataEnd = 0;
    fits_get_hduaddrll(f, &headStart, &dataStart, &dataEnd, &status);

    int closeStatus = 0;
    if (f)
        fits_close_file(f, status ? &closeStatus : &status);

    // The memory block is usually larger than the file; the file ends with
    // the (padded) data unit of its only HDU.
    const bool ok = status == 0 && dataEnd > 0 && std::size_t(dataEnd) <= size;
    if (ok)
        fits = QByteArray(static_cast<const char*>(buffer), int(dataEnd));
    else
        error = status ? fitsError(status) : QStringLiteral("FITS: unexpected file size");
    std::free(buffer);
    return ok;
}

} // namespace rawconv
