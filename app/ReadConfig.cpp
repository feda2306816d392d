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
        // A FIFO, a directory or a huge file is not read, like a missing one.
        qDebug() << "Unreadable configuration file" << name << reason;
        qDebug() << QStringLiteral("Can not open [%1]").arg(name);
        const QFileInfo file(name);
        configUnreadable = file.exists();
        if (configUnreadable)
            qDebug().noquote() << QStringLiteral("Configuration error: %1 cannot be read (%2): make it a readable "
                                                 "regular file (chmod 0644) and start the service again")
                                      .arg(file.absoluteFilePath(), reason);
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
    // SEQ_FILE_NO_CONTINUE 1: sequence numbers go on after the images already stored.
    options.continueSeqFileNo = configInt(config, QStringLiteral("SEQ_FILE_NO_CONTINUE"), 0, 0, 1) == 1;
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

QString Body::configMistake(const QMap<QString, QString>& config)
{
    const QString file = QFileInfo(QStringLiteral("config.cfg")).absoluteFilePath();
    const QString ip = config.value(QStringLiteral("STARS_IP"));
    if (ip.isEmpty())
        return QStringLiteral("Configuration error: %1 names no STARS server: add a line \"STARS_IP <host>\" with "
                              "the server's host name or address")
            .arg(file);
    const auto port = config.constFind(QStringLiteral("STARS_PORT"));
    if (port == config.constEnd() || port.value().isEmpty())
        return QStringLiteral("Configuration error: %1 names no STARS server port: add a line \"STARS_PORT <port>\" "
                              "(the server's usual port is 6057)")
            .arg(file);
    if (quint16(port.value().toInt()) == 0)
        return QStringLiteral("Configuration error: STARS_PORT \"%1\" in %2 is no port number: give the server's "
                              "TCP port (usually 6057)")
            .arg(port.value(), file);
    return QString();
}
