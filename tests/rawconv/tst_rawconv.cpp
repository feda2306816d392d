#include "ConvertOptions.h"
#include "ImageMetadata.h"
#include "PercentileStretch.h"
#include "RawConverter.h"
#include "RawImage.h"

#include <QtTest>

#include <fitsio.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

using namespace rawconv;
using Pixels = std::vector<std::uint16_t>;
using Keys = QMap<QString, QString>;
Q_DECLARE_METATYPE(Pixels)

namespace {

// Writes pixels as the service does: 16-bit, least significant byte first.
void writeRaw(const QString& path, const Pixels& pixels)
{
    QByteArray bytes;
    for (std::uint16_t p : pixels) {
        bytes.append(char(p & 0xff));
        bytes.append(char(p >> 8));
    }
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

Pixels ramp(int count, int first = 0)
{
    Pixels p(std::size_t(count), 0);
    std::iota(p.begin(), p.end(), std::uint16_t(first));
    return p;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Runs the converter as main() does; err collects its complaints.
int convert(const QStringList& args, QString* err = nullptr)
{
    ConvertOptions options;
    QString error;
    if (!ConvertOptions::parse(args, options, error)) {
        qWarning() << "bad test arguments:" << error;
        return -1;
    }
    QString outText;
    QString errText;
    QTextStream out(&outText);
    QTextStream errStream(&errText);
    const int status = RawConverter(options).run(out, errStream);
    if (err)
        *err = errText;
    return status;
}

// Each key's value as cfitsio reads it: numbers compared as numbers, other
// values as (long) strings, "" for a key that must be absent.
void compareKeys(fitsfile* f, const Keys& keys)
{
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        int status = 0;
        const QByteArray key = it.key().toLatin1();
        bool numeric = false;
        const double expected = it.value().toDouble(&numeric);
        if (!numeric && !it.value().isEmpty()) {
            char* value = nullptr;
            fits_read_key_longstr(f, key.constData(), &value, nullptr, &status);
            QVERIFY2(status == 0, key.constData());
            const QString got = QString::fromUtf8(value);
            fits_free_memory(value, &status);
            QCOMPARE(got, it.value());
            continue;
        }
        double value = 0;
        fits_read_key(f, TDOUBLE, key.constData(), &value, nullptr, &status);
        if (!numeric) {
            QVERIFY2(status == KEY_NO_EXIST, key.constData());
            fits_clear_errmsg();
            continue;
        }
        QVERIFY2(status == 0, key.constData());
        QCOMPARE(value, expected);
    }
}

} // namespace

class tst_RawConv : public QObject
{
    Q_OBJECT

private slots:
    void geometryFromBinning_data();
    void geometryFromBinning();
    void options_data();
    void options();
    void decodesLeastSignificantByteFirst();
    void refusesWrongSize_data();
    void refusesWrongSize();
    void percentiles_data();
    void percentiles();
    void stretch_data();
    void stretch();
    void pngPixels_data();
    void pngPixels();
    void fitsRoundTrip_data();
    void fitsRoundTrip();
    void pairsMetadataWithItsImage_data();
    void pairsMetadataWithItsImage();
    void directory_data();
    void directory();
    void neverOverwrites_data();
    void neverOverwrites();
    void program_data();
    void program();

private:
    QTemporaryDir tmp_;
};

void tst_RawConv::geometryFromBinning_data()
{
    QTest::addColumn<int>("hbin");
    QTest::addColumn<int>("vbin");
    QTest::addColumn<QRect>("visible"); // ulx, uly, lrx, lry in x, y, width, height
    QTest::addColumn<QSize>("size");
    const QRect simulator(14, 4, 1550, 1028);
    QTest::newRow("simulator 1x1") << 1 << 1 << simulator << QSize(1536, 1024);
    QTest::newRow("2x2") << 2 << 2 << simulator << QSize(768, 512);
    QTest::newRow("3x3 drops the remainder") << 3 << 3 << simulator << QSize(512, 341);
    QTest::newRow("7x1 drops the remainder") << 7 << 1 << simulator << QSize(219, 1024);
    QTest::newRow("1x4") << 1 << 4 << simulator << QSize(1536, 256);
    QTest::newRow("binning beyond the area") << 2000 << 1 << simulator << QSize(0, 1024);
    QTest::newRow("no binning") << 0 << 1 << simulator << QSize(0, 0);
}

void tst_RawConv::geometryFromBinning()
{
    QFETCH(int, hbin);
    QFETCH(int, vbin);
    QFETCH(QRect, visible);
    QFETCH(QSize, size);
    const RawGeometry g =
        RawGeometry::fromVisibleArea(hbin, vbin, visible.x(), visible.y(), visible.width(), visible.height());
    QCOMPARE(QSize(g.width(), g.height()), size);
    QCOMPARE(g.isValid(), !size.isEmpty());
    QCOMPARE(g.byteSize(), qint64(size.width()) * size.height() * 2);
}

void tst_RawConv::options_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error"); // part of the message, empty when accepted
    QTest::addColumn<QSize>("size");
    const auto args = [](const char* line) { return QString::fromLatin1(line).split(QLatin1Char(' ')); };

