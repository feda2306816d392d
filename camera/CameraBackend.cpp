#include "CameraBackend.h"

#include "FaultInjectingLibrary.h"
#include "FliLibrary.h"
#include "NoCameraLibrary.h"
#include "SimCamera.h"

#include <QDebug>

namespace camlib {

std::unique_ptr<CameraLibrary> createCameraLibrary(const QMap<QString, QString>& config)
{
    QString name = config.value(QStringLiteral("CAMERA_LIBRARY")).trimmed();
    if (name.isEmpty())
        name = defaultCameraLibrary();
    if (name.compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0)
        return createSimulator(config);
    if (name.compare(QLatin1String("fli"), Qt::CaseInsensitive) == 0) {
        // FLI_LIBRARY names another build or place of the SDK (a soname or a path).
        return std::make_unique<FliLibrary>(config.value(QStringLiteral("FLI_LIBRARY")).trimmed());
    }
    qDebug().noquote() << QStringLiteral("Unknown CAMERA_LIBRARY \"%1\": no camera").arg(name);
    return std::make_unique<NoCameraLibrary>();
}

QString defaultCameraLibrary()
{
    return QStringLiteral("sim");
}

std::unique_ptr<CameraLibrary> createSimulator(const QMap<QString, QString>& config)
{
    const SimSettings settings = SimSettings::fromConfig(config);
    qDebug().noquote() << QStringLiteral("camera library: simulator, %1 camera(s) of %2 x %3 pixels")
                              .arg(settings.cameras)
                              .arg(settings.width)
                              .arg(settings.height);
    auto simulator = std::make_unique<SimCamera>(settings);
    if (const std::optional<FaultSettings> faults = FaultSettings::fromConfig(config))
        return std::make_unique<FaultInjectingLibrary>(std::move(simulator), *faults);
    return simulator;
}

} // namespace camlib
