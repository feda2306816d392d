#include "SimSettings.h"

#include <QDebug>

namespace camlib {

namespace {

// Reads an integer within [low, high] into `target` when the key is present.
void readInt(const QMap<QString, QString>& config, const QString& key, int low, int high, int& target)
{
    if (!config.contains(key))
        return;
    const QString value = config.value(key).trimmed();
    bool ok = false;
    const int number = value.toInt(&ok, 10);
    if (ok && number >= low && number <= high)
        target = number;
    else
        SimSettings::notUnderstood(key, value, QString::number(target));
}

} // namespace

void SimSettings::notUnderstood(const QString& key, const QString& value, const QString& kept)
{
    qDebug().noquote() << QStringLiteral("%1 \"%2\" not understood, keeping %3").arg(key, value, kept);
}

SimSettings SimSettings::fromConfig(const QMap<QString, QString>& config)
{
    SimSettings s;
    readInt(config, QStringLiteral("SIM_CAMERAS"), 0, MaxCameras, s.cameras);
    readInt(config, QStringLiteral("SIM_WIDTH"), MinSize, MaxSize, s.width);
    readInt(config, QStringLiteral("SIM_HEIGHT"), MinSize, MaxSize, s.height);
    readInt(config, QStringLiteral("SIM_ROW_US"), 0, MaxRowMicroseconds, s.rowMicroseconds);
    readInt(config, QStringLiteral("SIM_COOLER_TAU_MS"), 1, MaxCoolerTauMs, s.coolerTauMs);

    const QString unknownKey = QStringLiteral("SIM_STATUS_UNKNOWN");
    if (config.contains(unknownKey)) {
        const QString value = config.value(unknownKey).trimmed().toLower();
        if (value == QLatin1String("1") || value == QLatin1String("yes") || value == QLatin1String("true")
            || value == QLatin1String("on"))
            s.statusUnknown = true;
        else if (value == QLatin1String("0") || value == QLatin1String("no") || value == QLatin1String("false")
                 || value == QLatin1String("off"))
            s.statusUnknown = false;
        else
            notUnderstood(unknownKey, config.value(unknownKey), QStringLiteral("0"));
    }

    const QString seedKey = QStringLiteral("SIM_SEED");
    if (config.contains(seedKey)) {
        bool ok = false;
        const quint64 seed = config.value(seedKey).trimmed().toULongLong(&ok, 0);
        if (ok)
            s.seed = seed;
        else
            notUnderstood(seedKey, config.value(seedKey), QString::number(s.seed));
    }

    const QString ambientKey = QStringLiteral("SIM_AMBIENT");
    if (config.contains(ambientKey)) {
        bool ok = false;
        const double ambient = config.value(ambientKey).trimmed().toDouble(&ok);
        // The comparison also turns away NaN.
        if (ok && ambient >= MinAmbient && ambient <= MaxAmbient)
            s.ambient = ambient;
        else
            notUnderstood(ambientKey, config.value(ambientKey), QString::number(s.ambient));
    }

    return s;
}

} // namespace camlib