    QTest::newRow("defaults") << args("--png f") << "" << QSize(1536, 1024);
    QTest::newRow("bin takes two words") << args("--fits --bin 2 4 f") << "" << QSize(768, 256);
    QTest::newRow("visible takes four words") << args("--png --visible 0 0 100 50 --bin 2 2 f") << "" << QSize(50, 25);
    QTest::newRow("size outright wins over binning")
        << args("--png --bin 2 2 --width 10 --height 3 f") << "" << QSize(10, 3);
    QTest::newRow("attached value") << args("--png --low=1 --high=99 --suffix=raw f") << "" << QSize(1536, 1024);
    QTest::newRow("-- ends the options") << args("--png -- --bin") << "" << QSize(1536, 1024);
    QTest::newRow("help needs nothing else") << args("--help") << "" << QSize(1536, 1024);

    QTest::newRow("no format") << args("f") << "--png, --fits" << QSize();
    QTest::newRow("no input") << args("--png") << "no input" << QSize();
    QTest::newRow("unknown option") << args("--png --colour f") << "unknown option --colour" << QSize();
    QTest::newRow("bin with one value") << args("--png --bin 2") << "--bin needs 2" << QSize();
    QTest::newRow("bin attached") << args("--png --bin=2 2 f") << "separate words" << QSize();
    QTest::newRow("zero bin") << args("--png --bin 0 1 f") << "at least 1" << QSize();
    QTest::newRow("bin not a number") << args("--png --bin x 1 f") << "\"x\"" << QSize();
    QTest::newRow("width alone") << args("--png --width 10 f") << "go together" << QSize();
    QTest::newRow("visible inverted") << args("--png --visible 100 0 10 50 f") << "lower-right" << QSize();
    QTest::newRow("bin larger than area")
        << args("--png --visible 0 0 10 10 --bin 11 1 f") << "leaves no pixel" << QSize();
    QTest::newRow("low above high") << args("--png --low 60 --high 40 f") << "percentiles" << QSize();
    QTest::newRow("high above 100") << args("--png --high 101 f") << "percentiles" << QSize();
    QTest::newRow("negative exposure") << args("--png --exptime -5 f") << "at least 0" << QSize();
    QTest::newRow("flag with value") << args("--png=yes f") << "takes no value" << QSize();
}

void tst_RawConv::options()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QFETCH(QSize, size);
    ConvertOptions options;
    QString message;
    const bool ok = ConvertOptions::parse(args, options, message);
    QVERIFY2(ok == error.isEmpty(), qPrintable(message));
    if (!ok) {
        QVERIFY2(message.contains(error), qPrintable(message));
        return;
    }
    if (options.help)
        return;
    QCOMPARE(QSize(options.geometry().width(), options.geometry().height()), size);
    QCOMPARE(options.inputs.constLast(), args.constLast());
}

