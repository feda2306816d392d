#include "ImageMetadata.h"

#include <QtTest>

#include <climits>

using imagemeta::ImageMetadata;
Q_DECLARE_METATYPE(ImageMetadata)

namespace {

QDateTime utc(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toUTC();
}

// A main image with every field known.
ImageMetadata full()
{
    ImageMetadata m;
    m.imageFile = QStringLiteral("DefaultFileName0000-0000_1.dat");
    m.exposureStart = utc("2026-12-07T17:48:00.250Z");
    m.exposureEnd = utc("2026-12-07T17:48:01.750Z");
    m.exposureTimeMs = 1500;
    m.hbin = 2;
    m.vbin = 3;
    m.areaUlX = 14;
    m.areaUlY = 4;
    m.areaLrX = 782;
    m.areaLrY = 345;
    m.width = 768;
    m.height = 341;
    m.atStart = {-20.5, 15.25, 42.1};
    m.atEnd = {-20.437, std::nullopt, 43.0};
    m.setPoint = -20.0;
    m.cameraModel = QStringLiteral("MicroLine \u00b5 \u2013 8300");
    m.serialNumber = QStringLiteral("ML0123");
    m.libraryVersion = QStringLiteral("Software Development Library 1.104");
    m.pixelWidth = 9e-06;
    m.pixelHeight = 5.4e-06;
    m.nodeName = QStringLiteral("cam1");
    m.sequenceNumber = 0;
    m.pictureNumber = 0;
    m.serviceName = QStringLiteral("starscam");
    m.serviceVersion = QStringLiteral("0.1");
    return m;
}

} // namespace

class tst_ImageMetadata : public QObject
{
    Q_OBJECT

private slots:
    void writesFixedLayout();
    void roundTrip_data();
    void roundTrip();
    void refuses_data();
    void refuses();
    void fileName_data();
    void fileName();
};

// The whole file for one image: key order, number forms, null, UTF-8 and
// the escapes. A German default locale must not change a decimal point.
void tst_ImageMetadata::writesFixedLayout()
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto restore = qScopeGuard([] { QLocale::setDefault(QLocale::c()); });
    ImageMetadata m = full();
    m.imageFile = QStringLiteral("a\"b\\c\u0001.dat");
    m.sequenceNumber.reset();
    const QByteArray expected = "{\n"
                                "  \"imageFile\": \"a\\\"b\\\\c\\u0001.dat\",\n"
                                "  \"exposureStart\": \"2026-12-07T17:48:00.250Z\",\n"
                                "  \"exposureEnd\": \"2026-12-07T17:48:01.750Z\",\n"
                                "  \"exposureTimeMs\": 1500,\n"
                                "  \"frameType\": \"normal\",\n"
                                "  \"frameTypeCode\": 0,\n"
                                "  \"hbin\": 2,\n"
                                "  \"vbin\": 3,\n"
                                "  \"areaUlX\": 14,\n"
                                "  \"areaUlY\": 4,\n"
                                "  \"areaLrX\": 782,\n"
                                "  \"areaLrY\": 345,\n"
                                "  \"width\": 768,\n"
                                "  \"height\": 341,\n"
                                "  \"ccdTemperatureStart\": -20.5,\n"
                                "  \"baseTemperatureStart\": 15.25,\n"
                                "  \"coolerPowerStart\": 42.1,\n"
                                "  \"ccdTemperatureEnd\": -20.437,\n"
                                "  \"baseTemperatureEnd\": null,\n"
                                "  \"coolerPowerEnd\": 43,\n"
                                "  \"setPoint\": -20,\n"
                                "  \"cameraModel\": \"MicroLine \xc2\xb5 \xe2\x80\x93 8300\",\n"
                                "  \"serialNumber\": \"ML0123\",\n"
                                "  \"libraryVersion\": \"Software Development Library 1.104\",\n"
                                "  \"pixelWidth\": 9e-06,\n"
                                "  \"pixelHeight\": 5.4e-06,\n"
                                "  \"nodeName\": \"cam1\",\n"
                                "  \"sequenceNumber\": null,\n"
                                "  \"pictureNumber\": 0,\n"
                                "  \"serviceName\": \"starscam\",\n"
                                "  \"serviceVersion\": \"0.1\"\n"
                                "}\n";
    QCOMPARE(imagemeta::toJson(m), expected);
}

