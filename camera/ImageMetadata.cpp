#include "ImageMetadata.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <climits>
#include <cmath>

namespace imagemeta {

namespace {

// Every key with its field, in the order of the file. Writer and reader both
// walk this one list, so they cannot disagree about names or order.
template <typename M, typename Visit> void forEachField(M& m, Visit&& visit)
{
    visit("imageFile", m.imageFile);
    visit("exposureStart", m.exposureStart);
    visit("exposureEnd", m.exposureEnd);
    visit("exposureTimeMs", m.exposureTimeMs);
    visit("frameTypeCode", m.frameType); // the writer puts the name ("frameType") before it
    visit("hbin", m.hbin);
    visit("vbin", m.vbin);
    visit("areaUlX", m.areaUlX);
    visit("areaUlY", m.areaUlY);
    visit("areaLrX", m.areaLrX);
    visit("areaLrY", m.areaLrY);
    visit("width", m.width);
    visit("height", m.height);
    visit("ccdTemperatureStart", m.atStart.ccdTemperature);
    visit("baseTemperatureStart", m.atStart.baseTemperature);
    visit("coolerPowerStart", m.atStart.coolerPower);
    visit("ccdTemperatureEnd", m.atEnd.ccdTemperature);
    visit("baseTemperatureEnd", m.atEnd.baseTemperature);
    visit("coolerPowerEnd", m.atEnd.coolerPower);
    visit("setPoint", m.setPoint);
    visit("cameraModel", m.cameraModel);
    visit("serialNumber", m.serialNumber);
    visit("libraryVersion", m.libraryVersion);
    visit("pixelWidth", m.pixelWidth);
    visit("pixelHeight", m.pixelHeight);
    visit("nodeName", m.nodeName);
    visit("sequenceNumber", m.sequenceNumber);
    visit("pictureNumber", m.pictureNumber);
    visit("serviceName", m.serviceName);
    visit("serviceVersion", m.serviceVersion);
}

const QByteArray Null = QByteArrayLiteral("null");

// A JSON string; text outside ASCII stays UTF-8, only what JSON requires is escaped.
QByteArray quoted(const QString& text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20)
                out += QByteArray("\\u00") + QByteArray::number(int(c), 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    return out + '"';
}

struct Writer
{
    QByteArray out;

    void add(const char* key, const QByteArray& value)
    {
        out += out.isEmpty() ? "{\n  \"" : ",\n  \"";
        out += key;
        out += "\": ";
        out += value;
    }
    void operator()(const char* key, const QString& v) { add(key, quoted(v)); }
    void operator()(const char* key, const std::optional<QString>& v) { add(key, v ? quoted(*v) : Null); }
    void operator()(const char* key, const QDateTime& v)
    {
        add(key, v.isValid() ? quoted(v.toUTC().toString(Qt::ISODateWithMs)) : Null);
    }
    void operator()(const char* key, int v)
    {
        if (qstrcmp(key, "frameTypeCode") == 0)
            add("frameType", quoted(frameTypeName(v)));
        add(key, QByteArray::number(v));
    }
    void operator()(const char* key, const std::optional<int>& v) { add(key, v ? QByteArray::number(*v) : Null); }
    void operator()(const char* key, const std::optional<double>& v)
    {
        // QByteArray::number never uses the locale.
        const bool finite = v && std::isfinite(*v);
        add(key, finite ? QByteArray::number(*v, 'g', QLocale::FloatingPointShortest) : Null);
    }
};

struct Reader
{
    const QJsonObject& object;
    QString error;

    // The value of key; false (error set) when it is missing or null and required.
    bool present(const char* key, bool required, QJsonValue& value)
    {
        value = object.value(QLatin1String(key));
        if (!value.isNull() && !value.isUndefined())
            return true;
        if (required && error.isEmpty())
            error = QStringLiteral("\"%1\" is missing").arg(QLatin1String(key));
        return false;
    }
    void wrongType(const char* key, const char* expected)
    {
        if (error.isEmpty())
            error = QStringLiteral("\"%1\" is not %2").arg(QLatin1String(key), QLatin1String(expected));
    }
    bool toInt(const char* key, const QJsonValue& value, int& out)
    {
        const double d = value.toDouble(std::nan(""));
        if (!value.isDouble() || d != std::trunc(d) || d < INT_MIN || d > INT_MAX) {
            wrongType(key, "a whole number");
            return false;
        }
        out = int(d);
        return true;
    }

    void operator()(const char* key, QString& v)
    {
        QJsonValue value;
        if (present(key, true, value) && !value.isString())
            wrongType(key, "a text");
        v = value.toString();
    }
    void operator()(const char* key, std::optional<QString>& v)
    {
        QJsonValue value;
        v.reset();
        if (present(key, false, value)) {
            if (value.isString())
                v = value.toString();
            else
                wrongType(key, "a text or null");
        }
    }
    void operator()(const char* key, QDateTime& v)
    {
        QJsonValue value;
        v = QDateTime();
        if (present(key, false, value)) {
            v = QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
            if (!v.isValid())
                wrongType(key, "an ISO 8601 time or null");
        }
    }
    void operator()(const char* key, int& v)
    {
        QJsonValue value;
        if (present(key, true, value))
            toInt(key, value, v);
    }
    void operator()(const char* key, std::optional<int>& v)
    {
        QJsonValue value;
        v.reset();
        int i = 0;
        if (present(key, false, value) && toInt(key, value, i))
            v = i;
    }
    void operator()(const char* key, std::optional<double>& v)
    {
        QJsonValue value;
        v.reset();
        if (present(key, false, value)) {
            if (value.isDouble())
                v = value.toDouble();
            else
                wrongType(key, "a number or null");
        }
    }
};

} // namespace

QString frameTypeName(int frameType)
{
    switch (frameType) {
    case 0:
        return QStringLiteral("normal");
    case 1:
        return QStringLiteral("dark");
    case 2:
        return QStringLiteral("flood");
    case 3:
        return QStringLiteral("rbi flush");
    default:
        return QStringLiteral("unknown");
    }
}

QByteArray toJson(const ImageMetadata& metadata)
{
    Writer writer;
    forEachField(metadata, writer);
    return writer.out + "\n}\n";
}

bool fromJson(const QByteArray& json, ImageMetadata& metadata, QString& error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("not JSON: %1 at byte %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!document.isObject()) {
        error = QStringLiteral("not a JSON object");
        return false;
    }
    const QJsonObject object = document.object();
    Reader reader{object, QString()};
    forEachField(metadata, reader);
    if (reader.error.isEmpty() && (metadata.hbin < 1 || metadata.vbin < 1))
        reader.error = QStringLiteral("binning %1 x %2 is below 1").arg(metadata.hbin).arg(metadata.vbin);
    if (reader.error.isEmpty() && (metadata.width < 0 || metadata.height < 0))
        reader.error = QStringLiteral("size %1 x %2 is negative").arg(metadata.width).arg(metadata.height);
    error = reader.error;
    return error.isEmpty();
}

QString fileNameFor(const QString& imageFileName)
{
    return imageFileName + QStringLiteral(".json");
}

QString legacyFileNameFor(const QString& imageFileName)
{
    const int slash = imageFileName.lastIndexOf(QLatin1Char('/'));
    const int dot = imageFileName.lastIndexOf(QLatin1Char('.'));
    // A dot opening the last component (".hidden") starts no suffix.
    const QString base = dot > slash + 1 ? imageFileName.left(dot) : imageFileName;
    const QString name = base + QStringLiteral(".json");
    return name == imageFileName ? imageFileName + QStringLiteral(".json") : name;
}

} // namespace imagemeta