void tst_RawConv::decodesLeastSignificantByteFirst()
{
    const QByteArray bytes = QByteArray::fromHex("3412ff0000ff0100feff0080");
    const RawImage image = RawImage::fromBytes(bytes, RawGeometry(3, 2));
    QCOMPARE(image.pixels(), (Pixels{0x1234, 0x00ff, 0xff00, 0x0001, 0xfffe, 0x8000}));
    // Rows follow one another: the second row starts with the fourth pixel.
    QCOMPARE(image.at(2, 0), std::uint16_t(0xff00));
    QCOMPARE(image.at(0, 1), std::uint16_t(0x0001));
}

void tst_RawConv::refusesWrongSize_data()
{
    QTest::addColumn<int>("bytes");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte short") << 4 * 3 * 2 - 1;
    QTest::newRow("one pixel too many") << 4 * 3 * 2 + 2;
    QTest::newRow("another binning") << 2 * 3 * 2;
}

void tst_RawConv::refusesWrongSize()
{
    QFETCH(int, bytes);
    const QString path = tmp_.filePath(QStringLiteral("wrong.dat"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray(bytes, '\x01'));
    }
    RawImage image;
    QString error;
    QCOMPARE(RawImage::read(path, RawGeometry(4, 3), image, error), RawImage::ReadStatus::SizeMismatch);
    QVERIFY2(error.contains(QStringLiteral("%1 bytes").arg(bytes)), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("24 bytes for 4 x 3")), qPrintable(error));

    // Nothing is written for such a file, and the status says "bad input".
    QCOMPARE(convert({"--png", "--fits", "--width", "4", "--height", "3", path}), int(RawConverter::BadInput));
    QVERIFY(!QFile::exists(tmp_.filePath(QStringLiteral("wrong.png"))));
    QVERIFY(!QFile::exists(tmp_.filePath(QStringLiteral("wrong.fits"))));

    // Nor does metadata saying 4 x 3: it disagrees with the size and is set aside.
    imagemeta::ImageMetadata m;
    m.width = 4;
    m.height = 3;
    QFile json(imagemeta::fileNameFor(path));
    QVERIFY(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
    json.write(imagemeta::toJson(m));
    json.close();
    QCOMPARE(convert({"--png", path}), int(RawConverter::BadInput));
    QVERIFY(!QFile::exists(tmp_.filePath(QStringLiteral("wrong.png"))));
}

void tst_RawConv::percentiles_data()
{
    QTest::addColumn<Pixels>("pixels");
    QTest::addColumn<double>("lowPercent");
    QTest::addColumn<double>("highPercent");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");

    QTest::newRow("ramp, defaults") << ramp(1000) << 0.5 << 99.5 << 5 << 994;
    QTest::newRow("ramp, extremes") << ramp(1000) << 0.0 << 100.0 << 0 << 999;
    QTest::newRow("ramp, 10 and 90") << ramp(101, 500) << 10.0 << 90.0 << 510 << 590;
    Pixels shuffled = ramp(1000);
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    QTest::newRow("order does not matter") << shuffled << 0.5 << 99.5 << 5 << 994;
    Pixels hot(1000, 300);
    std::fill(hot.begin(), hot.begin() + 5, std::uint16_t(65535));
    QTest::newRow("hot pixels do not set the white level") << hot << 0.5 << 99.5 << 300 << 300;
    Pixels twoLevels(1000, 100);
    std::fill(twoLevels.begin() + 500, twoLevels.end(), std::uint16_t(4000));
    QTest::newRow("two levels") << twoLevels << 0.5 << 99.5 << 100 << 4000;
    QTest::newRow("flat") << Pixels(64, 1000) << 0.5 << 99.5 << 1000 << 1000;
    QTest::newRow("all saturated") << Pixels(64, 65535) << 0.5 << 99.5 << 65535 << 65535;
    QTest::newRow("single pixel") << Pixels{42} << 0.5 << 99.5 << 42 << 42;
}

