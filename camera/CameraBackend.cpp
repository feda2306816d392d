#include "CameraBackend.h"
#include "SimCamera.h"

#include "FliLibrary.h"
#include "NoCameraLibrary.h"

#include <QDebug>

namespace camlib {

std::unique_ptr<CameraLibrary> createCameraLibrary(const QMap<QString, QString>& config)
{
    QString name = config.value(QStringLiteral("CAMERA_LIBRARY")).trimmed();
    const bool named = !name.isEmpty();
    if (!named)
        name = defaultCameraLibrary();
    // One plain line, so an operator sees at once whether a camera or the
    // simulator answers.
    const QString origin = named ? QString() : QStringLiteral(" (CAMERA_LIBRARY not set)");
    if (name.compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0) {
        qDebug().noquote() << QStringLiteral("camera backend: simulated camera%1").arg(origin);
        return createSimulator(config);
    }
    if (name.compare(QLatin1String("fli"), Qt::CaseInsensitive) == 0) {
        qDebug().noquote() << QStringLiteral("camera backend: the camera maker's SDK%1").arg(origin);
        // FLI_LIBRARY names another build or place of the SDK (a soname or a path).
        auto sdk = std::make_unique<FliLibrary>(config.value(QStringLiteral("FLI_LIBRARY")).trimmed());
        if (!sdk->isLoaded())
            qDebug().noquote() << QStringLiteral("No camera without the SDK: install the Debian package libfli2, or "
                                                 "set CAMERA_LIBRARY sim in config.cfg for the simulated camera");
        return sdk;
    }
    qDebug().noquote() << QStringLiteral("Unknown CAMERA_LIBRARY \"%1\": no camera").arg(name);
    qDebug().noquote() << QStringLiteral("camera backend: none");
    return std::make_unique<NoCameraLibrary>();
}

QString defaultCameraLibrary()
{
    // A camera host must never get synthetic images by leaving the key out:
    // the simulator runs only when the configuration asks for it.
    return QStringLiteral("fli");
}

} // namespace camlib