void tst_ImageMetadata::roundTrip_data()
{
    QTest::addColumn<ImageMetadata>("metadata");
    QTest::newRow("everything known") << full();
    QTest::newRow("every reading failed") << ImageMetadata();

    ImageMetadata odd = full();
    odd.atStart = {0.1 + 0.2, 0.0, 1e-300};
    odd.atEnd = {-273.15, 1.0 / 3.0, 100.0};
    odd.exposureTimeMs = INT_MAX;
    odd.areaUlX = INT_MIN;
    odd.frameType = 3;
    odd.sequenceNumber = 12345;
    odd.pictureNumber = 9999;
    odd.cameraModel = QStringLiteral("tab\there, line\nnext, \u00e9\u00df\u6f22");
    odd.serialNumber = QString(); // empty text, not unknown
    // Another zone on input comes back as the same instant in UTC.
    odd.exposureStart = QDateTime(QDate(2026, 1, 1), QTime(1, 2, 3, 4), Qt::OffsetFromUTC, 3600);
    QTest::newRow("awkward values") << odd;
}

void tst_ImageMetadata::roundTrip()
{
    QFETCH(ImageMetadata, metadata);
    const QByteArray json = imagemeta::toJson(metadata);
    ImageMetadata back;
    QString error;
    QVERIFY2(imagemeta::fromJson(json, back, error), qPrintable(error));
    QCOMPARE(imagemeta::toJson(back), json);
    // The same instant, told in UTC.
    QCOMPARE(back.exposureStart, metadata.exposureStart);
    QCOMPARE(back.exposureStart.timeSpec(), metadata.exposureStart.isValid() ? Qt::UTC : Qt::LocalTime);
}

void tst_ImageMetadata::refuses_data()
{
    QTest::addColumn<QByteArray>("from"); // replaced in the full example's text
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("error"); // part of the message

    QTest::newRow("cut short") << QByteArray("\"serviceVersion\": \"0.1\"\n}") << QByteArray("\"serviceVersion\"")
                               << "not JSON";
    QTest::newRow("required key missing")
        << QByteArray("\"hbin\"") << QByteArray("\"hbinning\"") << "\"hbin\" is missing";
    QTest::newRow("fraction") << QByteArray("\"vbin\": 3") << QByteArray("\"vbin\": 3.5") << "\"vbin\" is not";
    QTest::newRow("beyond int") << QByteArray("\"pictureNumber\": 0") << QByteArray("\"pictureNumber\": 3e9")
                                << "\"pictureNumber\" is not";
    QTest::newRow("zero binning") << QByteArray("\"vbin\": 3") << QByteArray("\"vbin\": 0") << "below 1";
    QTest::newRow("negative size") << QByteArray("\"width\": 768") << QByteArray("\"width\": -1") << "negative";
    QTest::newRow("bad time") << QByteArray("2026-12-07T17:48:00.250Z") << QByteArray("yesterday")
                              << "\"exposureStart\" is not";
    QTest::newRow("reading of the wrong type")
        << QByteArray("\"setPoint\": -20") << QByteArray("\"setPoint\": \"-20\"") << "\"setPoint\" is not";
}

void tst_ImageMetadata::refuses()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, error);
    QByteArray json = imagemeta::toJson(full());
    QVERIFY(json.contains(from));
    json.replace(from, to);
    ImageMetadata m;
    QString message;
    QVERIFY(!imagemeta::fromJson(json, m, message));
    QVERIFY2(message.contains(error), qPrintable(message));
}

void tst_ImageMetadata::fileName_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("metadata");
    QTest::newRow("suffix replaced") << "DefaultFileName0000-0000.dat"
                                     << "DefaultFileName0000-0000.json";
    QTest::newRow("alternative name") << "DefaultFileName0000-0000_1.dat"
                                      << "DefaultFileName0000-0000_1.json";
    QTest::newRow("no dot") << "frame0000-0000"
                            << "frame0000-0000.json";
    QTest::newRow("trailing dot") << "frame0000-0000."
                                  << "frame0000-0000.json";
    QTest::newRow("path kept") << "/srv/img/a0001-0002.dat"
                               << "/srv/img/a0001-0002.json";
    QTest::newRow("dot in a directory only") << "img.d/frame"
                                             << "img.d/frame.json";
    QTest::newRow("leading dot is no suffix") << "dir/.hidden"
                                              << "dir/.hidden.json";
    QTest::newRow("image ending in .json") << "x0000-0000.json"
                                           << "x0000-0000.json.json";
}

void tst_ImageMetadata::fileName()
{
    QFETCH(QString, image);
    QFETCH(QString, metadata);
    QCOMPARE(imagemeta::legacyFileNameFor(image), metadata);
}

QTEST_GUILESS_MAIN(tst_ImageMetadata)
#include "tst_imagemetadata.moc"