void tst_RawConv::percentiles()
{
    QFETCH(Pixels, pixels);
    QFETCH(double, lowPercent);
    QFETCH(double, highPercent);
    QFETCH(int, low);
    QFETCH(int, high);
    const PercentileStretch s = PercentileStretch::fromPixels(pixels, lowPercent, highPercent);
    QCOMPARE(int(s.low()), low);
    QCOMPARE(int(s.high()), high);
}

void tst_RawConv::stretch_data()
{
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("grey");

    QTest::newRow("low is black") << 100 << 200 << 100 << 0;
    QTest::newRow("below low") << 100 << 200 << 3 << 0;
    QTest::newRow("high is white") << 100 << 200 << 200 << 255;
    QTest::newRow("above high") << 100 << 200 << 65535 << 255;
    QTest::newRow("middle rounds up") << 100 << 200 << 150 << 128;
    QTest::newRow("one step") << 100 << 200 << 101 << 3;
    QTest::newRow("one below high") << 100 << 200 << 199 << 252;
    QTest::newRow("full range") << 0 << 65535 << 32768 << 128;
    QTest::newRow("narrowest range") << 7 << 8 << 8 << 255;
    // No range: the plain 16-bit scale, so the level still shows.
    QTest::newRow("flat at bias level") << 1000 << 1000 << 1000 << 4;
    QTest::newRow("flat, hot pixel") << 1000 << 1000 << 65535 << 255;
    QTest::newRow("flat at zero") << 0 << 0 << 0 << 0;
    QTest::newRow("all saturated") << 65535 << 65535 << 65535 << 255;
}

void tst_RawConv::stretch()
{
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, value);
    QFETCH(int, grey);
    QCOMPARE(int(PercentileStretch(std::uint16_t(low), std::uint16_t(high)).apply(std::uint16_t(value))), grey);
}

void tst_RawConv::pngPixels_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<Pixels>("raw"); // 4 x 2
    QTest::addColumn<QVector<int>>("grey");

    QTest::newRow("extremes span the range")
        << QStringList{"--low", "0", "--high", "100"} << Pixels{1000, 1100, 1200, 1300, 1400, 1500, 1600, 1700}
        << QVector<int>{0, 36, 73, 109, 146, 182, 219, 255};
    // Ranks round(0.3 * 7) = 2 and round(0.7 * 7) = 5: levels 20 and 50.
    QTest::newRow("clipped between percentiles")
        << QStringList{"--low", "30", "--high", "70"} << Pixels{0, 10, 20, 30, 40, 50, 60, 65535}
        << QVector<int>{0, 0, 0, 85, 170, 255, 255, 255};
    QTest::newRow("all saturated is white") << QStringList() << Pixels(8, 65535) << QVector<int>(8, 255);
    QTest::newRow("flat dark frame") << QStringList() << Pixels(8, 600) << QVector<int>(8, 2);
}

void tst_RawConv::pngPixels()
{
    QFETCH(QStringList, extra);
    QFETCH(Pixels, raw);
    QFETCH(QVector<int>, grey);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("frame0000-0000.dat"));
    writeRaw(path, raw);
    QString err;
    QCOMPARE(convert(QStringList{"--png", "--width", "4", "--height", "2", path} + extra, &err), 0);

    QImage png(dir.filePath(QStringLiteral("frame0000-0000.png")));
    QVERIFY2(!png.isNull(), qPrintable(err));
    QCOMPARE(png.format(), QImage::Format_Grayscale8);
    QCOMPARE(png.size(), QSize(4, 2));
    QVector<int> got;
    for (int y = 0; y < 2; ++y) // first row of the file at the top
        for (int x = 0; x < 4; ++x)
            got << png.pixelColor(x, y).red();
    QCOMPARE(got, grey);
}

