#include "Body.h"

#include "ConfigKeys.h"
#include "ConfigLines.h"
#include "SmallFile.h"
#include "Version.h"
#include "tarn.h"

#include <QDebug>
#include <QFileInfo>

#include <cmath>

bool Body::ReadConfig()
{
    const QString name = QStringLiteral("config.cfg");
    QByteArray bytes;
    QString reason;
    if (!readSmallFile(name, bytes, reason)) {
        // A FIFO, a directory or a huge file is treated as a missing one.
        qDebug() << "Unreadable configuration file" << name << reason;
        qDebug() << QStringLiteral("Can not open [%1]").arg(name);
        return false;
    }
    readConfigText(bytes, configMap);
    logUnknownKeys(configMap);
    return true;
}

void Body::logUnknownKeys(const QMap<QString, QString>& config)
{
    for (auto it = config.constBegin(); it != config.constEnd(); ++it) {
        if (configkeys::known().contains(it.key()))
            continue;
        const QString guess = configkeys::nearest(it.key());
        if (guess.isEmpty())
            qDebug().noquote() << QStringLiteral("unknown key %1 in config.cfg").arg(it.key());
        else
            qDebug().noquote()
                << QStringLiteral("unknown key %1 in config.cfg (did you mean %2?)").arg(it.key(), guess);
    }
}

TarnOptions Body::tarnOptions(const QMap<QString, QString>& config)
{
    TarnOptions options;

    const auto setPoint = config.constFind(QStringLiteral("START_SET_POINT"));
    if (setPoint != config.constEnd()) {
        bool ok = false;
        const double celsius = setPoint.value().toDouble(&ok);
        if (setPoint.value().compare(QLatin1String("keep"), Qt::CaseInsensitive) == 0)
            options.startUpSetPoint.reset();
        else if (ok && std::isfinite(celsius))
            options.startUpSetPoint = celsius;
        else
            qDebug().noquote() << QStringLiteral("START_SET_POINT \"%1\" is neither degrees C nor keep: %2 is used")
                                      .arg(setPoint.value())
                                      .arg(*options.startUpSetPoint);
    }

    const auto grace = config.constFind(QStringLiteral("EXPOSURE_GRACE_MS"));
    if (grace != config.constEnd()) {
        bool ok = false;
        const int ms = grace.value().toInt(&ok);
        if (ok && ms >= 0)
            options.exposureGraceMs = ms;
        else
            qDebug() << "EXPOSURE_GRACE_MS" << grace.value() << "is no number of milliseconds, keeping"
                     << options.exposureGraceMs;
    }

    // IMAGE_METADATA 0 leaves the images without their metadata files.
    options.imageMetadata = configInt(config, QStringLiteral("IMAGE_METADATA"), 1, 0, 1) == 1;
    options.serviceVersion = QStringLiteral(STARSCAM_VERSION);

    options.imageDir = config.value(QStringLiteral("IMAGE_DIR"));
    if (!options.imageDir.isEmpty()) {
        const QFileInfo dir(options.imageDir);
        if (!dir.isDir())
            qDebug().noquote() << QStringLiteral("IMAGE_DIR \"%1\" is not a directory").arg(options.imageDir);
        else if (!dir.isWritable())
            qDebug().noquote() << QStringLiteral("IMAGE_DIR \"%1\" is not writable").arg(options.imageDir);
    }
    return options;
}

int Body::configInt(const QMap<QString, QString>& map, const QString& key, int fallback, int min, int max)
{
    const auto it = map.constFind(key);
    if (it == map.constEnd())
        return fallback;
    bool ok = false;
    const int value = it.value().toInt(&ok);
    if (ok && value >= min && value <= max)
        return value;
    qDebug() << "Config" << key << it.value() << "is not a whole number from" << min << "to" << max << "; using"
             << fallback;
    return fallback;
}