void tst_RawConv::fitsRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("json"); // metadata beside the raw file; empty: none
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("errPart"); // empty: nothing on stderr
    QTest::addColumn<Keys>("keys");       // expected keyword values, "" for absent

    QTest::newRow("binned, with exposure")
        << "run0003-0002.dat" << QByteArray()
        << QStringList{"--bin", "2", "1", "--visible", "10", "20", "18", "23", "--exptime", "1500"} << ""
        << Keys{{"XBINNING", "2"}, {"YBINNING", "1"}, {"EXPTIME", "1.5"}, {"VISULX", "10"},
                {"VISULY", "20"},  {"VISLRX", "18"},  {"VISLRY", "23"},   {"ORIGFILE", "run0003-0002.dat"}};
    QTest::newRow("size given, nothing else known")
        << "frame.raw" << QByteArray() << QStringList{"--width", "4", "--height", "3"} << ""
        << Keys{{"XBINNING", ""}, {"EXPTIME", ""}, {"VISULX", ""}, {"ORIGFILE", "frame.raw"}};
    const QString longName = QString(80, QLatin1Char('n')) + QStringLiteral(".dat");
    QTest::newRow("long source name")
        << longName << QByteArray() << QStringList{"--width", "4", "--height", "3", "--bin", "3", "3", "--exptime", "0"}
        << "" << Keys{{"XBINNING", "3"}, {"EXPTIME", "0"}, {"VISULX", ""}, {"ORIGFILE", longName}};

    // A 4 x 3 image binned 2 x 3, as the service describes it.
    imagemeta::ImageMetadata m;
    m.exposureStart = QDateTime(QDate(2026, 12, 7), QTime(17, 48, 0, 250), Qt::UTC);
    m.exposureTimeMs = 1500;
    m.hbin = 2;
    m.vbin = 3;
    m.width = 4;
    m.height = 3;
    m.atStart.ccdTemperature = -20.5;
    m.setPoint = -20.0;
    m.cameraModel = QStringLiteral("MicroLine \u00b5 8300");
    m.pixelWidth = 9e-06;
    m.pixelHeight = 5.4e-06;
    const QString name = QStringLiteral("run0001-0002.dat");
    m.imageFile = name;
    const QByteArray json = imagemeta::toJson(m);
    QTest::newRow("metadata alone") << name << json << QStringList() << ""
                                    << Keys{{"XBINNING", "2"},
                                            {"YBINNING", "3"},
                                            {"EXPTIME", "1.5"},
                                            {"DATE-OBS", "2026-12-07T17:48:00.250"},
                                            {"CCD-TEMP", "-20.5"},
                                            {"SET-TEMP", "-20"},
                                            {"XPIXSZ", "18"},
                                            {"YPIXSZ", "16.2"},
                                            {"INSTRUME", "MicroLine ? 8300"},
                                            {"IMAGETYP", "Light Frame"},
                                            {"VISULX", ""},
                                            {"BUNIT", "ADU"}};
    QTest::newRow("command line wins")
        << name << json << QStringList{"--bin", "1", "1", "--width", "4", "--height", "3", "--exptime", "200"} << ""
        << Keys{{"XBINNING", "1"}, {"EXPTIME", "0.2"}, {"XPIXSZ", "9"}, {"YPIXSZ", "5.4"}, {"CCD-TEMP", "-20.5"}};

    imagemeta::ImageMetadata unread = m;
    unread.exposureStart = QDateTime();
    unread.atStart = {};
    unread.setPoint.reset();
    unread.cameraModel.reset();
    unread.pixelWidth.reset();
    QTest::newRow("failed readings leave keys out")
        << name << imagemeta::toJson(unread) << QStringList() << ""
        << Keys{{"XBINNING", "2"}, {"EXPTIME", "1.5"}, {"DATE-OBS", ""}, {"CCD-TEMP", ""},
                {"SET-TEMP", ""},  {"INSTRUME", ""},   {"XPIXSZ", ""},   {"YPIXSZ", "16.2"}};

    const Keys none{{"XBINNING", ""}, {"EXPTIME", ""}, {"DATE-OBS", ""}, {"IMAGETYP", ""}, {"CCD-TEMP", ""}};
    const QStringList size{"--width", "4", "--height", "3"};
    QTest::newRow("broken metadata: options used")
        << name << json.left(40) << size << "run0001-0002.dat.json: not JSON" << none;
    imagemeta::ImageMetadata wider = m;
    wider.width = 5;
    QTest::newRow("metadata of another size: options used")
        << name << imagemeta::toJson(wider) << size
        << "does not fit run0001-0002.dat: size is 24 bytes, expected 30 bytes for 5 x 3 pixels; metadata ignored"
        << none;
}

void tst_RawConv::fitsRoundTrip()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, json);
    QFETCH(QStringList, args);
    QFETCH(QString, errPart);
    QFETCH(Keys, keys);
    // Every width here is 4 and every height 3; the values probe the BZERO
    // offset and both ends of the range.
    const Pixels raw{0, 1, 32767, 32768, 32769, 65534, 65535, 1000, 2, 40000, 12345, 54321};
    QTemporaryDir dir;
    writeRaw(dir.filePath(name), raw);
    if (!json.isEmpty()) {
        QFile file(imagemeta::fileNameFor(dir.filePath(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
    }
    QString err;
    QCOMPARE(convert(QStringList{"--fits", dir.filePath(name)} + args, &err), 0);
    QVERIFY2(errPart.isEmpty() ? err.isEmpty() : err.contains(errPart), qPrintable(err));
    const QString fitsPath = dir.filePath(name.left(name.lastIndexOf(QLatin1Char('.'))) + ".fits");

    fitsfile* f = nullptr;
    int status = 0;
    QVERIFY2(fits_open_diskfile(&f, QFile::encodeName(fitsPath).constData(), READONLY, &status) == 0, qPrintable(err));
    auto closer = qScopeGuard([&] {
        int s = 0;
        fits_close_file(f, &s);
    });
    int bitpix = 0;
    int naxis = 0;
    long axes[2] = {};
    fits_get_img_param(f, 2, &bitpix, &naxis, axes, &status);
    int equivalent = 0;
    fits_get_img_equivtype(f, &equivalent, &status);
    QCOMPARE(status, 0);
    QCOMPARE(bitpix, 16);
    QCOMPARE(equivalent, USHORT_IMG);
    QCOMPARE(naxis, 2);
    QCOMPARE(axes[0], 4L);
    QCOMPARE(axes[1], 3L);

    Pixels back(raw.size());
    int anyNull = 0;
    fits_read_img(f, TUSHORT, 1, LONGLONG(back.size()), nullptr, back.data(), &anyNull, &status);
    QCOMPARE(status, 0);
    QCOMPARE(back, raw);
    long bzero = 0;
    fits_read_key(f, TLONG, "BZERO", &bzero, nullptr, &status);
    QCOMPARE(bzero, 32768L);

    keys.insert(QStringLiteral("ORIGFILE"), name);
    compareKeys(f, keys);
    if (QTest::currentTestFailed())
        return;

    char text[FLEN_VALUE] = {};
    status = 0;
    fits_read_key(f, TSTRING, "DATE", text, nullptr, &status);
    QVERIFY(QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).isValid());
    fits_read_key(f, TSTRING, "CREATOR", text, nullptr, &status);
    QVERIFY(QString::fromLatin1(text).startsWith(QStringLiteral("starscam-rawconv")));
    QCOMPARE(status, 0);
}

void tst_RawConv::pairsMetadataWithItsImage_data()
{
    QTest::addColumn<QStringList>("files"); // "<metadata file>:<imageFile it names>"
    QTest::addColumn<QString>("errPart");   // empty: nothing on stderr
    QTest::addColumn<QString>("exptime");   // "" when no metadata was used

    QTest::newRow("its own") << QStringList{"a-0000.dat.json:a-0000.dat"} << ""
                             << "1.5";
    QTest::newRow("another image's") << QStringList{"a-0000.dat.json:a-0000.raw"}
                                     << "describes \"a-0000.raw\", not a-0000.dat; metadata ignored"
                                     << "";
    // Written by earlier releases: used only when it names this image.
    QTest::newRow("old name, its own") << QStringList{"a-0000.json:a-0000.dat"} << ""
                                       << "1.5";
    QTest::newRow("old name, another image's")
        << QStringList{"a-0000.json:a-0000.raw"} << "a-0000.json: describes \"a-0000.raw\""
        << "";
    QTest::newRow("old name of an alternative")
        << QStringList{"a-0000.json:a-0000_1.dat"} << "describes \"a-0000_1.dat\", not a-0000.dat"
        << "";
    QTest::newRow("new name wins") << QStringList{"a-0000.dat.json:a-0000.dat", "a-0000.json:a-0000.raw"} << ""
                                   << "1.5";
}

void tst_RawConv::pairsMetadataWithItsImage()
{
    QFETCH(QStringList, files);
    QFETCH(QString, errPart);
    QFETCH(QString, exptime);

    QTemporaryDir dir;
    writeRaw(dir.filePath("a-0000.dat"), Pixels(12, 7));
    imagemeta::ImageMetadata m;
    m.exposureTimeMs = 1500;
    m.width = 4;
    m.height = 3;
    for (const QString& file : files) {
        m.imageFile = file.section(':', 1);
        QFile json(dir.filePath(file.section(':', 0, 0)));
        QVERIFY(json.open(QIODevice::WriteOnly));
        json.write(imagemeta::toJson(m));
    }
    QString err;
    QCOMPARE(convert({"--fits", "--width", "4", "--height", "3", dir.filePath("a-0000.dat")}, &err), 0);
    QVERIFY2(errPart.isEmpty() ? err.isEmpty() : err.contains(errPart), qPrintable(err));
    fitsfile* f = nullptr;
    int status = 0;
    QCOMPARE(fits_open_diskfile(&f, QFile::encodeName(dir.filePath("a-0000.fits")).constData(), READONLY, &status), 0);
    compareKeys(f, Keys{{"EXPTIME", exptime}, {"ORIGFILE", "a-0000.dat"}});
    fits_close_file(f, &status);
}

void tst_RawConv::directory_data()
{
    QTest::addColumn<bool>("outDir");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("next to the inputs") << false << ".dat";
    QTest::newRow("into --out") << true << ".dat";
    QTest::newRow("another suffix") << false << "raw";
}

void tst_RawConv::directory()
{
    QFETCH(bool, outDir);
    QFETCH(QString, suffix);
    const QString ext = suffix.startsWith(QLatin1Char('.')) ? suffix : "." + suffix;
    QTemporaryDir dir;
    const Pixels pixels = ramp(12);
    writeRaw(dir.filePath("a" + ext), pixels);
    writeRaw(dir.filePath("b" + ext), pixels);
    writeRaw(dir.filePath("note.txt"), pixels);
    writeRaw(dir.filePath(".hidden" + ext), pixels);
    writeRaw(dir.filePath("short" + ext), Pixels(5, 0)); // wrong size, the others still go through
    QVERIFY(QDir(dir.path()).mkdir("sub" + ext));
    const QString out = outDir ? dir.filePath(QStringLiteral("out/png")) : dir.path();

    QStringList args{"--png", "--width", "4", "--height", "3", "--suffix", suffix, dir.path()};
    if (outDir)
        args << "--out" << out;
    QString err;
    QCOMPARE(convert(args, &err), int(RawConverter::BadInput));
    QVERIFY2(err.contains("short" + ext) && err.count(QLatin1Char('\n')) == 1, qPrintable(err));

    QStringList made = QDir(out).entryList({"*.png"}, QDir::Files | QDir::Hidden, QDir::Name);
    QCOMPARE(made, (QStringList{"a.png", "b.png"}));
    if (outDir)
        QVERIFY(QDir(dir.path()).entryList({"*.png"}).isEmpty());
}

void tst_RawConv::neverOverwrites_data()
{
    QTest::addColumn<QStringList>("inputs");  // raw files made with 4 x 3 pixels
    QTest::addColumn<QStringList>("present"); // files there beforehand, holding "keep"
    QTest::addColumn<bool>("force");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("kept");    // must still hold "keep"
    QTest::addColumn<QStringList>("written"); // must be new, valid output

    QTest::newRow("existing png kept, fits still made")
        << QStringList{"a.dat"} << QStringList{"a.png"} << false << 1 << QStringList{"a.png"} << QStringList{"a.fits"};
    QTest::newRow("--force replaces") << QStringList{"a.dat"} << QStringList{"a.png", "a.fits"} << true << 0
                                      << QStringList() << QStringList{"a.png", "a.fits"};
    QTest::newRow("two inputs, one output") << QStringList{"a.dat", "a.raw"} << QStringList() << true << 1
                                            << QStringList() << QStringList{"a.png", "a.fits"};
    QTest::newRow("input is its own output")
        << QStringList{"x.png"} << QStringList() << true << 1 << QStringList() << QStringList{"x.fits"};
}

void tst_RawConv::neverOverwrites()
{
    QFETCH(QStringList, inputs);
    QFETCH(QStringList, present);
    QFETCH(bool, force);
    QFETCH(int, status);
    QFETCH(QStringList, kept);
    QFETCH(QStringList, written);
    QTemporaryDir dir;
    QStringList args{"--png", "--fits", "--width", "4", "--height", "3"};
    if (force)
        args << "--force";
    for (const QString& name : inputs) {
        writeRaw(dir.filePath(name), ramp(12));
        args << dir.filePath(name);
    }
    for (const QString& name : present) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep");
    }
    const QByteArray inputBefore = readAll(dir.filePath(inputs.constFirst()));

    QString err;
    QCOMPARE(convert(args, &err), status);
    for (const QString& name : kept)
        QCOMPARE(readAll(dir.filePath(name)), QByteArray("keep"));
    for (const QString& name : written) {
        const QByteArray bytes = readAll(dir.filePath(name));
        QVERIFY2(bytes.startsWith("SIMPLE") || bytes.startsWith("\x89PNG"), qPrintable(name + ": " + err));
    }
    QCOMPARE(readAll(dir.filePath(inputs.constFirst())), inputBefore);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size()
            == inputs.size() + kept.size() + written.size()); // no temporary files left behind
}

void tst_RawConv::program_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("stderrPart");
    QTest::newRow("help") << QStringList{"--help"} << 0 << "";
    QTest::newRow("bad option") << QStringList{"--png", "--bin", "2"} << 2 << "--bin needs 2";
    // 12 pixels (24 bytes) against the simulator's full frame.
    QTest::newRow("size mismatch") << QStringList{"--png", "@"} << 2
                                   << "size is 24 bytes, expected 3145728 bytes for 1536 x 1024 pixels";
    QTest::newRow("missing file") << QStringList{"--png", "@/nothing.dat"} << 1 << "no such file";
    QTest::newRow("converted") << QStringList{"--png", "--width", "6", "--height", "2", "@"} << 0 << "";
}

void tst_RawConv::program()
{
    QFETCH(QStringList, args);
    QFETCH(int, status);
    QFETCH(QString, stderrPart);
    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("img.dat"));
    writeRaw(raw, ramp(12));
    for (QString& a : args)
        a.replace(QLatin1Char('@'), raw);

    QProcess p;
    p.start(QStringLiteral(RAWCONV_BIN), args);
    QVERIFY(p.waitForFinished(30000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == status, qPrintable(err));
    QVERIFY2(err.contains(stderrPart), qPrintable(err));
    if (status == 0 && args.constFirst() != QLatin1String("--help"))
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("img.png"))));
}

QTEST_GUILESS_MAIN(tst_RawConv)
#include "tst_rawconv.moc"
